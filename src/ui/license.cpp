#include "ui/license.h"
#include <commdlg.h>
#include <richedit.h>
#include "common/boundedtext.h"
#include <vector>
#include "common/handles.h"
#include "common/textcode.h"
#include "common/trace.h"
#include "state/languages.h"
#include "state/pathvar.h"
#include "state/runcontext.h"
#include "res/resource.h"
#include "state/state.h"
#include "ui/msgbox.h"
#include "ui/msgwait.h"

namespace {

const char RTF_SIGNATURE[] = "{\\rtf1\\";
const DWORD RTF_SIGNATURE_LEN = sizeof(RTF_SIGNATURE) - 1;
const int TWIPS_PER_INCH = 1440;
// A plain-text license is read whole; anything past this is cut off.
const DWORD LICENSE_TEXT_MAX_BYTES = 64 * 1024 * 1024;
// A rich edit takes 32,767 characters unless it is given a larger limit.
const LPARAM LICENSE_TEXT_LIMIT = 0x7FFFFFFE;

HANDLE OpenForReading(LPCWSTR szFile)
{
    return CreateFileW(szFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD CALLBACK ReadFileCallback(DWORD_PTR dwCookie, LPBYTE pbBuff, LONG cb, LONG* pcb)
{
    DWORD dwRead = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(dwCookie), pbBuff, static_cast<DWORD>(cb), &dwRead,
                  nullptr))
        return 1;
    *pcb = static_cast<LONG>(dwRead);
    return 0;
}

// UTF-16 text in memory, handed to the control as a stream.
struct TEXTSTREAM {
    const BYTE* pData;
    size_t cbLeft;
};

DWORD CALLBACK ReadTextCallback(DWORD_PTR dwCookie, LPBYTE pbBuff, LONG cb, LONG* pcb)
{
    auto* pStream = reinterpret_cast<TEXTSTREAM*>(dwCookie);
    size_t cbCopy = cb > 0 ? static_cast<size_t>(cb) : 0;
    if (cbCopy > pStream->cbLeft)
        cbCopy = pStream->cbLeft;
    // Whole characters, and no read that ends between CR and LF: the
    // control would take the two halves of that line end for two.
    cbCopy &= ~static_cast<size_t>(1);
    if (cbCopy > sizeof(WCHAR) && cbCopy < pStream->cbLeft &&
        reinterpret_cast<const WCHAR*>(pStream->pData + cbCopy)[-1] == L'\r')
        cbCopy -= sizeof(WCHAR);
    memcpy(pbBuff, pStream->pData, cbCopy);
    pStream->pData += cbCopy;
    pStream->cbLeft -= cbCopy;
    *pcb = static_cast<LONG>(cbCopy);
    return 0;
}

// The whole file, at most LICENSE_TEXT_MAX_BYTES of it.
BOOL ReadWholeFile(HANDLE hFile, std::vector<BYTE>& bytes)
{
    LARGE_INTEGER liSize;
    if (!GetFileSizeEx(hFile, &liSize))
        return FALSE;
    DWORD cbFile = liSize.QuadPart > LICENSE_TEXT_MAX_BYTES
                       ? LICENSE_TEXT_MAX_BYTES
                       : static_cast<DWORD>(liSize.QuadPart);
    bytes.resize(cbFile);
    DWORD cbDone = 0;
    while (cbDone < cbFile) {
        DWORD cbRead = 0;
        if (!ReadFile(hFile, bytes.data() + cbDone, cbFile - cbDone, &cbRead, nullptr))
            return FALSE;
        if (cbRead == 0)
            break;
        cbDone += cbRead;
    }
    bytes.resize(cbDone);
    return TRUE;
}

BOOL StreamRtf(HWND hRichEdit, HANDLE hFile)
{
    EDITSTREAM es = {};
    es.dwCookie = reinterpret_cast<DWORD_PTR>(hFile);
    es.pfnCallback = ReadFileCallback;
    SendMessageW(hRichEdit, EM_STREAMIN, SF_RTF | SF_UNICODE, reinterpret_cast<LPARAM>(&es));
    return es.dwError == 0;
}

BOOL StreamPlainText(HWND hRichEdit, HANDLE hFile, LPCWSTR szFile)
{
    std::vector<BYTE> bytes;
    if (!ReadWholeFile(hFile, bytes)) {
        DebugTrace(L"LoadLicenseText(%s)->ReadFile=%d", szFile, GetLastError());
        return FALSE;
    }
    TEXTENCODING encoding;
    std::vector<WCHAR> text = DecodeText(bytes.data(), bytes.size(), &encoding);
    DebugTrace(L"LoadLicenseText(%s)->Text %s", szFile, TextEncodingName(encoding));
    TEXTSTREAM stream = {reinterpret_cast<const BYTE*>(text.data()), text.size() * sizeof(WCHAR)};
    EDITSTREAM es = {};
    es.dwCookie = reinterpret_cast<DWORD_PTR>(&stream);
    es.pfnCallback = ReadTextCallback;
    SendMessageW(hRichEdit, EM_STREAMIN, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&es));
    return es.dwError == 0;
}

