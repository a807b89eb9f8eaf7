// The language libraries beside the test programs: every one carries the
// same dialogs, menu and string ids as the program, in its own language.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <set>
#include <string>
#include <vector>
#include "res/resource.h"

namespace {

std::wstring BinDir()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

struct DataModule {
    HMODULE h = nullptr;
    explicit DataModule(const std::wstring& name)
        : h(LoadLibraryExW((BinDir() + name).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~DataModule() { if (h) FreeLibrary(h); }
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;
};

struct Language {
    const wchar_t* file;
    LANGID langId;
    const wchar_t* statusTitle;  // string 281
    const wchar_t* menuOpen;
    const wchar_t* menuExit;
};

const Language kLanguages[] = {
    {L"EnglishUS.lng", 1033, L"Preparing to install", L"&Open", L"&Exit"},
    {L"French.lng", 1036, L"Pr\u00e9paration de l'installation", L"&Ouvrir", L"&Quitter"},
    {L"German.lng", 1031, L"Installation wird vorbereitet", L"\u00d6&ffnen", L"&Beenden"},
    {L"Italian.lng", 1040, L"Preparazione dell'installazione", L"&Apri", L"&Esci"},
    {L"Spanish.lng", 1034, L"Preparando la instalaci\u00f3n", L"&Abrir", L"&Salir"},
};

const UINT kStringIds[] = {
    137, 138, 139, 140, 141, 142, 143, 144, 145, 148, 149, 150, 260, 261, 262, 263, 264,
    281, 282, 283, 284, 285, 600, 601, 602, 603, 604, 605, 606, 607, 608, 609, 610, 611,
    612, 613, 614, 615, 616, 617, 700, 712, 713,
};

std::wstring LoadText(HMODULE h, UINT id)
{
    wchar_t buf[2048];
    int n = LoadStringW(h, id, buf, ARRAYSIZE(buf));
    return n > 0 ? std::wstring(buf, n) : std::wstring();
}

// The printf conversions of a text, in order ("%s", "%I64u" ...), then the
// FormatMessage inserts it uses ("%1", "%2" ...), each once: a translation
// may place those where its language wants them.
std::vector<std::wstring> Conversions(const std::wstring& s)
{
    std::vector<std::wstring> out;
    std::set<std::wstring> inserts;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != L'%')
            continue;
        size_t j = i + 1;
        if (j < s.size() && iswdigit(s[j])) {
            while (j < s.size() && iswdigit(s[j]))
                ++j;
            inserts.insert(s.substr(i, j - i));
            i = j - 1;
            continue;
        }
        while (j < s.size() && !iswalpha(s[j]))
            ++j;
        while (j < s.size() && (s[j] == L'I' || s[j] == L'6' || s[j] == L'4'))
            ++j;
        out.push_back(s.substr(i, j - i + 1));
        i = j;
    }
    out.insert(out.end(), inserts.begin(), inserts.end());
    return out;
}

BOOL CALLBACK EnumLang(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR param)
{
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(lang);
    return TRUE;
}

struct Control {
    int id;
    std::wstring cls;
    LONG style;
    RECT rc;
};

INT_PTR CALLBACK NullProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

struct DialogShape {
    bool created = false;
    bool visible = false;
    LONG style = 0, exStyle = 0;
    RECT rc = {};
    std::vector<Control> controls;
};

DialogShape CreateAndDescribe(HMODULE h, UINT id)
{
    DialogShape shape;
    HWND hDlg = CreateDialogParamW(h, MAKEINTRESOURCEW(id), nullptr, NullProc, 0);
    if (!hDlg) {
        ADD_FAILURE() << "dialog " << id << " error " << GetLastError();
        return shape;
    }
    shape.created = true;
    shape.visible = IsWindowVisible(hDlg) != FALSE;
    shape.style = GetWindowLongW(hDlg, GWL_STYLE);
    shape.exStyle = GetWindowLongW(hDlg, GWL_EXSTYLE);
    GetClientRect(hDlg, &shape.rc);
    for (HWND c = GetWindow(hDlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        Control ctl;
        ctl.id = static_cast<short>(GetDlgCtrlID(c));
        wchar_t cls[64];
        GetClassNameW(c, cls, ARRAYSIZE(cls));
        ctl.cls = cls;
        ctl.style = GetWindowLongW(c, GWL_STYLE);
        GetWindowRect(c, &ctl.rc);
        MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&ctl.rc), 2);
        shape.controls.push_back(ctl);
    }
    DestroyWindow(hDlg);
    return shape;
}

