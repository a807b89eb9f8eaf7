// Every dialog of the program and of every language library, with the texts
// the code puts into it: each text fits its control (measured with the
// control's own font) and no two accelerators of one dialog clash. Message
// boxes size themselves to their text and are left out.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>
#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <map>
#include <string>
#include "support/strings.h"
#include <vector>
#include "state/projectinfo.h"
#include "state/state.h"
#include "ui/license.h"
#include "res/resource.h"
#include "support/testrun.h"

namespace {

using support::Utf8;

const wchar_t kProduct[] = L"Stowaway Sample";
// Room a push button keeps around its text, each side: its edge and the
// focus rectangle.
const int PUSH_MARGIN_PX = 4;
// Gap between a radio button's circle and its text.
const int CHECK_GAP_PX = 4;

struct Module {
    const wchar_t* file;
    const char* name;
};

const Module kModules[] = {
    {L"launcher.exe", "program"}, {L"EnglishUS.lng", "EnglishUS"}, {L"French.lng", "French"},
    {L"German.lng", "German"},    {L"Italian.lng", "Italian"},     {L"Spanish.lng", "Spanish"},
};

const UINT kStepTexts[] = {IDS_DOWNLOADING, IDS_INSTALLING, IDS_PREPARING, IDS_EXTRACTING,
                           IDS_COPYING,     IDS_READY,      IDS_UNCOMPRESSING, IDS_CLEANING,
                           IDS_SETTING};

std::wstring BinDir()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

struct DataModule {
    HMODULE h;
    explicit DataModule(const wchar_t* file)
        : h(LoadLibraryExW((BinDir() + file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE))
    {
    }
    ~DataModule()
    {
        if (h)
            FreeLibrary(h);
    }
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;
};

std::wstring LoadText(HMODULE h, UINT id)
{
    wchar_t buf[1024];
    int n = LoadStringW(h, id, buf, ARRAYSIZE(buf));
    return n > 0 ? std::wstring(buf, n) : std::wstring();
}

std::wstring WithProduct(std::wstring text)
{
    for (size_t i = text.find(L"%s"); i != std::wstring::npos; i = text.find(L"%s", i))
        text.replace(i, 2, kProduct);
    return text;
}

std::wstring WindowText(HWND h)
{
    wchar_t buf[1024] = L"";
    GetWindowTextW(h, buf, ARRAYSIZE(buf));
    return buf;
}

std::wstring ClassOf(HWND h)
{
    wchar_t buf[64] = L"";
    GetClassNameW(h, buf, ARRAYSIZE(buf));
    return buf;
}

bool IsButton(HWND h)
{
    return _wcsicmp(ClassOf(h).c_str(), L"Button") == 0;
}

bool IsTextStatic(HWND h)
{
    if (_wcsicmp(ClassOf(h).c_str(), L"Static") != 0)
        return false;
    LONG type = GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK;
    return type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT;
}

// Whether "&x" in the control's text underlines x.
bool ShowsAccelerators(HWND h)
{
    if (IsButton(h))
        return true;
    return IsTextStatic(h) && !(GetWindowLongW(h, GWL_STYLE) & SS_NOPREFIX);
}

// The accelerator of a text, upper case; 0 when it has none.
wchar_t AcceleratorOf(const std::wstring& text)
{
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != L'&')
            continue;
        if (text[i + 1] == L'&') {
            ++i;
            continue;
        }
        wchar_t ch = text[i + 1];
        CharUpperBuffW(&ch, 1);
        return ch;
    }
    return 0;
}

// The text extent of a control's text in its own font, as the control lays
// it out within maxWidth pixels (word wrapped for text statics).
SIZE Extent(HWND h, const std::wstring& text, UINT uFormat, int maxWidth)
{
    HDC hdc = GetDC(h);
    HGDIOBJ hOld = SelectObject(hdc, reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)));
    RECT rc = {0, 0, maxWidth, 0};
    DrawTextW(hdc, text.c_str(), -1, &rc, uFormat | DT_CALCRECT);
    SelectObject(hdc, hOld);
    ReleaseDC(h, hdc);
    return {rc.right - rc.left, rc.bottom - rc.top};
}

// One dialog as the user meets it, in one language.
class DialogCheck {
public:
    DialogCheck(const char* module, const char* dialog) : m_where(std::string(module) + " " + dialog) {}

