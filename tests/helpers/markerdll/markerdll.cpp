// Loaded as code, it appends its own path to the file named by the
// environment variable STOWAWAY_MARKER. Loaded as resources, its strings
// all read "PLANTED".
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    if (dwReason != DLL_PROCESS_ATTACH)
        return TRUE;
    WCHAR szMarker[MAX_PATH];
    DWORD cch = GetEnvironmentVariableW(L"STOWAWAY_MARKER", szMarker, MAX_PATH);
    if (!cch || cch >= MAX_PATH)
        return TRUE;
    HANDLE hFile = CreateFileW(szMarker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return TRUE;
    char szPath[MAX_PATH + 2];
    DWORD cb = GetModuleFileNameA(hInstance, szPath, MAX_PATH);
    szPath[cb++] = '\n';
    DWORD cbWritten = 0;
    WriteFile(hFile, szPath, cb, &cbWritten, nullptr);
    CloseHandle(hFile);
    return TRUE;
}