struct DialogCase {
    UINT id;
    std::vector<int> controls;  // in tab order
    bool hasCaption;
    LONG exStyle;               // bits that must be set
};

const DialogCase kDialogs[] = {
    {IDD_STATUS_NORMAL, {1003, 1004, 1007, 1500, 1005, 1008, 1501, 1006, 1300, 2}, true, 0},
    {IDD_STATUS_SMALL, {-1, 1007, 1500, 1005, 2}, false, 0},
    {IDD_LICENSE, {1003, 1095, 1096, 1097, 1300, 5, 3, 1, 2}, true, 0},
    {IDD_MSGWAIT, {-1, 1003, 2}, true, 0},
};

class LanguageLibraries : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        riched_ = LoadLibraryW(L"riched20.dll");
    }
    static void TearDownTestSuite()
    {
        if (riched_)
            FreeLibrary(riched_);
    }
    static HMODULE riched_;
};
HMODULE LanguageLibraries::riched_;

TEST_F(LanguageLibraries, CarryTheCompleteStringTableInTheirLanguage)
{
    DataModule program(L"launcher.exe");
    ASSERT_TRUE(program.h);
    for (const Language& lang : kLanguages) {
        DataModule lib(lang.file);
        ASSERT_TRUE(lib.h) << lang.file;
        for (UINT id : kStringIds) {
            std::wstring own = LoadText(program.h, id);
            std::wstring text = LoadText(lib.h, id);
            ASSERT_FALSE(own.empty()) << id;
            EXPECT_FALSE(text.empty()) << lang.file << " " << id;
            EXPECT_EQ(Conversions(text), Conversions(own)) << lang.file << " " << id;
            if (lang.langId == 1033) {
                EXPECT_EQ(text, own) << id;
            }
        }
        EXPECT_EQ(LoadText(lib.h, IDS_STATUS_TITLE), lang.statusTitle) << lang.file;
    }
}

TEST_F(LanguageLibraries, DeclareTheirLanguageIconAndVersionRecord)
{
    for (const Language& lang : kLanguages) {
        DataModule lib(lang.file);
        ASSERT_TRUE(lib.h) << lang.file;
        std::vector<WORD> langs;
        EnumResourceLanguagesW(lib.h, RT_STRING, MAKEINTRESOURCEW(IDS_RESTART_TEXT / 16 + 1),
                               EnumLang, reinterpret_cast<LONG_PTR>(&langs));
        EXPECT_EQ(langs, std::vector<WORD>{lang.langId}) << lang.file;
        EXPECT_TRUE(FindResourceW(lib.h, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION)) << lang.file;
        EXPECT_TRUE(FindResourceW(lib.h, MAKEINTRESOURCEW(IDI_MAIN), RT_GROUP_ICON)) << lang.file;
    }
}

TEST_F(LanguageLibraries, TrayMenuOffersOpenAndExit)
{
    for (const Language& lang : kLanguages) {
        DataModule lib(lang.file);
        HMENU menu = LoadMenuW(lib.h, MAKEINTRESOURCEW(IDM_TRAY));
        ASSERT_TRUE(menu) << lang.file;
        HMENU sub = GetSubMenu(menu, 0);
        ASSERT_TRUE(sub) << lang.file;
        ASSERT_EQ(GetMenuItemCount(sub), 2) << lang.file;
        EXPECT_EQ(GetMenuItemID(sub, 0), static_cast<UINT>(IDM_TRAY_OPEN)) << lang.file;
        EXPECT_EQ(GetMenuItemID(sub, 1), static_cast<UINT>(IDM_TRAY_EXIT)) << lang.file;
        wchar_t text[64];
        GetMenuStringW(sub, 0, text, ARRAYSIZE(text), MF_BYPOSITION);
        EXPECT_STREQ(text, lang.menuOpen);
        GetMenuStringW(sub, 1, text, ARRAYSIZE(text), MF_BYPOSITION);
        EXPECT_STREQ(text, lang.menuExit);
        DestroyMenu(menu);
    }
}

