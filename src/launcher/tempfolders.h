// The run's temporary folders: taken so that no two runs share one and no
// one else's folder is used, and removed at the end as far as the run made
// them.
//
// The scratch folder keeps its documented name, <TEMP>\{A6E044B8-...}, for
// the first run. A run that finds that name in use by another live run, or
// finds there what is not a folder of this user's own (a file, a link, a
// folder of another owner, one it can not clear), takes a private one:
// <TEMP>\{A6E044B8-...}.<process id>, or .<process id>.<n> when that is
// taken too. Data and extraction folders live inside it.
#pragma once
#include <windows.h>
#include "common/capacity.h"

// Takes a scratch folder below szTemp into szScratch, created with the
// private access list and locked for the run's life. 0, or the error code
// when no folder could be had.
[[nodiscard]] DWORD TakeScratchFolder(LPCWSTR szTemp, WCHAR (&szScratch)[PATH_CCH], HANDLE* phLock);

// Makes the resume-mode folder <TEMP>\<GUID> the run's own: created when
// missing, a link in its place replaced by a real folder, links inside it
// removed and its access list reset. FALSE when it is a file or another
// user's folder: the run then does without resume mode.
[[nodiscard]] BOOL TakeResumeFolder(LPCWSTR szFolder);

// Ends the scratch folder szScratch: everything in it goes, then the lock and the
// folder. With szKeep (a folder inside it that a RunOnce command still
// needs) that folder stays, and so does the scratch folder with a note of
// szRunOnceValue: a later run removes it once that value is gone.
void ReleaseScratchFolder(LPCWSTR szScratch, HANDLE hLock, LPCWSTR szKeep, LPCWSTR szRunOnceValue);

// The target folder at the end of a run: removed with all in it when the
// run made it (or chose it), else only what the run wrote there.
void RemoveTargetFolder(LPCWSTR szFolder, BOOL bOwn);

// TRUE for "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (hex digits).
BOOL IsGuidForm(LPCWSTR szGuid);
