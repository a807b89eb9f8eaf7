// The license dialog: texts, the accept rule, the buttons, RTF or plain text.
#include <gtest/gtest.h>
#include <richedit.h>
#include <string>
#include "common/textcode.h"
#include "common/sysdll.h"
#include "state/projectinfo.h"
#include "state/state.h"
#include "support/tracesink.h"
#include "ui/license.h"
#include "res/resource.h"
#include "support/uitest_util.h"
#include "support/testrun.h"

using uitest::ScratchDir;
using uitest::Utf8;
using uitest::WindowText;

namespace {

const wchar_t kTitle[] = L"Demo Product - License Agreement";

class LicenseTest : public ::testing::Test {
protected:
    LicenseTest() : m_dir(L"license") {}
    static void SetUpTestSuite() { s_hRichEdit = LoadSystemLibrary(L"riched20.dll"); }

    void SetUp() override
    {
        tracesink::Clear();
        lstrcpyW(TestRun().szProductNameShort, L"Demo Product");
        lstrcpyW(TestRun().szTitle, L"Demo Product");
        hInstRes = uitest::LauncherResources();
        // Cancel closes these dialogs without the question, as in a run
        // whose boxes are suppressed; CancelAsksFirst asks it.
        g_bSuppressMsgBoxes = TRUE;
        std::wstring file = m_dir.File(L"License.txt");
        uitest::WriteFileBytes(file, "Plain license text.\r\nSecond line.");
        lstrcpynW(TestRun().project.szLicenseFile, file.c_str(), 260);
    }

    void TearDown() override
    {
        g_bSuppressMsgBoxes = FALSE;
        hInstRes = nullptr;
    }

    ScratchDir m_dir;
    static HMODULE s_hRichEdit;
};
HMODULE LicenseTest::s_hRichEdit;

bool IsLicenseWindow(HWND h, void*)
{
    // The wait window of a long license has the same title, but no text.
    return IsWindowVisible(h) && WindowText(h) == kTitle && GetDlgItem(h, IDC_LICENSE_TEXT);
}

void Click(HWND hDlg, int id)
{
    SendMessageW(GetDlgItem(hDlg, id), BM_CLICK, 0, 0);
}

struct Seen {
    bool okEnabled = false, okAfterAccept = false, okAfterDecline = true;
    bool backVisible = false;
    bool acceptChecked = false;
    std::wstring heading, accept, decline, text;
};

void Look(HWND h, Seen& seen)
{
    seen.okEnabled = IsWindowEnabled(GetDlgItem(h, IDOK)) != FALSE;
    seen.backVisible = IsWindowVisible(GetDlgItem(h, IDC_BACK)) != FALSE;
    seen.acceptChecked = SendDlgItemMessageW(h, IDC_LICENSE_ACCEPT, BM_GETCHECK, 0, 0) == BST_CHECKED;
    seen.heading = WindowText(GetDlgItem(h, IDC_HEADING));
    seen.accept = WindowText(GetDlgItem(h, IDC_LICENSE_ACCEPT));
    seen.decline = WindowText(GetDlgItem(h, IDC_LICENSE_DECLINE));
    seen.text = WindowText(GetDlgItem(h, IDC_LICENSE_TEXT));
}

struct ButtonCase {
    const char* name;
    DWORD options;
    BOOL acceptedAtStart;
    int finalButton;  // clicked after the accept/decline round
    bool acceptFirst; // leave "I accept" checked before the final click
    INT_PTR result;
    BOOL acceptedAfter;
};

const ButtonCase kButtons[] = {
    {"accept then OK", 0, FALSE, IDOK, true, IDOK, TRUE},
    {"OK ignored while declined, then Cancel", 0, FALSE, IDCANCEL, false, IDCANCEL, FALSE},
    {"accepted at start, Cancel", 0, TRUE, IDCANCEL, true, IDCANCEL, TRUE},
    {"back", LICENSE_OPT_BACK, FALSE, IDC_BACK, false, 3, FALSE},
};

TEST_F(LicenseTest, OkOnlyWhileAcceptedAndEachButtonEndsWithItsId)
{
    for (const ButtonCase& c : kButtons) {
        SCOPED_TRACE(c.name);
        struct Ctx {
            const ButtonCase* c;
            Seen seen;
        } ctx = {&c, {}};
        LICENSEDLGPARAM param = {&TestRun(), uitest::LauncherResources(), 2057, c.options,
                                 c.acceptedAtStart};
        INT_PTR result;
        {
            uitest::WindowWatcher watcher(
                IsLicenseWindow,
                [](HWND h, void* p) {
                    auto* x = static_cast<Ctx*>(p);
                    Look(h, x->seen);
                    Click(h, IDC_LICENSE_ACCEPT);
                    x->seen.okAfterAccept = IsWindowEnabled(GetDlgItem(h, IDOK)) != FALSE;
                    Click(h, IDC_LICENSE_DECLINE);
                    x->seen.okAfterDecline = IsWindowEnabled(GetDlgItem(h, IDOK)) != FALSE;
                    // Enter with "I do not accept" checked does not accept.
                    SendMessageW(h, WM_COMMAND, IDOK, 0);
                    if (x->c->acceptFirst)
                        Click(h, IDC_LICENSE_ACCEPT);
                    PostMessageW(h, WM_COMMAND, x->c->finalButton, 0);
                },
                &ctx);
            result = LicenseDlg(nullptr, &param);
            EXPECT_TRUE(watcher.Ran());
        }
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.acceptedAfter, param.bAccepted);
        EXPECT_EQ(c.acceptedAtStart != FALSE, ctx.seen.okEnabled);
        EXPECT_EQ(c.acceptedAtStart != FALSE, ctx.seen.acceptChecked);
        EXPECT_TRUE(ctx.seen.okAfterAccept);
        EXPECT_FALSE(ctx.seen.okAfterDecline);
        EXPECT_EQ((c.options & LICENSE_OPT_BACK) != 0, ctx.seen.backVisible);
        EXPECT_EQ(L"Please read the following license agreement carefully.", ctx.seen.heading);
        EXPECT_EQ(L"I &accept the terms of the license agreement.", ctx.seen.accept);
        EXPECT_EQ(L"I &do not accept the terms of the license agreement.", ctx.seen.decline);
    }
}

