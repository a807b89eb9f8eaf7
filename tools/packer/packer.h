// The packer: builds a package (the launcher with its payload appended), and
// makes cabinets and PAC archives from folders.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "packer/resources_embed.h"
#include "packer/setupconfig.h"

namespace packer {

// What becomes of one item of the package.
enum class ItemKind {
    Folder,          // a cabinet is made of the folder and embedded
    Archive,         // a ready archive (cabinet, ZIP, PAC) is embedded
    Stored,          // a file embedded and used unchanged
    External,        // an archive kept beside the package
    ExternalStored,  // a file kept beside the package, used unchanged
    Web,             // an archive fetched from the web-download location
    WebStored,       // a file fetched from the web, used unchanged
};

struct ITEM {
    ItemKind kind;
    std::wstring source;  // file or folder; may be empty for web items
    std::wstring name;    // output name (FileOut); for stored embedded files the target name
    std::wstring file;    // table name; empty: numbered from the tag
    ULONGLONG size;       // web items without a source
    bool bSizeGiven;
};

// A license that travels in one language's pack (the launcher shows the
// chosen language's one, else the neutral one).
struct LICENSE {
    DWORD dwLanguage;     // as in the configuration's [Languages]
    std::wstring source;  // packed under the name [Dialogs] LicenseFile gives
};

struct PROJECT {
    std::wstring launcher;   // the launcher to copy
    std::wstring arch;       // x86 or x64: the launcher of that architecture; empty: not said
    std::wstring output;     // the package to write
    std::wstring config;     // embedded as CFG 136, or written beside the package as NAME.cfg
    std::wstring webFolder;  // web items are copied here for upload
    std::wstring tag;        // three letters of the numbered names
    std::vector<ITEM> items;
    PACKAGERESOURCES resources;  // languages, neutral files, DATA, skin (embed.cpp)
    std::vector<LICENSE> licenses;
    int iEmbedConfig = -1;       // 1 (and -1, not said): CFG 136; 0: NAME.cfg beside
    std::vector<std::wstring> allowMissing;  // keys whose files may be left out (checks.cpp)
};

// A failure the user can act on; the message says what and where. Ends
// the packer with 1.
struct Failure {
    std::wstring message;
};

// A command line the packer does not take: an unknown option, a missing or
// malformed value. Ends the packer with 2.
struct Usage {
    std::wstring message;
};

// Every file below folder, as paths relative to it ("sub\name"), sorted.
std::vector<std::wstring> ListFolder(const std::wstring& folder);
// Every folder below folder that holds nothing at all, relative, sorted.
std::vector<std::wstring> ListEmptyFolders(const std::wstring& folder);

// A cabinet (MSZIP, or stored with bStore) of every file below folder,
// keeping the folder tree in the member names; an empty folder becomes an
// empty member named "sub\empty\", which the launcher turns back into the
// folder. With cbMaxCabinet the
// cabinet is split into a set: out, then NAME2.EXT, NAME3.EXT ...
// Returns the files written.
// One member of a cabinet: its stored name (bytes as stored, may carry
// folders; ending in "\\" for an empty folder), the file it comes from
// (empty for an empty folder), and whether the name is UTF-8: a UTF-8 name
// beyond plain ASCII gets the cabinet's "name is UTF-8" attribute; any
// other name is read in the ANSI code page.
struct CABENTRY {
    std::string name;
    std::wstring source;
    bool bUtf8Name = true;
};

// Member times: the files' own (with SOURCE_DATE_EPOCH set, none later
// than it and none shifted by the time zone), or one fixed time for the
// packs that only the launcher reads.
enum class CabDates { FromFiles, Fixed };

// Writes the members through the system's FCI into out (and out2.cab, ...
// when cbMaxCabinet splits it into a set), MSZIP-compressed unless bStore,
// in name order when bSorted. Returns the parts written; throws Failure
// (and leaves no part behind).
std::vector<std::wstring> WriteCabinet(std::vector<CABENTRY> members, const std::wstring& out,
                                       ULONG cbMaxCabinet, bool bStore, bool bSorted,
                                       CabDates dates);
std::vector<std::wstring> MakeCabinet(const std::wstring& folder, const std::wstring& out,
                                      ULONG cbMaxCabinet, bool bStore);

// A PAC archive of every file below folder.
void MakePac(const std::wstring& folder, const std::wstring& out);

// Reads a project file (INI) into project; relative paths are taken from
// the project file's folder.
void ReadProject(const std::wstring& path, PROJECT& project);

// Builds the package the project describes. Nothing is left behind on
// failure.
void BuildPackage(const PROJECT& project);

// Starts a project in dir: a commented project file (project.ini), a
// commented configuration (setup.ini) and an empty payload folder. Files
// that exist are never replaced.
void InitProject(const std::wstring& dir);

// Hook: adds resources to the copy of the launcher before the payload is
// appended.
void EmbedResources(const std::wstring& packageCopy, const PROJECT& project,
                    const std::wstring& workFolder);
// Whether the configuration goes into the package (the default) or beside it.
bool EmbedsConfig(const PROJECT& project);
// Name of the configuration beside the package: the package's own name
// with ".cfg".
std::wstring BesideConfigName(const std::wstring& output);
// Resource options, project keys and the configuration's web location (embed.cpp).
bool ParseResourceOption(const std::wstring& arg, const std::function<std::wstring()>& next,
                         PROJECT& flags);
void ReadProjectResources(const std::wstring& path, const std::wstring& base, PROJECT& project);
void MergeResourceOptions(const PROJECT& flags, PROJECT& project);
// A language library named by a bare file name that is not in base is
// taken from beside the packer, where the kit keeps the libraries.
std::wstring LanguagePath(const std::wstring& value, const std::wstring& base);
// The licenses go into the packs under the name the configuration's
// [Dialogs] LicenseFile gives: each in its language's pack, or Neutral.001.
void PlaceLicenses(PROJECT& project, const SETUPCONFIG& config);
std::wstring PrepareStagedConfig(const std::wstring& staged);

// The launcher to build on (stub.cpp): project.launcher, else the one of
// project.arch from the kit beside the packer, else launcher.exe beside the
// packer, else the kit's x86 one. arch receives the launcher's architecture
// (x86 or x64); throws Failure when it is none of them or not the one asked.
std::wstring ChooseLauncher(const PROJECT& project, std::wstring& arch);
// "x86", "x64", or empty when path is no Windows program of either.
std::wstring MachineOf(const std::wstring& path);
bool IsArchName(const std::wstring& arch);
// A QELTRON.dll among the neutral files must be of the launcher's
// architecture; PAC archives in the payload with none given get the one
// beside the launcher.
void MatchPacUnpacker(PROJECT& project, const std::wstring& launcher, const std::wstring& arch);
// The same for the skin's Corvel.dll: of the launcher's architecture, and
// the one beside the launcher when the skin files name none.
void MatchSkinLibrary(PROJECT& project, const std::wstring& launcher, const std::wstring& arch);

// The configuration as the launcher's profile functions read it exactly: a
// UTF-8 file becomes a UTF-16 copy in workFolder, a file in a code page
// beyond ASCII stays and is warned of (texts.cpp).
std::wstring StageConfig(const std::wstring& config, const std::wstring& workFolder);
// Warns of an install script or text license (neutral files the
// configuration names) that is neither UTF-8 nor plain ASCII.
void CheckTexts(const PROJECT& project, const std::wstring& stagedConfig);

// Small helpers.
std::wstring ProgramFolder();
std::wstring FullPath(const std::wstring& path, const std::wstring& base = L"");
bool IsFile(const std::wstring& path);
bool IsFolder(const std::wstring& path);
ULONGLONG SizeOf(const std::wstring& path);
std::string ToAnsi(const std::wstring& text, const wchar_t* what);
std::string ToUtf8(const std::wstring& text);
bool IsAsciiText(const std::string& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace packer
