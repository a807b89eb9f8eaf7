// What the status window shows beside its step bar: stand-in controls bound
// to the progress object record the step text each time the bar moves.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace steplook {

struct Look {
    DWORD pos;          // step bar position
    std::wstring text;  // step text at that moment
};

// Binds a recording step bar, a step text and (withMainBar) a main bar to
// g_Progress for its lifetime; restores the previous bindings afterwards.
// Single-threaded use: the bar records on the thread that owns it.
class Recorder {
public:
    explicit Recorder(bool withMainBar);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    const std::vector<Look>& Looks() const;
    // Looks with the bar full and no text beside it.
    std::vector<Look> FullWithoutText() const;

private:
    HWND m_hStepBar, m_hStepText, m_hMainBar;
    HWND m_hOldStepBar, m_hOldStepText, m_hOldMainBar;
};

}  // namespace steplook