// Cancel, Esc and closing the dialog ask first, No the default: No keeps
// the dialog, Yes ends it with Cancel.
TEST_F(LicenseTest, CancelAsksFirst)
{
    g_bSuppressMsgBoxes = FALSE;
    for (UINT how : {static_cast<UINT>(WM_COMMAND), static_cast<UINT>(WM_CLOSE)}) {
        SCOPED_TRACE(how);
        struct Ctx {
            UINT how;
            HWND hLicense = nullptr;
            uitest::MessageBoxSeen first, second;
            bool upAfterNo = false;
        } ctx;
        ctx.how = how;
        ctx.first.answer = IDNO;
        ctx.second.answer = IDYES;
        LICENSEDLGPARAM param = {&TestRun(), uitest::LauncherResources(), 1033, 0, FALSE};
        INT_PTR result;
        {
            uitest::WindowWatcher watcher(
                IsLicenseWindow,
                [](HWND h, void* p) {
                    auto* x = static_cast<Ctx*>(p);
                    x->hLicense = h;
                    PostMessageW(h, x->how, x->how == WM_COMMAND ? IDCANCEL : 0, 0);
                },
                &ctx);
            uitest::WindowWatcher question(
                uitest::IsMessageBox,
                [](HWND hBox, void* p) {
                    auto* x = static_cast<Ctx*>(p);
                    uitest::AnswerMessageBox(hBox, &x->first);
                    for (int i = 0; i < 500 && IsWindow(hBox); ++i)
                        Sleep(10);
                    x->upAfterNo = IsWindow(x->hLicense) && IsWindowVisible(x->hLicense);
                    PostMessageW(x->hLicense, x->how, x->how == WM_COMMAND ? IDCANCEL : 0, 0);
                    HWND hAgain = nullptr;
                    for (int i = 0; i < 500 && !hAgain; ++i) {
                        Sleep(10);
                        hAgain = uitest::FindOwnWindow(L"#32770", L"Demo Product");
                    }
                    if (hAgain)
                        uitest::AnswerMessageBox(hAgain, &x->second);
                },
                &ctx);
            result = LicenseDlg(nullptr, &param);
        }
        EXPECT_EQ(IDCANCEL, result);
        EXPECT_TRUE(ctx.upAfterNo);
        EXPECT_TRUE(ctx.second.found);
        EXPECT_EQ(L"Demo Product", ctx.first.caption);
        EXPECT_EQ(L"Are you sure you want to cancel the installation of Demo Product?",
                  ctx.first.text);
        EXPECT_TRUE(tracesink::Contains("MessageBox(Demo Product, Are you sure you want to cancel "
                                        "the installation of Demo Product?)->7"))
            << tracesink::Dump();
    }
}

