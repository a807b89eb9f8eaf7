// The license agreement dialog shown before the run.
#pragma once
#include <windows.h>
#include "state/runcontext.h"

// Option bit: show the "< &Back" button.
#define LICENSE_OPT_BACK 0x0001

// Parameter of the license dialog (kept as its user data).
struct LICENSEDLGPARAM {
    const RUNCONTEXT* pCtx;  // the license file and the product's name
    HINSTANCE hModule;  // module holding template 189 and the strings (hInstRes)
    DWORD uiLangID;     // language handed to LoadStringEx
    DWORD dwOptions;    // LICENSE_OPT_BACK
    BOOL bAccepted;     // in: radio checked at start; out: the user's choice
};

// Shows dialog 189 modally with the license file of the project. Returns
// IDOK (only while "I accept" is checked), IDCANCEL, or 3 for Back; 0
// without a parameter. The rich edit library must be loaded beforehand.
[[nodiscard]] INT_PTR LicenseDlg(HWND hOwner, LICENSEDLGPARAM* pParam);
INT_PTR CALLBACK LicenseProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

// TRUE when the file starts with "{\rtf1\".
[[nodiscard]] BOOL IsaRTFFile(LPCWSTR szFile);

// A license file at least this large is loaded behind the wait window.
const DWORD LICENSE_WAIT_BYTES = 256 * 1024;

// Streams a text or RTF file into a rich edit control and leaves the caret
// at the top with nothing selected. FALSE when the file cannot be opened
// or read (the control is then left empty).
[[nodiscard]] BOOL LoadLicenseText(HWND hRichEdit, LPCWSTR szFile);

// Prints the rich edit's whole text on the default printer; FALSE when
// there is none or a page fails.
[[nodiscard]] BOOL PrintRichEdit(HWND hRichEdit, LPCWSTR szDocName);
