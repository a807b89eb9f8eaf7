// What this run made: the folders it created and the files it wrote. The
// end of the run removes only these from a folder that was there before it,
// the extraction folder keeps nothing else, and a library is loaded from
// the temporary folders only when this run wrote it.
#pragma once
#include <windows.h>

void NoteRunFolder(LPCWSTR szFolder);
void NoteRunFile(LPCWSTR szFile);
BOOL IsRunFolder(LPCWSTR szFolder);
BOOL IsRunFile(LPCWSTR szFile);
// Forgets everything (for the tests).
void ForgetRunFiles();

// Asked before a library of the run's temporary folders is loaded: TRUE
// when this run wrote the file. A file of that name that the run did not
// write is removed; when that fails *pdwError receives the code, and the
// run must stop and load nothing.
BOOL IsOwnLibrary(LPCWSTR szPath, DWORD* pdwError);

// Deletes the files this run wrote below szFolder, then the folders it made
// there, deepest first and only when empty. The folder itself stays.
void RemoveRunFiles(LPCWSTR szFolder);

// Removes szFolder, then each folder above it, as long as this run made it
// and it is empty.
void RemoveEmptyRunFolders(LPCWSTR szFolder);

// Removes from szFolder every file and every link that this run did not
// write, and the emptied folders it did not make; links are never entered.
// ERROR_SUCCESS, or the code of the first removal that failed.
DWORD RemoveForeignFiles(LPCWSTR szFolder);

// The files of szFolder (and its sub-folders) with their sizes and times,
// so that the files an outside library writes there can be told apart.
class CFolderSnapshot {
public:
    explicit CFolderSnapshot(LPCWSTR szFolder);
    ~CFolderSnapshot();
    CFolderSnapshot(const CFolderSnapshot&) = delete;
    CFolderSnapshot& operator=(const CFolderSnapshot&) = delete;
    // Notes as this run's every file and folder that is new or changed.
    void NoteChanges();

private:
    struct Entries;
    Entries* m_pEntries;
};
