// Copying a byte range out of the launcher file (or any file) in 1 MiB
// blocks, feeding the progress model and stopping at the cancel flag.
#pragma once
#include <windows.h>

#include "common/sha256.h"

// Copies size bytes at offset of the source (the open handle hSource, else
// the file szSource) into szTarget. With bResume an existing target is
// continued from its current size. Every byte of the piece read from the
// source (the part kept by a resume too) goes into pHash when given. 0, or a
// Win32 error code; 1223 when cancelled.
[[nodiscard]] DWORD ExtractPieceOfFile(HANDLE hSource, LPCWSTR szSource, ULONGLONG ullOffset,
                                       ULONGLONG ullSize, LPCWSTR szTarget, BOOL bCreateDir,
                                       BOOL bResume, SHA256CONTEXT* pHash = nullptr);
