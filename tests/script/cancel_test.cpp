// Cancelling a run while the script copies a folder.
#include <string>
#include "state/state.h"
#include "common/filecopy.h"
#include "script/script.h"
#include "scripttest.h"
#include "support/testrun.h"

using namespace scripttest;

namespace {

class CancelTest : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        m_dir = FreshDir(L"cancel");
        m_n = Narrow(m_dir);
    }
    std::wstring m_dir;
    std::string m_n;
};

// Sets the cancel flag from inside the trace call that reports the end of
// the first file copy: the copy then stops after that file, as it would
// when the user presses Cancel while it runs.
WNDPROC g_listProc;
LRESULT CALLBACK CancelOnFirstCopy(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == LB_ADDSTRING && lParam &&
        wcsstr(reinterpret_cast<LPCWSTR>(lParam), L"XCopyFile()->End("))
        InterlockedExchange(&g_bCancel, 1);
    return CallWindowProcW(g_listProc, hWnd, msg, wParam, lParam);
}

TEST_F(CancelTest, CancelDuringCopyDirStopsAfterTheFileInProgress)
{
    CreateDirectoryW((m_dir + L"\\many").c_str(), nullptr);
    for (int i = 0; i < 20; ++i)
        WriteFile(m_dir + L"\\many\\file" + std::to_wstring(i) + L".bin", std::string(4096, 'x'));
    std::wstring file = m_dir + L"\\script.ini";
    WriteFile(file, "[Scripttrv]\n"
                    "COPYDIR=" + m_n + "\\many," + m_n + "\\out\n"
                    "CREATEDIR=" + m_n + "\\after\n");
    SCRIPTLIST list;
    ASSERT_EQ(ReadScript(file.c_str(), L"[Scripttrv]", list), 2u);

    HWND hDbs = FindWindowW(L"Dbs", nullptr);
    HWND hList = hDbs ? GetDlgItem(hDbs, 120) : nullptr;
    ASSERT_NE(hList, nullptr);
    g_listProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CancelOnFirstCopy)));
    BOOL bCompleted = ProcessScript(TestRun(), list);
    SetWindowLongPtrW(hList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_listProc));

    EXPECT_FALSE(bCompleted);
    int copied = 0;
    for (int i = 0; i < 20; ++i)
        copied += Exists(m_dir + L"\\out\\many\\file" + std::to_wstring(i) + L".bin");
    EXPECT_EQ(copied, 1);
    EXPECT_FALSE(Exists(m_dir + L"\\after"));
    EXPECT_TRUE(Traced("ProcessScript()->process canceled"));
    RemoveTree(m_dir);
}

}  // namespace
