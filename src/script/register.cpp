#include "script/register.h"
#include <objbase.h>
#include <ole2.h>
#include <shlwapi.h>
#include <strsafe.h>
#include "common/capacity.h"
#include "common/trace.h"
#include "script/script.h"
#include "ui/launch.h"

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

// A library loaded for one call, freed once.
class CLibrary {
public:
    explicit CLibrary(LPCWSTR szFile)
    {
        // The DLL's own folder and the system folder only, so that it finds
        // its companions without the current directory joining the search.
        m_h = LoadLibraryExW(szFile, nullptr,
                             LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        if (!m_h && GetLastError() == ERROR_INVALID_PARAMETER)
            m_h = LoadLibraryExW(szFile, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    ~CLibrary()
    {
        if (m_h)
            FreeLibrary(m_h);
    }
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;
    HMODULE Get() const { return m_h; }

private:
    HMODULE m_h;
};

BOOL RegisterDll(LPCWSTR szFile, BOOL bRegister)
{
    LPCSTR szFunction = bRegister ? "DllRegisterServer" : "DllUnregisterServer";
    LPCWSTR szName = bRegister ? L"DllRegisterServer" : L"DllUnregisterServer";
    BOOL bResult = FALSE;
    HRESULT hrInit = OleInitialize(nullptr);
    {
        CLibrary library(szFile);
        if (!library.Get()) {
            DebugTrace(L"RegisterFile()->LoadLibrary(%s) failed (%d)", szFile,
                       static_cast<int>(GetLastError()));
        } else {
            auto pfn = reinterpret_cast<PFN_DLLREGISTER>(
                reinterpret_cast<void*>(GetProcAddress(library.Get(), szFunction)));
            if (pfn) {
                HRESULT hr = pfn();
                if (hr == S_OK) {
                    DebugTrace(L"RegisterFile()->%s %s successfully!", szFile, szName);
                    bResult = TRUE;
                } else {
                    DebugTrace(L"RegisterFile()->%s %s failed! (%x)", szFile, szName,
                               static_cast<unsigned>(hr));
                }
            }
        }
    }
    if (SUCCEEDED(hrInit))
        OleUninitialize();
    return bResult;
}

}  // namespace

BOOL RegisterFile(LPCWSTR szFile, LPCWSTR szParams, BOOL bRegister)
{
    if (!PathFileExistsW(szFile)) {
        DebugTrace(L"RegisterFile(%s, %s, %d)->File doesn't exits!", szFile, szParams, bRegister);
        return FALSE;
    }
    LPCWSTR szExt = PathFindExtensionW(szFile);
    if (ScriptCompareNoCase(szExt, L".exe") == 0) {
        WCHAR szCmdLine[REGISTER_CMDLINE_CCH];
        if (FAILED(StringCchCopyW(szCmdLine, ARRAYSIZE(szCmdLine), szParams)) ||
            FAILED(StringCchCatW(szCmdLine, ARRAYSIZE(szCmdLine),
                                 bRegister ? L" /regserver" : L" /unregserver"))) {
            DebugTrace(L"RegisterFile(%s, %s, %d)->Parameters too long!", szFile, szParams,
                       bRegister);
            return FALSE;
        }
        DWORD dwExitCode = 0;
        return ExecuteFile(nullptr, szFile, szCmdLine, nullptr, L"open", TRUE, SW_HIDE,
                           &dwExitCode, nullptr);
    }
    if (ScriptCompareNoCase(szExt, L".dll") == 0)
        return RegisterDll(szFile, bRegister);
    DebugTrace(L"RegisterFile(%s, %s, %d)->File not supported!", szFile, szParams, bRegister);
    return FALSE;
}
