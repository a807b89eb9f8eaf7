// Moving file bytes in 1 MiB blocks: a byte range out of the launcher file
// (or any file), and whole-file copies under update, resume and locked-file
// rules. Both feed the progress model after every block and stop at the
// cancel flag.
#pragma once
#include <windows.h>

// XCopyFile flags.
enum : DWORD {
    LOCKEDFILE = 0x100,          // a target that can not be replaced now is replaced at restart
    XCOPY_REGISTER = 0x1000,     // register the copied file (COM self-registration)
    UPDATE_DATE = 0x10000,       // copy only over an older target
    UPDATE_SAME = 0x20000,       // ... or one of the same version or date
    UPDATE_VERSION = 0x40000,    // copy only over a lower file version
    CLEAR_FILE_ATTR = 0x100000,  // give the copy normal attributes
    XCOPY_RESUME = 0x200000,     // continue a partial target of an earlier run
    XCOPY_CREATEDIR = 0x400000,  // create the target's folder tree first
};

enum : DWORD {
    COPY_BLOCK_SIZE = 1024 * 1024,
};

// An open file handle, closed exactly once.
class CFileHandle {
public:
    CFileHandle() : m_h(INVALID_HANDLE_VALUE) {}
    explicit CFileHandle(HANDLE h) : m_h(h) {}
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

// Copies size bytes at offset of the source (the open handle hSource, else
// the file szSource) into szTarget. With bResume an existing target is
// continued from its current size. 0, or a Win32 error code; 1223 when
// cancelled.
DWORD ExtractPieceOfFile(HANDLE hSource, LPCWSTR szSource, ULONGLONG ullOffset, ULONGLONG ullSize,
                         LPCWSTR szTarget, BOOL bCreateDir, BOOL bResume);

// Copies szFrom to szTo. Returns 0 on success (and when the rules of the
// flags skip the copy, or the source is missing), else a Win32 error code.
DWORD XCopyFile(LPCWSTR szFrom, LPCWSTR szTo, DWORD dwFlags);

// Logs a failed system call named szOperation with the system's text for
// dwError (the thread's last error when 0) and returns the code.
DWORD ReportLastError(LPCWSTR szOperation, DWORD dwError);