// Every dialog is created hidden with exactly its controls, and every
// language lays it out like the program's own English template.
TEST_F(LanguageLibraries, DialogsHaveTheSameControlsAndLayoutEverywhere)
{
    DataModule program(L"launcher.exe");
    ASSERT_TRUE(program.h);
    for (const DialogCase& dc : kDialogs) {
        DialogShape own = CreateAndDescribe(program.h, dc.id);
        ASSERT_TRUE(own.created) << dc.id;
        EXPECT_FALSE(own.visible) << dc.id;
        EXPECT_EQ((own.style & WS_CAPTION) == WS_CAPTION, dc.hasCaption) << dc.id;
        EXPECT_EQ(own.exStyle & dc.exStyle, dc.exStyle) << dc.id;
        std::vector<int> ids;
        for (const Control& c : own.controls)
            ids.push_back(c.id);
        EXPECT_EQ(ids, dc.controls) << dc.id;

        for (const Language& lang : kLanguages) {
            DataModule lib(lang.file);
            DialogShape shape = CreateAndDescribe(lib.h, dc.id);
            ASSERT_TRUE(shape.created) << lang.file << " " << dc.id;
            EXPECT_FALSE(shape.visible);
            EXPECT_EQ(shape.style, own.style) << lang.file << " " << dc.id;
            EXPECT_EQ(shape.exStyle, own.exStyle) << lang.file << " " << dc.id;
            EXPECT_TRUE(EqualRect(&shape.rc, &own.rc)) << lang.file << " " << dc.id;
            ASSERT_EQ(shape.controls.size(), own.controls.size()) << lang.file << " " << dc.id;
            for (size_t i = 0; i < own.controls.size(); ++i) {
                const Control& a = own.controls[i];
                const Control& b = shape.controls[i];
                EXPECT_EQ(b.id, a.id) << lang.file << " " << dc.id;
                EXPECT_EQ(b.cls, a.cls) << lang.file << " " << dc.id << " " << a.id;
                EXPECT_EQ(b.style, a.style) << lang.file << " " << dc.id << " " << a.id;
                EXPECT_TRUE(EqualRect(&b.rc, &a.rc)) << lang.file << " " << dc.id << " " << a.id;
            }
        }
    }
}

// Controls the code relies on by kind: bars, rich edit, hidden Back and Cancel.
TEST_F(LanguageLibraries, ControlsHaveTheirKinds)
{
    DataModule program(L"launcher.exe");
    struct KindCase { UINT dialog; int id; const wchar_t* cls; bool visible; };
    const KindCase cases[] = {
        {IDD_STATUS_NORMAL, IDC_STEP_BAR, L"msctls_progress32", true},
        {IDD_STATUS_NORMAL, IDC_MAIN_BAR, L"msctls_progress32", true},
        {IDD_STATUS_NORMAL, IDCANCEL, L"Button", true},
        {IDD_STATUS_SMALL, IDC_STEP_BAR, L"msctls_progress32", true},
        {IDD_STATUS_SMALL, IDC_STATUS_ICON, L"Static", true},
        {IDD_STATUS_SMALL, IDCANCEL, L"Button", true},
        {IDD_LICENSE, IDC_LICENSE_TEXT, L"RichEdit20W", true},
        {IDD_LICENSE, IDC_BACK, L"Button", false},
        {IDD_LICENSE, IDOK, L"Button", true},
        {IDD_MSGWAIT, IDCANCEL, L"Button", false},
        {IDD_MSGWAIT, IDC_HEADING, L"Static", true},
    };
    for (const KindCase& kc : cases) {
        DialogShape shape = CreateAndDescribe(program.h, kc.dialog);
        bool found = false;
        for (const Control& c : shape.controls) {
            if (c.id != kc.id)
                continue;
            found = true;
            EXPECT_EQ(_wcsicmp(c.cls.c_str(), kc.cls), 0) << kc.dialog << " " << kc.id << " " << c.cls;
            EXPECT_EQ((c.style & WS_VISIBLE) != 0, kc.visible) << kc.dialog << " " << kc.id;
        }
        EXPECT_TRUE(found) << kc.dialog << " " << kc.id;
    }
    DialogShape normal = CreateAndDescribe(program.h, IDD_STATUS_NORMAL);
    for (const Control& c : normal.controls) {
        if (c.id == IDC_STEP_BAR) {
            EXPECT_TRUE(c.style & PBS_SMOOTH);
        }
    }
}

}  // namespace
