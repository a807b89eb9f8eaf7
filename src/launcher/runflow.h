// The launcher's run flow, from the command line to the exit code.
#pragma once
#include <windows.h>

// Payload found at start-up: the DATA resource, else a payload appended to
// the program file. The worker extracts whichever was found.
extern HGLOBAL g_hDataRes;
extern DWORD g_dwDataResSize;
extern BOOL g_bDataFile;
extern DWORD g_dwDataFileOffset;
BOOL HasPayload();

// Language identifier handed to the dialogs: the chosen entry of the
// language list, or the configured default when there is no list.
DWORD ChosenLanguageId();

// TRUE when the process token is a member of the built-in Administrators.
BOOL IsRunAsAdmin();

// The text that /INFO shows: the package's languages with their names.
void BuildInformationText(LPWSTR szText, size_t cchText);

// The whole run: returns the process exit code.
DWORD RunLauncher(HINSTANCE hInst, HINSTANCE hPrevInst, LPWSTR lpCmdLine, int nCmdShow);