TEST_F(LicenseTest, CloseAndPrintWithoutPrinter)
{
    LICENSEDLGPARAM param = {&TestRun(), uitest::LauncherResources(), 2057, 0, FALSE};
    INT_PTR result;
    {
        uitest::WindowWatcher watcher(
            IsLicenseWindow,
            [](HWND h, void*) {
                // No printer here: Print does nothing and the dialog stays.
                SendMessageW(h, WM_COMMAND, IDC_PRINT, 0);
                if (IsWindow(h))
                    PostMessageW(h, WM_CLOSE, 0, 0);
            },
            nullptr);
        result = LicenseDlg(nullptr, &param);
    }
    EXPECT_EQ(IDCANCEL, result);
    char begin[96];
    snprintf(begin, sizeof(begin), "LicenseDlg > hWnd: 00000000, hInst: %d, uiLangID: 2057",
             static_cast<int>(reinterpret_cast<INT_PTR>(uitest::LauncherResources())));
    EXPECT_TRUE(tracesink::Contains(begin)) << tracesink::Dump();
}

struct TextCase {
    const char* name;
    const char* bytes;      // the license file
    const wchar_t* shown;   // what the rich edit holds
    BOOL rtf;
};

const TextCase kTexts[] = {
    {"plain", "Plain license text.\r\nSecond line.", L"Plain license text.\r\nSecond line.", FALSE},
    {"rtf", "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 Use at \\b your\\b0  own risk.\\par}",
     L"Use at your own risk.", TRUE},
    // Not RTF unless the signature is complete: shown as it stands.
    {"almost rtf", "{\\rtf1 not quite", L"{\\rtf1 not quite", FALSE},
    {"short", "{\\rt", L"{\\rt", FALSE},
    {"empty", "", L"", FALSE},
};

TEST_F(LicenseTest, ShowsRtfFormattedAndAnythingElseAsText)
{
    for (const TextCase& c : kTexts) {
        SCOPED_TRACE(c.name);
        std::wstring file = m_dir.File(L"license.any");
        uitest::WriteFileBytes(file, c.bytes);
        EXPECT_EQ(c.rtf, IsaRTFFile(file.c_str()));

        HWND hEdit = CreateWindowExW(0, L"RichEdit20W", L"", WS_POPUP | ES_MULTILINE, 0, 0, 400,
                                     200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, hEdit);
        EXPECT_TRUE(LoadLicenseText(hEdit, file.c_str()));
        std::wstring text = WindowText(hEdit);
        // The final paragraph mark of RTF content is not part of the text.
        while (c.rtf && !text.empty() && (text.back() == L'\r' || text.back() == L'\n'))
            text.pop_back();
        EXPECT_EQ(c.shown, text);
        DestroyWindow(hEdit);
    }
}

std::string Utf16Bytes(const std::wstring& text, bool bigEndian)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t ch : text) {
        char hi = static_cast<char>(ch >> 8), lo = static_cast<char>(ch & 0xFF);
        bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return bytes;
}

struct EncodingCase {
    const char* name;
    std::string bytes;
    TEXTENCODING encoding;
    size_t mark;
    const wchar_t* shown;
    bool ansiOnly;  // shown as expected only where the ANSI code page is 1252
};

const EncodingCase kEncodings[] = {
    {"ascii", "As is.", TEXT_UTF8, 0, L"As is.", false},
    {"utf-8 with mark", "\xEF\xBB\xBF\xC2\xAB tel quel \xC2\xBB", TEXT_UTF8, 3,
     L"\u00AB tel quel \u00BB", false},
    {"utf-8 without mark", "\xC2\xAB tel quel \xC2\xBB", TEXT_UTF8, 0,
     L"\u00AB tel quel \u00BB", false},
    {"utf-8 of three and four bytes", "\xE2\x82\xAC \xF0\x9F\x98\x80", TEXT_UTF8, 0,
     L"\u20AC \U0001F600", false},
    {"utf-16le with mark", Utf16Bytes(L"\u00AB tel quel \u00BB", false), TEXT_UTF16LE, 2,
     L"\u00AB tel quel \u00BB", false},
    {"utf-16be with mark", Utf16Bytes(L"\u00AB tel quel \u00BB", true), TEXT_UTF16BE, 2,
     L"\u00AB tel quel \u00BB", false},
    {"ansi", "\xAB tel quel \xBB", TEXT_ANSI, 0, L"\u00AB tel quel \u00BB", true},
    // Not well-formed UTF-8: read as ANSI.
    {"utf-8 cut at the end", "caf\xC3", TEXT_ANSI, 0, L"caf\u00C3", true},
    {"overlong slash", "a\xC0\xAF", TEXT_ANSI, 0, L"a\u00C0\u00AF", true},
    {"surrogate", "\xED\xA0\x80", TEXT_ANSI, 0, nullptr, true},
    {"above U+10FFFF", "\xF4\x90\x80\x80", TEXT_ANSI, 0, nullptr, true},
    {"lone continuation", "\x80", TEXT_ANSI, 0, L"\u20AC", true},
    {"empty", "", TEXT_UTF8, 0, L"", false},
};