ULONGLONG FileSizeOf(LPCWSTR szFile)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!szFile || !*szFile || !GetFileAttributesExW(szFile, GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

LICENSEDLGPARAM* ParamOf(HWND hDlg)
{
    return reinterpret_cast<LICENSEDLGPARAM*>(GetWindowLongPtrW(hDlg, GWLP_USERDATA));
}

void SetClassIcons(HWND hDlg)
{
    HINSTANCE hInst = GetModuleHandleW(nullptr);
    HICON hSmall = static_cast<HICON>(
        LoadImageW(hInst, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 16, 16, LR_SHARED));
    HICON hLarge = static_cast<HICON>(
        LoadImageW(hInst, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 32, 32, LR_SHARED));
    if (hSmall)
        SendMessageW(hDlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmall));
    if (hLarge)
        SendMessageW(hDlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hLarge));
}

void SetLocalizedText(HWND hDlg, int idControl, UINT idString, const LICENSEDLGPARAM* pParam)
{
    WCHAR szText[TITLE_CCH];
    if (LoadStringEx(pParam->hModule, idString, szText, ARRAYSIZE(szText), pParam->uiLangID))
        SetDlgItemTextW(hDlg, idControl, szText);
}

void SetTitle(HWND hDlg, const LICENSEDLGPARAM* pParam)
{
    // Every "%s" of the title becomes the product name.
    WCHAR szTitle[TITLE_TEXT_CCH];
    if (!LoadStringEx(pParam->hModule, IDS_LICENSE_TITLE, szTitle, TITLE_CCH, pParam->uiLangID))
        return;
    ReplaceAll(szTitle, ARRAYSIZE(szTitle), L"%s", pParam->pCtx->szProductNameShort, 0);
    SetWindowTextW(hDlg, szTitle);
}

void UpdateOkButton(HWND hDlg)
{
    BOOL bAccepted = IsDlgButtonChecked(hDlg, IDC_LICENSE_ACCEPT) == BST_CHECKED;
    EnableWindow(GetDlgItem(hDlg, IDOK), bAccepted);
    if (LICENSEDLGPARAM* pParam = ParamOf(hDlg))
        pParam->bAccepted = bAccepted;
}

// Loads the license text before the dialog shows. A long text takes a
// while to lay out: the wait window, on a thread of its own, keeps telling
// the user that the run goes on. Closing it cancels the run, and with it
// this dialog.
void LoadLicense(HWND hDlg, const LICENSEDLGPARAM* pParam)
{
    LPCWSTR szFile = pParam->pCtx->project.szLicenseFile;
    BOOL bLarge = FileSizeOf(szFile) >= LICENSE_WAIT_BYTES;
    HCURSOR hCursor = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    if (bLarge) {
        WCHAR szTitle[TITLE_CCH] = L"";
        WCHAR szMessage[TITLE_CCH] = L"";
        GetWindowTextW(hDlg, szTitle, ARRAYSIZE(szTitle));
        // Without the string the window waits without a text.
        (void)LoadStringEx(pParam->hModule, IDS_LICENSE_WAIT, szMessage, ARRAYSIZE(szMessage),
                           pParam->uiLangID);
        DebugTrace(L"LicenseProc()->Large license, wait window");
        MsgWaitDlg(pParam->hModule, szTitle, szMessage, 0);
    }
    // A text that can not be read leaves the control empty; it may still
    // be accepted.
    if (!LoadLicenseText(GetDlgItem(hDlg, IDC_LICENSE_TEXT), szFile))
        DebugTrace(L"LicenseProc()->License text not loaded (%s)", szFile);
    if (bLarge)
        MsgWaitDlg(nullptr, nullptr, nullptr, 0);
    SetCursor(hCursor);
    if (bLarge && g_bCancel) {
        DebugTrace(L"LicenseProc()->Cancelled while loading");
        EndDialog(hDlg, IDCANCEL);
    }
}