    // The control shows its current text; it must fit.
    void Fits(HWND hCtl)
    {
        if (!hCtl)
            return;
        std::wstring text = WindowText(hCtl);
        if (text.empty())
            return;
        RECT rc;
        GetClientRect(hCtl, &rc);
        int width = rc.right, height = rc.bottom;
        LONG style = GetWindowLongW(hCtl, GWL_STYLE);
        int room = width, need = 0, needHeight = 0;
        if (IsTextStatic(hCtl)) {
            UINT uFormat = DT_WORDBREAK | DT_EXPANDTABS | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
            SIZE size = Extent(hCtl, text, uFormat, width);
            need = size.cx;
            needHeight = size.cy;
        } else if (IsButton(hCtl)) {
            LONG type = style & BS_TYPEMASK;
            if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)
                room = width - 2 * PUSH_MARGIN_PX;
            else
                room = width - GetSystemMetrics(SM_CXMENUCHECK) - CHECK_GAP_PX;
            SIZE size = Extent(hCtl, text, DT_SINGLELINE, 0);
            need = size.cx;
            needHeight = size.cy;
        } else {
            return;
        }
        Record(GetDlgCtrlID(hCtl), text, room - need);
        if (need > room || needHeight > height)
            ADD_FAILURE() << m_where << ": control " << GetDlgCtrlID(hCtl) << " \"" << Utf8(text)
                          << "\" needs " << need << "x" << needHeight << " px, has " << room
                          << "x" << height;
    }

    // The caption fits the title bar beside the icon and the buttons.
    void CaptionFits(HWND hDlg)
    {
        LONG style = GetWindowLongW(hDlg, GWL_STYLE);
        if ((style & WS_CAPTION) != WS_CAPTION)
            return;
        std::wstring text = WindowText(hDlg);
        NONCLIENTMETRICSW ncm = {};
        ncm.cbSize = sizeof(ncm);
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0);
        HFONT hFont = CreateFontIndirectW(&ncm.lfCaptionFont);
        HDC hdc = GetDC(hDlg);
        HGDIOBJ hOld = SelectObject(hdc, hFont);
        SIZE size = {};
        GetTextExtentPoint32W(hdc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(hdc, hOld);
        ReleaseDC(hDlg, hdc);
        DeleteObject(hFont);
        RECT rc;
        GetWindowRect(hDlg, &rc);
        int buttons = (style & WS_SYSMENU) ? ncm.iCaptionWidth : 0;
        if (style & WS_MINIMIZEBOX)
            buttons += 2 * ncm.iCaptionWidth;  // minimise and the disabled maximise
        int room = (rc.right - rc.left) - 2 * GetSystemMetrics(SM_CXFIXEDFRAME) -
                   GetSystemMetrics(SM_CXSMICON) - buttons - 2 * PUSH_MARGIN_PX;
        Record(0, text, room - size.cx);
        if (size.cx > room)
            ADD_FAILURE() << m_where << ": caption \"" << Utf8(text) << "\" needs " << size.cx
                          << " px, has " << room;
    }

    // No two controls share an accelerator; the listed ones have one.
    void Accelerators(HWND hDlg, const std::vector<int>& required)
    {
        std::map<wchar_t, int> seen;
        for (HWND c = GetWindow(hDlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (!ShowsAccelerators(c))
                continue;
            int id = GetDlgCtrlID(c);
            wchar_t ch = AcceleratorOf(WindowText(c));
            if (!ch)
                continue;
            auto it = seen.find(ch);
            if (it != seen.end())
                ADD_FAILURE() << m_where << ": controls " << it->second << " and " << id
                              << " both use Alt+" << Utf8(std::wstring(1, ch));
            seen[ch] = id;
        }
        for (int id : required) {
            if (!AcceleratorOf(WindowText(GetDlgItem(hDlg, id))))
                ADD_FAILURE() << m_where << ": control " << id << " \""
                              << Utf8(WindowText(GetDlgItem(hDlg, id))) << "\" has no accelerator";
        }
    }

    // The tightest text of the dialog, for the log.
    void Report() const
    {
        if (m_tightId != INT_MIN)
            printf("%-28s tightest: %s %d \"%s\", %d px to spare\n", m_where.c_str(),
                   m_tightId == 0 ? "caption" : "control", m_tightId, Utf8(m_tightText).c_str(),
                   m_tightSpare);
    }

private:
    void Record(int id, const std::wstring& text, int spare)
    {
        if (m_tightId == INT_MIN || spare < m_tightSpare) {
            m_tightId = id;
            m_tightText = text;
            m_tightSpare = spare;
        }
    }

    std::string m_where;
    int m_tightId = INT_MIN;
    std::wstring m_tightText;
    int m_tightSpare = 0;
};

