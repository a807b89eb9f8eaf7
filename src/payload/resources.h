// Resources the launcher carries besides its configuration: writing one to
// a file, the language pack "BINARY" 130, the whole payload as resource
// "DATA" 131 and the skin pack "CORVEL" 135.
#pragma once
#include <windows.h>
#include "payload/plan.h"

enum : DWORD {
    RESOURCE_CHUNK = 1024 * 1024,             // resources are written in 1 MiB blocks
    DATARES_SMALL_LIMIT = 100 * 1024 * 1024,  // above it, chunks are size / 100
    DATARES_CHUNK_DIVISOR = 100,
    DATARES_WRITE_END = 40,                   // writing fills the step bar to 40
    DATARES_UNPACK_END = 100,
};

// Writes the DATA resource to the data folder\SETUPZK.CAB and unpacks it into the
// target folder. 13 without resource data, 0 for an empty one, else the
// unpacking result; a full disk is noted in *pFailure (when given).
[[nodiscard]] DWORD ExtractDATARes(const RUNCONTEXT& ctx, HGLOBAL hResData, DWORD dwSize,
                                   EXTRACTFAILURE* pFailure = nullptr);

// Unpacks the skin pack into the scratch folder, loads Corvel.dll from there and
// starts it. The library's handle, or null when the program stays unskinned.
// *pnFrameTop (when given) receives the top height of the skin's frame, for
// the in-app message zone; 0 without skin.
// Only the copy this run unpacked is loaded; when another file of that name
// is there and can not be removed, *pdwError (when given) receives the code
// and the run must stop.
[[nodiscard]] HMODULE SetCorvelThm(const RUNCONTEXT& ctx, DWORD* pdwError = nullptr,
                                   int* pnFrameTop = nullptr);

// Calls the skin library's shutdown export and releases it.
void FreeCorvelThm(HMODULE hCorvel);

// Writes resource uResId of type szResType in hModule to szTarget, in
// RESOURCE_CHUNK blocks when it is larger. 0 when all of it was written, or
// the reason.
[[nodiscard]] DWORD ExtractRes(HMODULE hModule, UINT uResId, LPCWSTR szResType,
                               LPCWSTR szTarget);

// Unpacks the chosen language library, the neutral files and the license
// file from the language pack into the scratch folder; sets szLicenseFile and
// bLicense. 0 done; 1813 (ERROR_RESOURCE_TYPE_NOT_FOUND) when the package
// carries no language pack; else the cause of the first part that could
// not be written out (13 a damaged pack, 112 a full disk ...): the run
// then ends, since its license and install script may be among them.
[[nodiscard]] DWORD ExtractBinaryRes(RUNCONTEXT& ctx);
