// Every message box of the run goes through here: with -SUPPRESSMSGBOXES
// no box appears, its text goes to the trace and it takes its default
// answer, so that an unattended run never waits for a person.
#pragma once
#include <windows.h>

// MessageBox, or its default answer when boxes are suppressed.
int ShowMessageBox(HWND hOwner, LPCWSTR szText, LPCWSTR szCaption, UINT uType);

// The button a box of uType takes when nobody answers: the one that
// MB_DEFBUTTONn names, the first one when the box has no such button.
int DefaultAnswer(UINT uType);
