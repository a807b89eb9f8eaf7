// putres.exe: replaces one resource of a program file with a file's bytes,
// through the system's resource update. The fuzzer uses it to carry a
// language pack whose libraries lie in it byte for byte.
//   putres FILE TYPE ID DATAFILE      TYPE: a name ("BINARY") or a number
// Exit code: 0 done, else the Win32 error.
#include <windows.h>
#include <stdio.h>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: putres FILE TYPE ID DATAFILE\n");
        return ERROR_INVALID_PARAMETER;
    }
    HANDLE hData = CreateFileW(argv[4], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    if (hData == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    std::vector<BYTE> data(GetFileSize(hData, nullptr));
    DWORD cbRead = 0;
    BOOL bRead = data.empty() ||
                 ReadFile(hData, data.data(), static_cast<DWORD>(data.size()), &cbRead, nullptr);
    CloseHandle(hData);
    if (!bRead || cbRead != data.size())
        return ERROR_READ_FAULT;
    LPCWSTR szType = argv[2];
    if (szType[0] >= L'0' && szType[0] <= L'9')
        szType = MAKEINTRESOURCEW(_wtoi(argv[2]));
    HANDLE hUpdate = BeginUpdateResourceW(argv[1], FALSE);
    if (!hUpdate)
        return static_cast<int>(GetLastError());
    if (!UpdateResourceW(hUpdate, szType, MAKEINTRESOURCEW(_wtoi(argv[3])),
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), data.data(),
                         static_cast<DWORD>(data.size()))) {
        DWORD dwError = GetLastError();
        EndUpdateResourceW(hUpdate, TRUE);
        return static_cast<int>(dwError);
    }
    if (!EndUpdateResourceW(hUpdate, FALSE))
        return static_cast<int>(GetLastError());
    return 0;
}
