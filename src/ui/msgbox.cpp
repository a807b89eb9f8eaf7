#include "ui/msgbox.h"
#include <vector>
#include "common/trace.h"
#include "res/resource.h"
#include "state/languages.h"
#include "state/state.h"

namespace {

// The buttons of each MB_ type value (MB_OK ... MB_CANCELTRYCONTINUE), in
// the order MB_DEFBUTTON1 to MB_DEFBUTTON3 count them.
const int BUTTONS[][3] = {
    {IDOK, 0, 0},                           // MB_OK
    {IDOK, IDCANCEL, 0},                    // MB_OKCANCEL
    {IDABORT, IDRETRY, IDIGNORE},           // MB_ABORTRETRYIGNORE
    {IDYES, IDNO, IDCANCEL},                // MB_YESNOCANCEL
    {IDYES, IDNO, 0},                       // MB_YESNO
    {IDRETRY, IDCANCEL, 0},                 // MB_RETRYCANCEL
    {IDCANCEL, IDTRYAGAIN, IDCONTINUE},     // MB_CANCELTRYCONTINUE
};

}  // namespace

int DefaultAnswer(UINT uType)
{
    UINT uButtons = uType & MB_TYPEMASK;
    if (uButtons >= ARRAYSIZE(BUTTONS))
        uButtons = MB_OK;
    UINT uDefault = (uType & MB_DEFMASK) >> 8;  // MB_DEFBUTTON1 is 0, MB_DEFBUTTON2 0x100 ...
    if (uDefault >= 3 || BUTTONS[uButtons][uDefault] == 0)
        uDefault = 0;
    return BUTTONS[uButtons][uDefault];
}

void OneLineForTrace(LPCWSTR szText, LPWSTR szOut, size_t cchOut)
{
    if (!szOut || cchOut == 0)
        return;
    size_t n = 0;
    for (LPCWSTR p = szText ? szText : L""; *p && n + 1 < cchOut; ++p) {
        if (*p == L'\r')
            continue;
        if (*p == L'\n') {
            if (n + 2 >= cchOut)
                break;
            szOut[n++] = L'\\';
            szOut[n++] = L'n';
        } else {
            szOut[n++] = *p;
        }
    }
    szOut[n] = L'\0';
}

int ShowMessageBox(HWND hOwner, LPCWSTR szText, LPCWSTR szCaption, UINT uType)
{
    LPCWSTR szShownText = szText ? szText : L"";
    LPCWSTR szShownCaption = szCaption ? szCaption : L"";
    std::vector<WCHAR> line(MESSAGE_TEXT_CCH, L'\0');
    OneLineForTrace(szShownText, line.data(), MESSAGE_TEXT_CCH);
    if (g_bSuppressMsgBoxes) {
        int nAnswer = DefaultAnswer(uType);
        DebugTrace(L"MessageBox(%s, %s)->%d (suppressed)", szShownCaption, line.data(), nAnswer);
        return nAnswer;
    }
    int nAnswer = MessageBoxW(hOwner, szShownText, szShownCaption, uType);
    DebugTrace(L"MessageBox(%s, %s)->%d", szShownCaption, line.data(), nAnswer);
    return nAnswer;
}

void ShowErrorBox(HWND hOwner, LPCWSTR szTitle, LPCWSTR szText)
{
    ShowMessageBox(hOwner, szText, szTitle, MB_ICONHAND | MB_TOPMOST);
}

BOOL ConfirmCancel(HWND hOwner, LPCWSTR szProduct)
{
    if (g_bSuppressMsgBoxes) {
        DebugTrace(L"ConfirmCancel()->no question: message boxes are suppressed");
        return TRUE;
    }
    WCHAR szText[TITLE_TEXT_CCH];
    LPCWSTR args[] = {szProduct};
    if (!FormatUiText(IDS_CONFIRM_CANCEL, szText, ARRAYSIZE(szText), args, ARRAYSIZE(args)))
        return TRUE;  // nothing to ask with
    return ShowMessageBox(hOwner, szText, szProduct, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
           IDYES;
}