INT_PTR CALLBACK PlainProc(HWND, UINT uMsg, WPARAM, LPARAM)
{
    return uMsg == WM_INITDIALOG;
}

HWND CreatePlain(HMODULE h, UINT id)
{
    return CreateDialogParamW(h, MAKEINTRESOURCEW(id), nullptr, PlainProc, 0);
}

void CheckAllControls(DialogCheck& check, HWND hDlg)
{
    for (HWND c = GetWindow(hDlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        check.Fits(c);
    check.CaptionFits(hDlg);
}

class DialogFit : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        s_hRichEdit = LoadLibraryW(L"riched20.dll");
    }
    static void TearDownTestSuite()
    {
        if (s_hRichEdit)
            FreeLibrary(s_hRichEdit);
    }
    static HMODULE s_hRichEdit;
};
HMODULE DialogFit::s_hRichEdit;

// The normal status window with its heading and text, each step text the
// run may show, the main bar's label, the percent texts at their widest,
// and the heading and text it shows while the setup program runs.
TEST_F(DialogFit, NormalStatusWindow)
{
    for (const Module& m : kModules) {
        DataModule lib(m.file);
        ASSERT_TRUE(lib.h) << m.name;
        HWND hDlg = CreatePlain(lib.h, IDD_STATUS_NORMAL);
        ASSERT_TRUE(hDlg) << m.name;
        DialogCheck check(m.name, "status-normal");
        SetWindowTextW(hDlg, kProduct);
        SetDlgItemTextW(hDlg, IDC_HEADING, LoadText(lib.h, IDS_STATUS_TITLE).c_str());
        SetDlgItemTextW(hDlg, IDC_SUBTEXT, WithProduct(LoadText(lib.h, IDS_STATUS_CONFIGURING)).c_str());
        SetDlgItemTextW(hDlg, IDC_STEP_PERCENT, L"100%");
        SetDlgItemTextW(hDlg, IDC_MAIN_PERCENT, L"100%");
        SetDlgItemTextW(hDlg, IDC_SECOND_TEXT, LoadText(lib.h, IDS_STATUS_OVERALL).c_str());
        EXPECT_FALSE(LoadText(lib.h, IDS_STATUS_OVERALL).empty()) << m.name;
        CheckAllControls(check, hDlg);
        for (UINT id : kStepTexts) {
            std::wstring text = LoadText(lib.h, id);
            EXPECT_FALSE(text.empty()) << m.name << " " << id;
            SetDlgItemTextW(hDlg, IDC_STEP_TEXT, text.c_str());
            check.Fits(GetDlgItem(hDlg, IDC_STEP_TEXT));
        }
        SetDlgItemTextW(hDlg, IDC_HEADING, LoadText(lib.h, IDS_STATUS_RUNNING).c_str());
        SetDlgItemTextW(hDlg, IDC_SUBTEXT, WithProduct(LoadText(lib.h, IDS_STATUS_RUNNING_TEXT)).c_str());
        check.Fits(GetDlgItem(hDlg, IDC_HEADING));
        check.Fits(GetDlgItem(hDlg, IDC_SUBTEXT));
        check.Accelerators(hDlg, {});
        check.Report();
        DestroyWindow(hDlg);
    }
}

// The small status window: each step text beside its bar, the percent at
// its widest, Cancel.
TEST_F(DialogFit, SmallStatusWindow)
{
    for (const Module& m : kModules) {
        DataModule lib(m.file);
        HWND hDlg = CreatePlain(lib.h, IDD_STATUS_SMALL);
        ASSERT_TRUE(hDlg) << m.name;
        DialogCheck check(m.name, "status-small");
        SetDlgItemTextW(hDlg, IDC_STEP_PERCENT, L"100%");
        CheckAllControls(check, hDlg);
        for (UINT id : kStepTexts) {
            SetDlgItemTextW(hDlg, IDC_STEP_TEXT, LoadText(lib.h, id).c_str());
            check.Fits(GetDlgItem(hDlg, IDC_STEP_TEXT));
        }
        check.Accelerators(hDlg, {});
        check.Report();
        DestroyWindow(hDlg);
    }
}

