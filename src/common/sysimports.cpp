// The program imports only libraries that every supported Windows loads
// from its own folder (kernel32, user32, gdi32, advapi32, the C runtime).
// A library it imported besides those, and each library that one imports,
// would be looked for beside the program before the DLL search is locked
// down, where a planted copy could be waiting.
//
// So the other system functions the program calls are listed here: each
// one's import entry starts out pointing at a stub that loads the library
// from the system folder on the first call, puts the real function into the
// entry and calls it. Callers are plain Win32 calls; a function missing from
// this list shows as a link error.
#include <windows.h>
#include <commdlg.h>
#include <objbase.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <type_traits>
#include "common/sysdll.h"

// A 64-bit function type may carry a calling-convention attribute that has
// no effect there; the specialisation below matches it all the same.
#pragma GCC diagnostic ignored "-Wignored-attributes"

namespace {

struct SYSTEMIMPORT {
    LPCWSTR szLibrary;
    LPCSTR szName;
    void* volatile* ppEntry;
};

// The library stays loaded for the life of the process. Without it the
// program cannot go on: it ends at once (the trace itself needs it).
FARPROC Resolve(const SYSTEMIMPORT& import)
{
    HMODULE hModule = LoadSystemLibrary(import.szLibrary);
    FARPROC pfn = hModule ? GetProcAddress(hModule, import.szName) : nullptr;
    if (!pfn)
        ExitProcess(ERROR_PROC_NOT_FOUND);
    *import.ppEntry = reinterpret_cast<void*>(pfn);
    return pfn;
}

template <typename T>
struct CSystemImport;

template <typename R, typename... A>
struct CSystemImport<R(WINAPI*)(A...)> {
    template <const SYSTEMIMPORT& import>
    static R WINAPI FirstCall(A... args)
    {
        return reinterpret_cast<R(WINAPI*)(A...)>(Resolve(import))(args...);
    }
    // The bytes of arguments that the 32-bit name decoration counts: each
    // takes whole 4-byte slots, a reference is passed as a pointer.
    static constexpr size_t ArgumentBytes()
    {
        return (size_t(0) + ... +
                (((std::is_reference<A>::value ? sizeof(void*) : sizeof(A)) + 3) & ~size_t(3)));
    }
};

}  // namespace

#if defined(__i386__)
#define IMPORT_ENTRY_NAME(name, bytes) "__imp__" #name "@" #bytes
#else
#define IMPORT_ENTRY_NAME(name, bytes) "__imp_" #name
#endif

// name: the function as the Windows headers declare it; bytes: its
// arguments' size, which 32-bit import names carry.
#define SYSTEM_IMPORT(library, name, bytes)                                                       \
    extern "C" void* g_pImport_##name __asm__(IMPORT_ENTRY_NAME(name, bytes));                      \
    static_assert(sizeof(void*) != 4 ||                                                            \
                      CSystemImport<decltype(&name)>::ArgumentBytes() == (bytes),                  \
                  #name ": argument bytes");                                                       \
    namespace {                                                                                    \
    extern const SYSTEMIMPORT g_Import_##name;                                                     \
    const SYSTEMIMPORT g_Import_##name = {library, #name, &g_pImport_##name};                      \
    }                                                                                              \
    void* g_pImport_##name =                                                                       \
        reinterpret_cast<void*>(&CSystemImport<decltype(&name)>::FirstCall<g_Import_##name>);

#define COMDLG32 L"comdlg32.dll"
#define OLE32 L"ole32.dll"
#define SHELL32 L"shell32.dll"
#define SHLWAPI L"shlwapi.dll"

// License printing.
SYSTEM_IMPORT(COMDLG32, PrintDlgW, 4)

// COM: shell links, the taskbar button, the rich edit control, the worker.
SYSTEM_IMPORT(OLE32, CoCreateInstance, 20)
SYSTEM_IMPORT(OLE32, CoInitialize, 4)
SYSTEM_IMPORT(OLE32, CoInitializeEx, 8)
SYSTEM_IMPORT(OLE32, CoTaskMemFree, 4)
SYSTEM_IMPORT(OLE32, CoUninitialize, 0)
SYSTEM_IMPORT(OLE32, OleInitialize, 4)
SYSTEM_IMPORT(OLE32, OleUninitialize, 0)

// Launching programs, the tray icon, shell notifications.
SYSTEM_IMPORT(SHELL32, SHChangeNotify, 16)
SYSTEM_IMPORT(SHELL32, ShellExecuteExW, 4)
SYSTEM_IMPORT(SHELL32, ShellExecuteW, 24)
SYSTEM_IMPORT(SHELL32, Shell_NotifyIconW, 8)

// Paths, strings, registry trees.
SYSTEM_IMPORT(SHLWAPI, PathAppendW, 8)
SYSTEM_IMPORT(SHLWAPI, PathCombineW, 12)
SYSTEM_IMPORT(SHLWAPI, PathFileExistsW, 4)
SYSTEM_IMPORT(SHLWAPI, PathFindExtensionW, 4)
SYSTEM_IMPORT(SHLWAPI, PathFindFileNameW, 4)
SYSTEM_IMPORT(SHLWAPI, PathIsDirectoryW, 4)
SYSTEM_IMPORT(SHLWAPI, PathIsRelativeW, 4)
SYSTEM_IMPORT(SHLWAPI, PathIsRootW, 4)
SYSTEM_IMPORT(SHLWAPI, PathQuoteSpacesW, 4)
SYSTEM_IMPORT(SHLWAPI, PathRemoveBlanksW, 4)
SYSTEM_IMPORT(SHLWAPI, PathRemoveExtensionW, 4)
SYSTEM_IMPORT(SHLWAPI, PathRemoveFileSpecW, 4)
SYSTEM_IMPORT(SHLWAPI, PathRenameExtensionW, 8)
SYSTEM_IMPORT(SHLWAPI, PathStripPathW, 4)
SYSTEM_IMPORT(SHLWAPI, PathStripToRootW, 4)
SYSTEM_IMPORT(SHLWAPI, PathUnquoteSpacesW, 4)
SYSTEM_IMPORT(SHLWAPI, SHDeleteKeyW, 8)
SYSTEM_IMPORT(SHLWAPI, StrToIntW, 4)
SYSTEM_IMPORT(SHLWAPI, StrTrimW, 8)
SYSTEM_IMPORT(SHLWAPI, wvnsprintfA, 16)
