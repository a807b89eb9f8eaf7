// The package's languages: the [Languages] list of the configuration, the
// language pack carried as resource "BINARY" 130, and localized strings.
#pragma once
#include <windows.h>
#include <vector>
#include "common/capacity.h"
#include "state/runcontext.h"

enum : unsigned {
    LANGUAGE_SECTION_CCH = 32765,  // whole [Languages] section
    LOADSTRING_SHORT_CCH = 256,    // short form of LoadStringEx
    LANGID_ENGLISH_US = 1033,      // the language of the program's own strings
    FORMAT_ARGS_MAX = 9,           // inserts %1 to %9 of FormatUiText
};

// Fills the list from [Languages] of the configuration file; a missing or
// empty section gives one entry 1033 without a file. Returns the count.
DWORD ReadLanguages(LPCWSTR szConfigFile, std::vector<LanguageEntry>& languages);

// Index of the language to use: the forced one, else the user's, each by
// its exact identifier first and then by its primary language (3082 finds
// 1034), else the package default (exact only). -1 when none.
[[nodiscard]] int ChooseLanguage(const std::vector<LanguageEntry>& languages, DWORD lcIDParam,
                                 DWORD lcIDUser, DWORD lcIDDefault);

// Loads string uID of hModule (the language library or the program); the
// language argument does not change the lookup. 0 and an empty buffer when
// the module lacks the string.
[[nodiscard]] BOOL LoadStringEx(HINSTANCE hModule, UINT uID, LPWSTR szBuffer, int cchBuffer,
                                DWORD dwLangID);
// The same with a buffer of LOADSTRING_SHORT_CCH characters; traces only
// what it found.
[[nodiscard]] BOOL LoadStringEx(HINSTANCE hModule, UINT uID, LPWSTR szBuffer);

// A string of the run's language (hInstRes); one the library lacks comes
// from the program itself, for a library older than the program may lack a
// newer message. FALSE, and an empty text, when neither has it.
[[nodiscard]] BOOL LoadUiText(UINT uID, LPWSTR szText, size_t cchText);

// LoadUiText with the inserts of the text (FormatMessage's %1, %2 ...)
// replaced by the arguments in that order; a translation may place them
// as its language wants. The result is cut to the buffer.
[[nodiscard]] BOOL FormatUiText(UINT uID, LPWSTR szText, size_t cchText, const LPCWSTR* pArgs,
                                DWORD cArgs);

// The name of a language as its speakers write it, with its country:
// "français (France)". Empty for an identifier the system does not know.
void LanguageDisplayName(DWORD lcID, LPWSTR szName, size_t cchName);

// Language identifier handed to the dialogs: the chosen entry of the
// language list, or the configured default when there is no list.
DWORD ChosenLanguageId(const RUNCONTEXT& ctx);