// The license dialog as its own procedure fills it, Back included; the two
// choices, Print and Back can be reached with Alt.
TEST_F(DialogFit, LicenseDialog)
{
    lstrcpyW(TestRun().szProductNameShort, kProduct);
    TestRun().project.szLicenseFile[0] = L'\0';
    for (const Module& m : kModules) {
        DataModule lib(m.file);
        LICENSEDLGPARAM param = {&TestRun(), lib.h, 0, LICENSE_OPT_BACK, FALSE};
        HWND hDlg = CreateDialogParamW(lib.h, MAKEINTRESOURCEW(IDD_LICENSE), nullptr, LicenseProc,
                                       reinterpret_cast<LPARAM>(&param));
        ASSERT_TRUE(hDlg) << m.name;
        DialogCheck check(m.name, "license");
        EXPECT_EQ(WithProduct(LoadText(lib.h, IDS_LICENSE_TITLE)), WindowText(hDlg)) << m.name;
        EXPECT_EQ(LoadText(lib.h, IDS_LICENSE_ACCEPT), WindowText(GetDlgItem(hDlg, IDC_LICENSE_ACCEPT)));
        CheckAllControls(check, hDlg);
        check.Accelerators(hDlg, {IDC_LICENSE_ACCEPT, IDC_LICENSE_DECLINE, IDC_PRINT, IDC_BACK});
        check.Report();
        DestroyWindow(hDlg);
    }
}

// The wait window with its own message and with the one the license
// dialog gives it, Cancel shown.
TEST_F(DialogFit, WaitWindow)
{
    for (const Module& m : kModules) {
        DataModule lib(m.file);
        HWND hDlg = CreatePlain(lib.h, IDD_MSGWAIT);
        ASSERT_TRUE(hDlg) << m.name;
        DialogCheck check(m.name, "wait");
        ShowWindow(GetDlgItem(hDlg, IDCANCEL), SW_SHOW);
        CheckAllControls(check, hDlg);
        SetWindowTextW(hDlg, WithProduct(LoadText(lib.h, IDS_LICENSE_TITLE)).c_str());
        SetDlgItemTextW(hDlg, IDC_HEADING, LoadText(lib.h, IDS_LICENSE_WAIT).c_str());
        CheckAllControls(check, hDlg);
        check.Accelerators(hDlg, {});
        check.Report();
        DestroyWindow(hDlg);
    }
}

// The check itself: a text wider than its control and two controls with
// one accelerator are reported.
HWND g_hProbe;

TEST_F(DialogFit, ReportsAnOverflowAndAClash)
{
    DataModule lib(L"launcher.exe");
    g_hProbe = CreatePlain(lib.h, IDD_LICENSE);
    ASSERT_TRUE(g_hProbe);
    SetDlgItemTextW(g_hProbe, IDC_LICENSE_ACCEPT,
                    L"I &accept the terms of the license agreement, all of them, without any "
                    L"reservation whatsoever, now and forever.");
    EXPECT_NONFATAL_FAILURE(
        {
            DialogCheck check("probe", "license");
            check.Fits(GetDlgItem(g_hProbe, IDC_LICENSE_ACCEPT));
        },
        "control 1096");
    SetDlgItemTextW(g_hProbe, IDC_LICENSE_DECLINE, L"I do not &accept");
    EXPECT_NONFATAL_FAILURE(
        {
            DialogCheck check("probe", "license");
            check.Accelerators(g_hProbe, {});
        },
        "controls 1096 and 1097 both use Alt+A");
    SetDlgItemTextW(g_hProbe, IDC_LICENSE_DECLINE, L"I &do not accept");
    SetDlgItemTextW(g_hProbe, IDC_PRINT, L"Print");
    EXPECT_NONFATAL_FAILURE(
        {
            DialogCheck check("probe", "license");
            check.Accelerators(g_hProbe, {IDC_PRINT});
        },
        "control 5 \"Print\" has no accelerator");
    DestroyWindow(g_hProbe);
}

TEST_F(DialogFit, TrayMenuAcceleratorsDoNotClash)
{
    for (const Module& m : kModules) {
        DataModule lib(m.file);
        HMENU hMenu = LoadMenuW(lib.h, MAKEINTRESOURCEW(IDM_TRAY));
        ASSERT_TRUE(hMenu) << m.name;
        HMENU hPopup = GetSubMenu(hMenu, 0);
        std::map<wchar_t, int> seen;
        for (int i = 0; i < GetMenuItemCount(hPopup); ++i) {
            wchar_t text[128] = L"";
            GetMenuStringW(hPopup, i, text, ARRAYSIZE(text), MF_BYPOSITION);
            wchar_t ch = AcceleratorOf(text);
            EXPECT_NE(0, ch) << m.name << " item " << i;
            EXPECT_EQ(0u, seen.count(ch)) << m.name << " items " << seen[ch] << " and " << i;
            seen[ch] = i;
        }
        DestroyMenu(hMenu);
    }
}

}  // namespace
