// What the run did not make, in a folder it owns: removed before the setup
// program sees the folder, or told apart from what an outside library wrote
// there.
#pragma once
#include <windows.h>

// Removes from szFolder every file and every link that this run did not
// write, and the emptied folders it did not make; links are never entered.
// ERROR_SUCCESS, or the code of the first removal that failed.
[[nodiscard]] DWORD RemoveForeignFiles(LPCWSTR szFolder);

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
