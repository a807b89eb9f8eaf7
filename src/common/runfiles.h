// What this run made: the folders it created and the files it wrote. The
// end of the run removes only these from a folder that was there before it,
// the extraction folder keeps nothing else, and a library is loaded from
// the temporary folders only when this run wrote it.
#pragma once
#include <windows.h>

void NoteRunFolder(LPCWSTR szFolder);
void NoteRunFile(LPCWSTR szFile);
[[nodiscard]] BOOL IsRunFolder(LPCWSTR szFolder);
[[nodiscard]] BOOL IsRunFile(LPCWSTR szFile);
// Forgets everything: a run starts with nothing of its own.
void ForgetRunFiles();

// Asked before a library of the run's temporary folders is loaded: TRUE
// when this run wrote the file. A file of that name that the run did not
// write is removed; when that fails *pdwError receives the code, and the
// run must stop and load nothing.
[[nodiscard]] BOOL IsOwnLibrary(LPCWSTR szPath, DWORD* pdwError);

// Deletes the files this run wrote below szFolder, then the folders it made
// there, deepest first and only when empty. The folder itself stays.
void RemoveRunFiles(LPCWSTR szFolder);

// Puts a folder back as the run found it after a failed or cancelled
// extraction: the run's files and folders below it go, and the folder
// itself and the parents the run created for it, when they are empty.
void UndoRunFolder(LPCWSTR szFolder);

// A folder the run extracts into that was there before it and goes again
// at the end (DeleteFiles=1): what it already held is the user's. The run
// may not replace those files, since the end of the run would delete what
// took their place.
void KeepFilesOf(LPCWSTR szFolder);
// ERROR_SUCCESS when the run may write over szPath: nothing there, a file
// this run wrote, or a place outside the kept folder; else ERROR_FILE_EXISTS.
[[nodiscard]] DWORD MayReplace(LPCWSTR szPath);