TEST_F(LicenseTest, TextLicensesAreReadInTheirEncoding)
{
    for (const EncodingCase& c : kEncodings) {
        SCOPED_TRACE(c.name);
        const BYTE* p = reinterpret_cast<const BYTE*>(c.bytes.data());
        size_t mark = 99;
        EXPECT_EQ(c.encoding, DetectTextEncoding(p, c.bytes.size(), &mark));
        EXPECT_EQ(c.mark, mark);
        EXPECT_EQ(c.encoding == TEXT_UTF8, IsValidUtf8(p, c.bytes.size()) != FALSE);
        if (!c.shown || (c.ansiOnly && GetACP() != 1252))
            continue;

        std::wstring file = m_dir.File(L"license.txt");
        uitest::WriteFileBytes(file, c.bytes);
        HWND hEdit = CreateWindowExW(0, L"RichEdit20W", L"", WS_POPUP | ES_MULTILINE, 0, 0, 400,
                                     200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, hEdit);
        tracesink::Clear();
        EXPECT_TRUE(LoadLicenseText(hEdit, file.c_str()));
        EXPECT_EQ(c.shown, WindowText(hEdit));
        const char* names[] = {"ANSI", "UTF-8", "UTF-16LE", "UTF-16BE"};
        EXPECT_TRUE(tracesink::Contains("LoadLicenseText(" + Utf8(file) + ")->Text " +
                                        names[c.encoding]))
            << tracesink::Dump();
        DestroyWindow(hEdit);
    }
}

// A text longer than the window: what the reader sees first.
std::string LongLicense(size_t lines)
{
    std::string text;
    for (size_t i = 1; i <= lines; ++i)
        text += "Clause " + std::to_string(i) + ": the licensee reads every clause.\r\n";
    return text;
}

TEST_F(LicenseTest, OpensAtTheTopWithNothingSelected)
{
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"text", LongLicense(200)},
        {"rtf", "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 " + LongLicense(200) + "}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uitest::WriteFileBytes(TestRun().project.szLicenseFile, c.bytes);
        struct Seen {
            CHARRANGE atStart = {-1, -1}, afterTabBack = {-1, -1};
            LRESULT firstLine = -1;
            bool focusInText = false;
        } seen;
        LICENSEDLGPARAM param = {&TestRun(), uitest::LauncherResources(), 2057, 0, FALSE};
        {
            uitest::WindowWatcher watcher(
                IsLicenseWindow,
                [](HWND h, void* p) {
                    auto* s = static_cast<Seen*>(p);
                    HWND hEdit = GetDlgItem(h, IDC_LICENSE_TEXT);
                    SendMessageW(hEdit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&s->atStart));
                    s->firstLine = SendMessageW(hEdit, EM_GETFIRSTVISIBLELINE, 0, 0);
                    GUITHREADINFO gti = {sizeof(gti)};
                    if (GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gti))
                        s->focusInText = gti.hwndFocus == hEdit;
                    // Tab away and back: the place is kept, the text not selected.
                    SendMessageW(h, WM_NEXTDLGCTL, 0, FALSE);
                    SendMessageW(h, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hEdit), TRUE);
                    SendMessageW(hEdit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&s->afterTabBack));
                    PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
                },
                &seen);
            EXPECT_EQ(IDCANCEL, LicenseDlg(nullptr, &param));
            EXPECT_TRUE(watcher.Ran());
        }
        EXPECT_EQ(0, seen.atStart.cpMin);
        EXPECT_EQ(0, seen.atStart.cpMax);
        EXPECT_EQ(0, seen.firstLine);
        EXPECT_TRUE(seen.focusInText);
        EXPECT_EQ(seen.afterTabBack.cpMin, seen.afterTabBack.cpMax);
    }
}

