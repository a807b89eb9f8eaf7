// The run's message boxes, shown or answered by their default button.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "state/state.h"
#include "support/tracesink.h"
#include "ui/msgbox.h"
#include "support/uitest_util.h"

namespace {

TEST(DefaultAnswer, TheButtonThatTheDefaultFlagNames)
{
    const struct {
        UINT type;
        int answer;
    } cases[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_ICONHAND | MB_TOPMOST, IDOK},
        {MB_OK | MB_DEFBUTTON2, IDOK},  // no second button: the first
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_YESNO, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNO | MB_DEFBUTTON3, IDYES},
        {MB_RETRYCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, IDCONTINUE},
        {MB_YESNO | MB_DEFBUTTON4, IDYES},
        {0x0000000F, IDOK},  // no such button set
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.answer, DefaultAnswer(c.type)) << std::hex << c.type;
}

bool IsBoxOfThisProcess(HWND h, void*)
{
    WCHAR cls[16] = L"";
    GetClassNameW(h, cls, 16);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid == GetCurrentProcessId() && !lstrcmpW(cls, L"#32770");
}

void CloseBox(HWND h, void*)
{
    PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
}

TEST(ShowMessageBox, SuppressedBoxesGoToTheTraceWithTheirDefaultAnswer)
{
    g_bSuppressMsgBoxes = TRUE;
    tracesink::Clear();
    int answers[2];
    bool bAppeared;
    {
        // A box that appears anyway is closed, and the test fails.
        uitest::WindowWatcher watcher(IsBoxOfThisProcess, CloseBox, nullptr);
        answers[0] = ShowMessageBox(nullptr, L"(13) The data is invalid.", L"Product",
                                    MB_ICONHAND | MB_TOPMOST);
        answers[1] = ShowMessageBox(nullptr, L"Restart now?\r\nYes or no.", L"Restarting Windows",
                                    MB_YESNO | MB_DEFBUTTON2);
        Sleep(300);
        bAppeared = watcher.Ran();
    }
    g_bSuppressMsgBoxes = FALSE;
    EXPECT_FALSE(bAppeared);
    EXPECT_EQ(IDOK, answers[0]);
    EXPECT_EQ(IDNO, answers[1]);
    EXPECT_EQ(tracesink::Lines(),
              (std::vector<std::string>{
                  "MessageBox(Product, (13) The data is invalid.)->1 (suppressed)",
                  // One line per box, whatever its text.
                  "MessageBox(Restarting Windows, Restart now?\\nYes or no.)->7 (suppressed)"}));
}

TEST(ShowMessageBox, ShownBoxesTraceTheirAnswer)
{
    tracesink::Clear();
    int answer;
    {
        uitest::WindowWatcher watcher(IsBoxOfThisProcess, CloseBox, nullptr);
        answer = ShowMessageBox(nullptr, L"Question", L"Caption", MB_OKCANCEL);
    }
    EXPECT_EQ(IDCANCEL, answer);
    EXPECT_TRUE(tracesink::Contains("MessageBox(Caption, Question)->2")) << tracesink::Dump();
}

}  // namespace
