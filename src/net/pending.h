// Until the progress model and the error report are in the tree, the
// downloads use these small stand-ins.
#pragma once
#include "payload/piececopy.h"
#if __has_include("ui/progress.h")
#include "ui/progress.h"
#else
#include <windows.h>
#include "common/trace.h"

class CSetupProgress {
public:
    ULONGLONG MaxData = 0;
    ULONGLONG m_ullBytesDone = 0;
    void DefineData(ULONGLONG ull) { MaxData = ull ? ull : 1; }
    void NewStep(ULONGLONG) {}
    ULONGLONG GetBytesDone() const { return m_ullBytesDone; }
    void SetBytesDone(ULONGLONG ull) { m_ullBytesDone = ull; }
    ULONGLONG AddBytesDone(ULONGLONG ull) { return m_ullBytesDone += ull; }
};
inline CSetupProgress g_Progress;

class CFileHandle {
public:
    CFileHandle() : m_h(INVALID_HANDLE_VALUE) {}
    ~CFileHandle() { Close(); }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    HANDLE Get() const { return m_h; }
    BOOL IsValid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    void Reset(HANDLE h = INVALID_HANDLE_VALUE) { Close(); m_h = h; }
    void Close()
    {
        if (IsValid())
            CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_h;
};

inline DWORD ReportLastError(LPCWSTR szOperation, DWORD dwError)
{
    if (dwError == 0)
        dwError = GetLastError();
    if (dwError == 0)
        dwError = ERROR_GEN_FAILURE;
    DebugTrace(L"%s->%s (%d)", szOperation, L"", static_cast<int>(dwError));
    return dwError;
}
#endif
