// Every message box of the run goes through here: with -SUPPRESSMSGBOXES
// no box appears, its text goes to the trace and it takes its default
// answer, so that an unattended run never waits for a person.
#pragma once
#include <windows.h>

// MessageBox, or its default answer when boxes are suppressed.
int ShowMessageBox(HWND hOwner, LPCWSTR szText, LPCWSTR szCaption, UINT uType);

// A box's text on one trace line: each line end written as "\n", so that a
// log keeps one line per message.
void OneLineForTrace(LPCWSTR szText, LPWSTR szOut, size_t cchOut);

// The button a box of uType takes when nobody answers: the one that
// MB_DEFBUTTONn names, the first one when the box has no such button.
int DefaultAnswer(UINT uType);

// An error box, owned by hOwner (may be null): the text under the product's
// name (szTitle), on top of every window.
void ShowErrorBox(HWND hOwner, LPCWSTR szTitle, LPCWSTR szText);

// Asks "Are you sure you want to cancel the installation of <product>?"
// under the product's name, with No the default; TRUE for Yes. A run whose boxes are suppressed
// asks nobody: its cancel stands.
[[nodiscard]] BOOL ConfirmCancel(HWND hOwner, LPCWSTR szProduct);
