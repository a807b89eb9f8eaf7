// The license dialog: texts, the accept rule, the buttons, RTF or plain text.
#include <gtest/gtest.h>
#include <richedit.h>
#include <string>
#include "common/sysdll.h"
#include "launcher/projectinfo.h"
#include "support/tracesink.h"
#include "ui/license.h"
#include "ui/res/resource.h"
#include "uitest_util.h"

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
        lstrcpyW(g_szProductNameShort, L"Demo Product");
        std::wstring file = m_dir.File(L"License.txt");
        uitest::WriteFileBytes(file, "Plain license text.\r\nSecond line.");
        lstrcpynW(g_ProjectInfo.szLicenseFile, file.c_str(), 260);
    }

    ScratchDir m_dir;
    static HMODULE s_hRichEdit;
};
HMODULE LicenseTest::s_hRichEdit;

bool IsLicenseWindow(HWND h, void*)
{
    return IsWindowVisible(h) && WindowText(h) == kTitle;
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
        LICENSEDLGPARAM param = {uitest::LauncherResources(), 2057, c.options, c.acceptedAtStart};
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

TEST_F(LicenseTest, CloseAndPrintWithoutPrinter)
{
    LICENSEDLGPARAM param = {uitest::LauncherResources(), 2057, 0, FALSE};
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
