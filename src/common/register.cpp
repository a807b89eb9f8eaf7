#include "common/register.h"
#include <objbase.h>
#include <ole2.h>
#include <shlwapi.h>
#include "common/boundedtext.h"
#include "common/capacity.h"
#include "common/errors.h"
#include "common/trace.h"
#include "common/handles.h"
#include "common/textcmp.h"
#include "common/process.h"

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
#define LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000
#endif

namespace {

enum : unsigned {
    REGISTER_CMDLINE_CCH = 1024,  // extra parameters of a registering program: 1023 characters
};

typedef HRESULT(STDAPICALLTYPE* PFN_DLLREGISTER)();

// Loads a DLL with its own folder and the system folder as the only search
// places, so that it finds its companions without the current directory
// joining the search.
HMODULE LoadLibraryBesideItself(LPCWSTR szFile)
{
    HMODULE h = LoadLibraryExW(szFile, nullptr,
                               LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!h && GetLastError() == ERROR_INVALID_PARAMETER)
        h = LoadLibraryExW(szFile, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return h;
}

// 0, or the reason: the library's own when it says a Win32 code, else 1627
// (ERROR_FUNCTION_FAILED).
DWORD RegisterDll(LPCWSTR szFile, BOOL bRegister)
{
    LPCSTR szFunction = bRegister ? "DllRegisterServer" : "DllUnregisterServer";
    LPCWSTR szName = bRegister ? L"DllRegisterServer" : L"DllUnregisterServer";
    DWORD dwResult = ERROR_PROC_NOT_FOUND;
    HRESULT hrInit = OleInitialize(nullptr);
    {
        CModule library(LoadLibraryBesideItself(szFile));
        if (!library.Get()) {
            dwResult = LastErrorOr(ERROR_MOD_NOT_FOUND);
            DebugTrace(L"RegisterFile()->LoadLibrary(%s) failed (%d)", szFile,
                       static_cast<int>(dwResult));
        } else {
            auto pfn = reinterpret_cast<PFN_DLLREGISTER>(
                reinterpret_cast<void*>(GetProcAddress(library.Get(), szFunction)));
            if (pfn) {
                HRESULT hr = pfn();
                if (hr == S_OK) {
                    DebugTrace(L"RegisterFile()->%s %s successfully!", szFile, szName);
                    dwResult = ERROR_SUCCESS;
                } else {
                    DebugTrace(L"RegisterFile()->%s %s failed! (%x)", szFile, szName,
                               static_cast<unsigned>(hr));
                    dwResult = ErrorOfHresult(hr);
                }
            }
        }
    }
    if (SUCCEEDED(hrInit))
        OleUninitialize();
    return dwResult;
}

}  // namespace

DWORD RegisterFile(LPCWSTR szFile, LPCWSTR szParams, BOOL bRegister)
{
    if (!PathFileExistsW(szFile)) {
        DebugTrace(L"RegisterFile(%s, %s, %d)->File doesn't exits!", szFile, szParams, bRegister);
        return ERROR_FILE_NOT_FOUND;
    }
    LPCWSTR szExt = PathFindExtensionW(szFile);
    if (ScriptCompareNoCase(szExt, L".exe") == 0) {
        WCHAR szCmdLine[REGISTER_CMDLINE_CCH];
        if (FAILED(StringCchCopyW(szCmdLine, ARRAYSIZE(szCmdLine), szParams)) ||
            FAILED(StringCchCatW(szCmdLine, ARRAYSIZE(szCmdLine),
                                 bRegister ? L" /regserver" : L" /unregserver"))) {
            DebugTrace(L"RegisterFile(%s, %s, %d)->Parameters too long!", szFile, szParams,
                       bRegister);
            return ERROR_FILENAME_EXCED_RANGE;
        }
        DWORD dwExitCode = 0;
        return ExecuteFile(nullptr, szFile, szCmdLine, nullptr, L"open", TRUE, SW_HIDE,
                           &dwExitCode, nullptr);
    }
    if (ScriptCompareNoCase(szExt, L".dll") == 0)
        return RegisterDll(szFile, bRegister);
    DebugTrace(L"RegisterFile(%s, %s, %d)->File not supported!", szFile, szParams, bRegister);
    return ERROR_NOT_SUPPORTED;
}
