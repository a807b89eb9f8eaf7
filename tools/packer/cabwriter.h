// Writing a cabinet from a list of files, through the system's cabinet
// library (FCI). The packer builds its language and skin packs with it,
// and the tests build their fixtures.
#pragma once
#include <windows.h>

struct CABMEMBER {
    LPCWSTR szSource;  // file to store
    LPCWSTR szName;    // name inside the cabinet, may carry folders
};

// Writes szCabinet (replaced when it exists) with the members in order,
// MSZIP-compressed or stored, every member with the same fixed time, so that
// the same files give the same cabinet; a name beyond ASCII is stored as
// UTF-8 with the attribute that says so. 0 on success, else a Win32 error code.
DWORD CreateCabinet(LPCWSTR szCabinet, const CABMEMBER* pMembers, DWORD dwCount, BOOL bCompress);