INT_PTR OnInitDialog(HWND hDlg, LICENSEDLGPARAM* pParam)
{
    SetWindowLongPtrW(hDlg, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pParam));
    SetClassIcons(hDlg);
    SetTitle(hDlg, pParam);
    SetLocalizedText(hDlg, IDC_HEADING, IDS_LICENSE_READ, pParam);
    SetLocalizedText(hDlg, IDC_LICENSE_ACCEPT, IDS_LICENSE_ACCEPT, pParam);
    SetLocalizedText(hDlg, IDC_LICENSE_DECLINE, IDS_LICENSE_DECLINE, pParam);
    LoadLicense(hDlg, pParam);

    ShowWindow(GetDlgItem(hDlg, IDC_BACK), (pParam->dwOptions & LICENSE_OPT_BACK) ? SW_SHOW : SW_HIDE);
    CheckRadioButton(hDlg, IDC_LICENSE_ACCEPT, IDC_LICENSE_DECLINE,
                     pParam->bAccepted ? IDC_LICENSE_ACCEPT : IDC_LICENSE_DECLINE);
    UpdateOkButton(hDlg);
    // The reader starts in the text, at its top; the dialog manager would
    // select the whole text when it gave the focus itself.
    SetFocus(GetDlgItem(hDlg, IDC_LICENSE_TEXT));
    return FALSE;
}

// Prints one range of pages; FALSE when a page fails or no text advances.
BOOL PrintPages(HWND hRichEdit, HDC hdc)
{
    int cxPhys = GetDeviceCaps(hdc, PHYSICALWIDTH);
    int cyPhys = GetDeviceCaps(hdc, PHYSICALHEIGHT);
    int dpiX = GetDeviceCaps(hdc, LOGPIXELSX);
    int dpiY = GetDeviceCaps(hdc, LOGPIXELSY);
    if (dpiX <= 0 || dpiY <= 0)
        return FALSE;
    FORMATRANGE fr = {};
    fr.hdc = fr.hdcTarget = hdc;
    // The printable area, in twips, as the control measures.
    fr.rcPage.right = MulDiv(cxPhys, TWIPS_PER_INCH, dpiX);
    fr.rcPage.bottom = MulDiv(cyPhys, TWIPS_PER_INCH, dpiY);
    fr.rc.left = MulDiv(GetDeviceCaps(hdc, PHYSICALOFFSETX), TWIPS_PER_INCH, dpiX);
    fr.rc.top = MulDiv(GetDeviceCaps(hdc, PHYSICALOFFSETY), TWIPS_PER_INCH, dpiY);
    fr.rc.right = fr.rc.left + MulDiv(GetDeviceCaps(hdc, HORZRES), TWIPS_PER_INCH, dpiX);
    fr.rc.bottom = fr.rc.top + MulDiv(GetDeviceCaps(hdc, VERTRES), TWIPS_PER_INCH, dpiY);
    const RECT rcText = fr.rc;

    GETTEXTLENGTHEX gtl = {GTL_DEFAULT, 1200};
    LONG cchText = static_cast<LONG>(
        SendMessageW(hRichEdit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&gtl), 0));
    fr.chrg.cpMin = 0;
    fr.chrg.cpMax = -1;
    BOOL bOk = TRUE;
    do {
        fr.rc = rcText;
        if (StartPage(hdc) <= 0) {
            bOk = FALSE;
            break;
        }
        LONG cpNext = static_cast<LONG>(
            SendMessageW(hRichEdit, EM_FORMATRANGE, TRUE, reinterpret_cast<LPARAM>(&fr)));
        if (EndPage(hdc) <= 0 || cpNext <= fr.chrg.cpMin) {
            bOk = FALSE;
            break;
        }
        fr.chrg.cpMin = cpNext;
    } while (fr.chrg.cpMin < cchText);
    SendMessageW(hRichEdit, EM_FORMATRANGE, FALSE, 0);
    return bOk;
}

}  // namespace

BOOL IsaRTFFile(LPCWSTR szFile)
{
    CFileHandle file(OpenForReading(szFile));
    if (!file.IsValid()) {
        DebugTrace(L"IsaRTFFile(%s)->INVALID_HANDLE_VALUE", szFile);
        return FALSE;
    }
    char head[RTF_SIGNATURE_LEN] = {};
    DWORD dwRead = 0;
    return ReadFile(file.Get(), head, RTF_SIGNATURE_LEN, &dwRead, nullptr) &&
           dwRead == RTF_SIGNATURE_LEN && memcmp(head, RTF_SIGNATURE, RTF_SIGNATURE_LEN) == 0;
}

