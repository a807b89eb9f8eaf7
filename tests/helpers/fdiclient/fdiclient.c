/* fdiclient CABINET FOLDER: unpacks every member with its folders, nothing
   else (no progress, no checks, no time stamps). Exit code: 0, or the FDI
   error code + 100. */
#include <windows.h>
#include <fcntl.h>
#include <fdi.h>
#include <stdio.h>
#include <string.h>

static char g_target[MAX_PATH];

static FNALLOC(Alloc) { return HeapAlloc(GetProcessHeap(), 0, cb); }
static FNFREE(Free) { HeapFree(GetProcessHeap(), 0, pv); }
static FNOPEN(Open)
{
    (void)pmode;
    HANDLE h = CreateFileA(pszFile, (oflag & (_O_WRONLY | _O_RDWR)) ? GENERIC_WRITE : GENERIC_READ,
                           FILE_SHARE_READ, NULL, (oflag & _O_CREAT) ? CREATE_ALWAYS : OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    return h == INVALID_HANDLE_VALUE ? -1 : (INT_PTR)h;
}
static FNREAD(Read) { DWORD n = 0; return ReadFile((HANDLE)hf, pv, cb, &n, NULL) ? n : (UINT)-1; }
static FNWRITE(Write) { DWORD n = 0; return WriteFile((HANDLE)hf, pv, cb, &n, NULL) ? n : (UINT)-1; }
static FNCLOSE(Close) { return CloseHandle((HANDLE)hf) ? 0 : -1; }
static FNSEEK(Seek) { return (long)SetFilePointer((HANDLE)hf, dist, NULL, seektype); }

static FNFDINOTIFY(Notify)
{
    char path[MAX_PATH];
    if (fdint == fdintCOPY_FILE) {
        if (snprintf(path, sizeof(path), "%s\\%s", g_target, pfdin->psz1) >= (int)sizeof(path))
            return -1;
        for (char* p = path + strlen(g_target) + 1; *p; ++p) {
            if (*p == '\\') {
                *p = '\0';
                CreateDirectoryA(path, NULL);
                *p = '\\';
            }
        }
        return Open(path, _O_WRONLY | _O_CREAT, 0);
    }
    if (fdint == fdintCLOSE_FILE_INFO)
        return Close(pfdin->hf) == 0;
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: fdiclient CABINET FOLDER\n");
        return 87;
    }
    char folder[MAX_PATH], *name;
    if (!GetFullPathNameA(argv[1], sizeof(folder), folder, &name) || !name)
        return 2;
    char cabinet[MAX_PATH];
    strcpy(cabinet, name);
    *name = '\0';
    strcpy(g_target, argv[2]);
    CreateDirectoryA(g_target, NULL);
    ERF erf = {0};
    HFDI hfdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &erf);
    if (!hfdi)
        return 100 + erf.erfOper;
    BOOL ok = FDICopy(hfdi, cabinet, folder, 0, Notify, NULL, NULL);
    FDIDestroy(hfdi);
    return ok ? 0 : 100 + erf.erfOper;
}