// A long license loads behind the wait window, which carries the dialog's
// title and says what is happening; the whole text arrives.
TEST_F(LicenseTest, LongLicenseLoadsBehindTheWaitWindow)
{
    std::string text = LongLicense(6000);
    ASSERT_GE(text.size(), LICENSE_WAIT_BYTES);
    uitest::WriteFileBytes(TestRun().project.szLicenseFile, text);
    struct Seen {
        std::wstring waitMessage;
        std::wstring text;
    } seen;
    LICENSEDLGPARAM param = {&TestRun(), uitest::LauncherResources(), 2057, 0, FALSE};
    {
        uitest::WindowWatcher waitWatcher(
            [](HWND h, void*) {
                return IsWindowVisible(h) && WindowText(h) == kTitle &&
                       !GetDlgItem(h, IDC_LICENSE_TEXT);
            },
            [](HWND h, void* p) {
                static_cast<Seen*>(p)->waitMessage = WindowText(GetDlgItem(h, IDC_HEADING));
            },
            &seen);
        uitest::WindowWatcher watcher(
            IsLicenseWindow,
            [](HWND h, void* p) {
                HWND hEdit = GetDlgItem(h, IDC_LICENSE_TEXT);
                GETTEXTLENGTHEX gtl = {GTL_USECRLF | GTL_PRECISE, 1200};
                LRESULT cch = SendMessageW(hEdit, EM_GETTEXTLENGTHEX,
                                           reinterpret_cast<WPARAM>(&gtl), 0);
                std::wstring& text = static_cast<Seen*>(p)->text;
                text.resize(static_cast<size_t>(cch) + 1);
                text.resize(static_cast<size_t>(SendMessageW(
                    hEdit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]))));
                PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
            },
            &seen);
        EXPECT_EQ(IDCANCEL, LicenseDlg(nullptr, &param));
        EXPECT_TRUE(watcher.Ran());
    }
    EXPECT_EQ(L"Loading the license agreement...", seen.waitMessage);
    // The control may end the text with a paragraph mark of its own.
    while (!seen.text.empty() && (seen.text.back() == L'\r' || seen.text.back() == L'\n'))
        seen.text.pop_back();
    text.resize(text.size() - 2);
    // Compared whole: a line end cut between two reads must not become two.
    EXPECT_TRUE(seen.text == uitest::Wide(text)) << seen.text.size() << " of " << text.size();
    EXPECT_TRUE(tracesink::Contains("LicenseProc()->Large license, wait window"));
    EXPECT_TRUE(tracesink::ContainsPrefix("MsgWaitDlg->CreateThread()->Thread=0x"));
    EXPECT_TRUE(tracesink::Contains("MsgWaitDlg()->dwExitCode=0")) << tracesink::Dump();
}

// Closing the wait window cancels the run, and the license dialog with it.
TEST_F(LicenseTest, ClosingTheWaitWindowCancels)
{
    uitest::WriteFileBytes(TestRun().project.szLicenseFile, LongLicense(6000));
    g_bCancel = 0;
    LICENSEDLGPARAM param = {&TestRun(), uitest::LauncherResources(), 2057, 0, FALSE};
    bool shown = false;
    {
        uitest::WindowWatcher waitWatcher(
            [](HWND h, void*) {
                return IsWindowVisible(h) && WindowText(h) == kTitle &&
                       !GetDlgItem(h, IDC_LICENSE_TEXT);
            },
            [](HWND h, void*) { PostMessageW(h, WM_CLOSE, 0, 0); }, nullptr);
        uitest::WindowWatcher watcher(
            IsLicenseWindow,
            [](HWND h, void* p) {
                *static_cast<bool*>(p) = true;
                PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
            },
            &shown);
        EXPECT_EQ(IDCANCEL, LicenseDlg(nullptr, &param));
        EXPECT_TRUE(waitWatcher.Ran());
    }
    EXPECT_FALSE(shown);
    EXPECT_EQ(1, static_cast<LONG>(g_bCancel));
    EXPECT_TRUE(tracesink::Contains("LicenseProc()->Cancelled while loading")) << tracesink::Dump();
    g_bCancel = 0;
}

TEST_F(LicenseTest, MissingFileLeavesTheTextEmpty)
{
    std::wstring missing = m_dir.File(L"nothere.txt");
    EXPECT_FALSE(IsaRTFFile(missing.c_str()));
    EXPECT_TRUE(tracesink::Contains("IsaRTFFile(" + Utf8(missing) + ")->INVALID_HANDLE_VALUE"));
    HWND hEdit = CreateWindowExW(0, L"RichEdit20W", L"", WS_POPUP | ES_MULTILINE, 0, 0, 400, 200,
                                 nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(LoadLicenseText(hEdit, missing.c_str()));
    EXPECT_EQ(L"", WindowText(hEdit));
    DestroyWindow(hEdit);
}

TEST(LicenseDlg, RefusesAMissingParameter)
{
    tracesink::Clear();
    EXPECT_EQ(0, LicenseDlg(nullptr, nullptr));
    EXPECT_TRUE(tracesink::Contains("LicenseDlg > bad parameters!"));
}

}  // namespace