BOOL LoadLicenseText(HWND hRichEdit, LPCWSTR szFile)
{
    if (!hRichEdit || !szFile || !*szFile)
        return FALSE;
    BOOL bRtf = IsaRTFFile(szFile);
    CFileHandle file(OpenForReading(szFile));
    if (!file.IsValid())
        return FALSE;
    SendMessageW(hRichEdit, EM_EXLIMITTEXT, 0, LICENSE_TEXT_LIMIT);
    BOOL bOk;
    if (bRtf) {
        DebugTrace(L"LoadLicenseText(%s)->RTF", szFile);
        bOk = StreamRtf(hRichEdit, file.Get());
    } else {
        bOk = StreamPlainText(hRichEdit, file.Get(), szFile);
    }
    SendMessageW(hRichEdit, EM_SETSEL, 0, 0);
    SendMessageW(hRichEdit, EM_SCROLLCARET, 0, 0);
    return bOk;
}

BOOL PrintRichEdit(HWND hRichEdit, LPCWSTR szDocName)
{
    PRINTDLGW pd = {};
    pd.lStructSize = sizeof(pd);
    pd.hwndOwner = GetParent(hRichEdit);
    pd.Flags = PD_RETURNDC | PD_RETURNDEFAULT;
    if (!PrintDlgW(&pd) || !pd.hDC) {
        DebugTrace(L"LicenseProc()->no default printer");
        return FALSE;
    }
    DOCINFOW di = {};
    di.cbSize = sizeof(di);
    di.lpszDocName = szDocName;
    BOOL bOk = FALSE;
    if (StartDocW(pd.hDC, &di) > 0) {
        bOk = PrintPages(hRichEdit, pd.hDC);
        if (bOk)
            EndDoc(pd.hDC);
        else
            AbortDoc(pd.hDC);
    }
    DeleteDC(pd.hDC);
    if (pd.hDevMode)
        GlobalFree(pd.hDevMode);
    if (pd.hDevNames)
        GlobalFree(pd.hDevNames);
    return bOk;
}

INT_PTR CALLBACK LicenseProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return OnInitDialog(hDlg, reinterpret_cast<LICENSEDLGPARAM*>(lParam));
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_LICENSE_ACCEPT:
        case IDC_LICENSE_DECLINE:
            UpdateOkButton(hDlg);
            return TRUE;
        case IDOK:
            // Enter reaches here even with OK disabled: only an acceptance ends with OK.
            if (IsDlgButtonChecked(hDlg, IDC_LICENSE_ACCEPT) == BST_CHECKED)
                EndDialog(hDlg, IDOK);
            return TRUE;
        case IDCANCEL:
            // Cancel, Esc and the title bar's X end the run: only when confirmed.
            if (ConfirmCancel(hDlg, ParamOf(hDlg)->pCtx->szTitle))
                EndDialog(hDlg, IDCANCEL);
            return TRUE;
        case IDC_BACK:
            EndDialog(hDlg, IDC_BACK);
            return TRUE;
        case IDC_PRINT: {
            WCHAR szTitle[TITLE_CCH] = L"";
            GetWindowTextW(hDlg, szTitle, ARRAYSIZE(szTitle));
            if (!PrintRichEdit(GetDlgItem(hDlg, IDC_LICENSE_TEXT), szTitle))
                DebugTrace(L"LicenseProc()->License not printed");
            return TRUE;
        }
        }
        return FALSE;
    case WM_CLOSE:
        SendMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    return FALSE;
}

INT_PTR LicenseDlg(HWND hOwner, LICENSEDLGPARAM* pParam)
{
    if (!pParam || !pParam->pCtx) {
        DebugTrace(L"LicenseDlg > bad parameters!");
        return 0;
    }
    DebugTrace(L"LicenseDlg > hWnd: %08.8X, hInst: %d, uiLangID: %d", hOwner, pParam->hModule,
               pParam->uiLangID);
    INT_PTR nResult = DialogBoxParamW(pParam->hModule, MAKEINTRESOURCEW(IDD_LICENSE), hOwner,
                                      LicenseProc, reinterpret_cast<LPARAM>(pParam));
    HINSTANCE hOwn = GetModuleHandleW(nullptr);
    if (nResult == -1 && pParam->hModule != hOwn) {
        // The language library's template made no window: the program's own
        // English asks instead of the run ending unasked.
        DebugTrace(L"LicenseDlg > template of the language failed (%d), own one used",
                   GetLastError());
        pParam->hModule = hOwn;
        nResult = DialogBoxParamW(hOwn, MAKEINTRESOURCEW(IDD_LICENSE), hOwner, LicenseProc,
                                  reinterpret_cast<LPARAM>(pParam));
    }
    return nResult;
}
