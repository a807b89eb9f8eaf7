// Loaded into a process, it writes "<its own path>.loaded" holding the
// loading program's path, and refuses to stay: the process goes on with the
// library it meant to load, and the test sees which copy was taken.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInst, DWORD dwReason, LPVOID)
{
    if (dwReason != DLL_PROCESS_ATTACH)
        return TRUE;
    WCHAR szSelf[MAX_PATH + 8];
    DWORD cch = GetModuleFileNameW(hInst, szSelf, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return FALSE;
    lstrcatW(szSelf, L".loaded");
    HANDLE h = CreateFileW(szSelf, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        char szProgram[MAX_PATH * 3] = "";
        WCHAR szProgramW[MAX_PATH];
        DWORD cchProgram = GetModuleFileNameW(nullptr, szProgramW, MAX_PATH);
        int cb = WideCharToMultiByte(CP_UTF8, 0, szProgramW, static_cast<int>(cchProgram), szProgram,
                                     sizeof(szProgram) - 2, nullptr, nullptr);
        if (cb < 0)
            cb = 0;
        szProgram[cb++] = '\n';
        DWORD cbWritten = 0;
        WriteFile(h, szProgram, static_cast<DWORD>(cb), &cbWritten, nullptr);
        CloseHandle(h);
    }
    return FALSE;
}
