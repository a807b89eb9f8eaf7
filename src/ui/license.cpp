#include "ui/license.h"
#include <commdlg.h>
#include <richedit.h>
#include <strsafe.h>
#include <string>
#include "common/trace.h"
#include "state/languages.h"
#include "state/projectinfo.h"
#include "res/resource.h"

namespace {

const char RTF_SIGNATURE[] = "{\\rtf1\\";
const DWORD RTF_SIGNATURE_LEN = sizeof(RTF_SIGNATURE) - 1;
const int TWIPS_PER_INCH = 1440;

// Closes a file handle once.
struct FileHandle {
    HANDLE h;
    explicit FileHandle(HANDLE hFile) : h(hFile) {}
    ~FileHandle()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool Valid() const { return h != INVALID_HANDLE_VALUE; }
};

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
    WCHAR szFormat[TITLE_CCH];
    if (!LoadStringEx(pParam->hModule, IDS_LICENSE_TITLE, szFormat, ARRAYSIZE(szFormat),
                      pParam->uiLangID))
        return;
    std::wstring title(szFormat);
    size_t cchName = lstrlenW(g_szProductNameShort);
    for (size_t i = title.find(L"%s"); i != std::wstring::npos; i = title.find(L"%s", i + cchName))
        title.replace(i, 2, g_szProductNameShort);
    SetWindowTextW(hDlg, title.c_str());
}

void UpdateOkButton(HWND hDlg)
{
    BOOL bAccepted = IsDlgButtonChecked(hDlg, IDC_LICENSE_ACCEPT) == BST_CHECKED;
    EnableWindow(GetDlgItem(hDlg, IDOK), bAccepted);
    if (LICENSEDLGPARAM* pParam = ParamOf(hDlg))
        pParam->bAccepted = bAccepted;
}

INT_PTR OnInitDialog(HWND hDlg, LICENSEDLGPARAM* pParam)
{
    SetWindowLongPtrW(hDlg, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pParam));
    SetClassIcons(hDlg);
    SetTitle(hDlg, pParam);
    SetLocalizedText(hDlg, IDC_HEADING, IDS_LICENSE_READ, pParam);
    SetLocalizedText(hDlg, IDC_LICENSE_ACCEPT, IDS_LICENSE_ACCEPT, pParam);
    SetLocalizedText(hDlg, IDC_LICENSE_DECLINE, IDS_LICENSE_DECLINE, pParam);
    LoadLicenseText(GetDlgItem(hDlg, IDC_LICENSE_TEXT), g_ProjectInfo.szLicenseFile);

    ShowWindow(GetDlgItem(hDlg, IDC_BACK), (pParam->dwOptions & LICENSE_OPT_BACK) ? SW_SHOW : SW_HIDE);
    CheckRadioButton(hDlg, IDC_LICENSE_ACCEPT, IDC_LICENSE_DECLINE,
                     pParam->bAccepted ? IDC_LICENSE_ACCEPT : IDC_LICENSE_DECLINE);
    UpdateOkButton(hDlg);
    return TRUE;
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
    FileHandle file(OpenForReading(szFile));
    if (!file.Valid()) {
        DebugTrace(L"IsaRTFFile(%s)->INVALID_HANDLE_VALUE", szFile);
        return FALSE;
    }
    char head[RTF_SIGNATURE_LEN] = {};
    DWORD dwRead = 0;
    return ReadFile(file.h, head, RTF_SIGNATURE_LEN, &dwRead, nullptr) &&
           dwRead == RTF_SIGNATURE_LEN && memcmp(head, RTF_SIGNATURE, RTF_SIGNATURE_LEN) == 0;
}

BOOL LoadLicenseText(HWND hRichEdit, LPCWSTR szFile)
{
    if (!hRichEdit || !szFile || !*szFile)
        return FALSE;
    UINT uFormat = IsaRTFFile(szFile) ? (SF_RTF | SF_UNICODE) : SF_TEXT;
    FileHandle file(OpenForReading(szFile));
    if (!file.Valid())
        return FALSE;
    EDITSTREAM es = {};
    es.dwCookie = reinterpret_cast<DWORD_PTR>(file.h);
    es.pfnCallback = ReadFileCallback;
    SendMessageW(hRichEdit, EM_STREAMIN, uFormat, reinterpret_cast<LPARAM>(&es));
    return es.dwError == 0;
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
        case IDC_BACK:
            EndDialog(hDlg, LOWORD(wParam));
            return TRUE;
        case IDC_PRINT: {
            WCHAR szTitle[TITLE_CCH] = L"";
            GetWindowTextW(hDlg, szTitle, ARRAYSIZE(szTitle));
            PrintRichEdit(GetDlgItem(hDlg, IDC_LICENSE_TEXT), szTitle);
            return TRUE;
        }
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(hDlg, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

INT_PTR LicenseDlg(HWND hOwner, LICENSEDLGPARAM* pParam)
{
    if (!pParam) {
        DebugTrace(L"LicenseDlg > bad parameters!");
        return 0;
    }
    DebugTrace(L"LicenseDlg > hWnd: %08.8X, hInst: %d, uiLangID: %d", hOwner, pParam->hModule,
               pParam->uiLangID);
    return DialogBoxParamW(pParam->hModule, MAKEINTRESOURCEW(IDD_LICENSE), hOwner, LicenseProc,
                           reinterpret_cast<LPARAM>(pParam));
}
