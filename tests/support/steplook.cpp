#include "support/steplook.h"
#include <commctrl.h>
#include "ui/progress.h"

namespace steplook {

namespace {

const wchar_t kBarClass[] = L"StepLookBar";
std::vector<Look> g_looks;
HWND g_hText;

LRESULT CALLBACK BarProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == PBM_SETPOS) {
        WCHAR szText[256] = L"";
        GetWindowTextW(g_hText, szText, ARRAYSIZE(szText));
        g_looks.push_back({static_cast<DWORD>(wParam), szText});
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

HWND Create(const wchar_t* cls)
{
    return CreateWindowExW(0, cls, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

Recorder::Recorder(bool withMainBar)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = BarProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kBarClass;
    RegisterClassW(&wc);  // fails harmlessly when already registered
    g_looks.clear();
    m_hStepBar = Create(kBarClass);
    m_hStepText = g_hText = Create(L"STATIC");
    m_hMainBar = withMainBar ? Create(L"STATIC") : nullptr;
    m_hOldStepBar = g_Progress.m_hStepBar;
    m_hOldStepText = g_Progress.m_hStepText;
    m_hOldMainBar = g_Progress.m_hMainBar;
    g_Progress.m_hStepBar = m_hStepBar;
    g_Progress.m_hStepText = m_hStepText;
    g_Progress.m_hMainBar = m_hMainBar;
}

Recorder::~Recorder()
{
    g_Progress.m_hStepBar = m_hOldStepBar;
    g_Progress.m_hStepText = m_hOldStepText;
    g_Progress.m_hMainBar = m_hOldMainBar;
    for (HWND h : {m_hStepBar, m_hStepText, m_hMainBar}) {
        if (h)
            DestroyWindow(h);
    }
    g_hText = nullptr;
}

const std::vector<Look>& Recorder::Looks() const
{
    return g_looks;
}

std::vector<Look> Recorder::FullWithoutText() const
{
    std::vector<Look> out;
    for (const Look& look : g_looks) {
        if (look.pos >= g_Progress.MaxBar && look.text.empty())
            out.push_back(look);
    }
    return out;
}

}  // namespace steplook
