// INI files and the encodings the system's profile functions read: the
// ANSI code page, or UTF-16 with its byte-order mark. A file in UTF-8
// (with or without its mark, what editors write today) is read through a
// UTF-16 copy, so that no character turns into another.
#pragma once
#include <windows.h>
#include "common/capacity.h"

enum : DWORD {
    PROFILE_MAX_BYTES = 16 * 1024 * 1024,  // larger files are read as they are
};

enum PROFILETEXT {
    PROFILE_ASCII,       // the same text in every encoding
    PROFILE_ANSI,        // beyond ASCII, not UTF-8: the ANSI code page
    PROFILE_UTF16,       // UTF-16LE with its mark: the profile functions read it
    PROFILE_NEEDS_COPY,  // UTF-8 (or UTF-16BE): read through a UTF-16LE copy
    PROFILE_UNREADABLE,  // missing, or larger than PROFILE_MAX_BYTES
};

// How the profile functions would take szFile.
[[nodiscard]] PROFILETEXT ProfileTextOf(LPCWSTR szFile);

// Writes szTarget (replaced) as UTF-16LE with its mark, with the text of
// szSource. 0, or the Win32 error code.
[[nodiscard]] DWORD WriteProfileCopy(LPCWSTR szSource, LPCWSTR szTarget);

// Creates szPath empty, as UTF-16LE with its mark: the profile functions
// then write every character to it as it is. 0, or the reason.
[[nodiscard]] DWORD CreateUnicodeProfile(LPCWSTR szPath);

// The file to hand the profile functions for szFile: the file itself, or
// when it needs one a UTF-16 copy in szCopyFolder (a folder only this run
// writes), removed again with the object. szTraceName begins the trace
// line that tells of the copy.
class CProfileFile {
public:
    CProfileFile(LPCWSTR szFile, LPCWSTR szCopyFolder, LPCWSTR szTraceName);
    ~CProfileFile();
    CProfileFile(const CProfileFile&) = delete;
    CProfileFile& operator=(const CProfileFile&) = delete;
    LPCWSTR Path() const { return m_pszPath; }

private:
    WCHAR m_szCopy[PATH_CCH];
    LPCWSTR m_pszPath;
};
