// The packer's side of the package resources: the configuration (CFG 136),
// the language pack (BINARY 130), the DATA payload (DATA 131) and the skin
// pack (CORVEL 135) are written into a copy of the launcher with
// UpdateResource, before the payload is appended to it; the item hashes go
// in as HASHES 137 (payload/itemhash.h).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// A file that travels in one language's pack beside its library, under a
// name of its own (a license per language).
struct LANGUAGEFILE {
    std::wstring library;     // the NAME.lng it goes with
    std::wstring source;
    std::wstring storedName;  // its name in the pack, and so in the scratch folder
};

struct PACKAGERESOURCES {
    std::wstring configFile;                 // INI text; empty: none embedded
    std::vector<std::wstring> languages;     // NAME.lng libraries, one pack each
    std::vector<LANGUAGEFILE> languageFiles; // more files in a language's pack
    std::vector<std::wstring> neutralFiles;  // license text and other shared files
    std::wstring dataArchive;                // whole payload as one archive; empty: none
    std::vector<std::wstring> skinFiles;     // Corvel.dll, Corvel.thm, frame file, images
    std::vector<BYTE> itemHashes;            // the HASHES resource; empty: none
};

enum : DWORD {
    EMBED_MESSAGE_CCH = 512,
};

// Copies a configuration file and turns a plain [Runtime] WebDownloadUrl
// into its scrambled profile form (a value already scrambled is kept).
// Used both for the embedded configuration and for one beside the package;
// szTarget may name szSource itself.
DWORD PrepareConfigFile(LPCWSTR szSource, LPCWSTR szTarget, LPWSTR szMessage, DWORD cchMessage);

// Builds the language pack: per library NAME.001 holding Languages\NAME.lng
// and its language files, and Neutral.001 with the neutral files, all in
// one outer cabinet.
DWORD BuildLanguagePack(const PACKAGERESOURCES& resources, LPCWSTR szWorkDir, LPCWSTR szCabinet,
                        LPWSTR szMessage, DWORD cchMessage);

// Checks every input, builds the packs in a scratch folder and writes all
// resources into szExe at once. On any failure szExe is left untouched and
// szMessage says why; the result is then a Win32 error code.
DWORD EmbedResources(LPCWSTR szExe, const PACKAGERESOURCES& resources, LPWSTR szMessage,
                     DWORD cchMessage);
