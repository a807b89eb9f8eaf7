// packer init: a new project to start from, with every choice commented.
//
//   DIR\project.ini   what goes into the package (packer build --project)
//   DIR\setup.ini     how the package runs (the launcher's configuration)
//   DIR\payload\      the product's files, the setup program at the top
#include <objbase.h>
#include <stdio.h>
#include <algorithm>
#include "packer.h"

namespace packer {
namespace {

const char PROJECT_TEXT[] =
    "; Stowaway project: what goes into the package.\r\n"
    "; Build it with:  packer build --project project.ini\r\n"
    "; Relative paths are taken from the folder of this file.\r\n"
    "\r\n"
    "[Package]\r\n"
    "; The package to write.\r\n"
    "Output=%s\r\n"
    "; The launcher's configuration: see setup.ini.\r\n"
    "Config=setup.ini\r\n"
    "; Arch=x86   the launcher's architecture: x86 runs on every Windows, x64 on\r\n"
    ";            64-bit Windows only (Server Core without WOW64, 64-bit setups)\r\n"
    "; Launcher=  the launcher to copy (default: launcher.exe beside packer.exe)\r\n"
    "; Tag=TRV    three letters of the numbered names in the file table\r\n"
    "; WebFolder= where items of Type=web are copied, for upload\r\n"
    "\r\n"
    "[Item1]\r\n"
    "; The product's files: packed into one cabinet inside the package and\r\n"
    "; unpacked, folder tree kept, before the setup program runs.\r\n"
    "Type=folder\r\n"
    "Source=payload\r\n"
    "; More items go in [Item2], [Item3] ... with Type=archive, stored,\r\n"
    "; external or web (see the packer reference).\r\n"
    "\r\n"
    "[Resources]\r\n"
    "; The configuration goes into the package: one file to ship.\r\n"
    "EmbedConfig=1\r\n"
    "; A license text shown before the run: name it in setup.ini too\r\n"
    "; ([Dialogs] LicenseFile=License.rtf).\r\n"
    "; Neutral1=License.rtf\r\n"
    "; Languages of the launcher's own windows (English is built in); list\r\n"
    "; them in setup.ini too, in a [Languages] section. A bare name is taken\r\n"
    "; from this folder, else from beside the packer, so the project builds on\r\n"
    "; any machine with the kit.\r\n"
    "%s"
    "\r\n"
    "; A license per language, shown in the language the run speaks, all packed\r\n"
    "; under the name setup.ini gives in LicenseFile:\r\n"
    "; [Licenses]\r\n"
    "; 1036=License-fr.rtf\r\n"
    "; Neutral=License.rtf\r\n";

const char CONFIG_TEXT[] =
    "; Stowaway configuration: how the package runs (see the configuration\r\n"
    "; reference for every key).\r\n"
    "\r\n"
    "[General]\r\n"
    "; Names the single-instance lock and the resume folders: keep it for the\r\n"
    "; life of the product; another product needs a GUID of its own.\r\n"
    "Guid=%s\r\n"
    "; Window title, balloon title, <PRODUCTNAME>.\r\n"
    "ProductName=%s\r\n"
    "ProductVersion=1.0\r\n"
    "\r\n"
    "[Runtime]\r\n"
    "; The setup program, relative to the unpacked payload, and its command\r\n"
    "; line (placeholders such as <SETUPZK> are replaced).\r\n"
    "ExeFileName=%s\r\n"
    "CmdLine=\r\n"
    "; Start it once the payload is unpacked; the package waits for it and\r\n"
    "; ends with its exit code.\r\n"
    "LaunchExe=1\r\n"
    "; Remove the unpacked files at the end.\r\n"
    "DeleteFiles=1\r\n"
    "; 1: start it with the elevation prompt (RunAs) on Vista and later;\r\n"
    "; 0: start it as it is.\r\n"
    "LaunchOptions=1\r\n"
    "; Show the percentage beside the bars.\r\n"
    "Percent=1\r\n"
    "; Run an install script first: RunScript=1 and ScriptFile=script.ini\r\n"
    "; (the script file travels with [Resources] Neutral1= in project.ini).\r\n"
    "RunScript=0\r\n"
    "\r\n"
    "[Dialogs]\r\n"
    "; 1: the large status window; 0: the small one.\r\n"
    "StatusType=1\r\n"
    "; 1: keep the status window up while the setup program runs.\r\n"
    "DialogInRun=0\r\n"
    "; LicenseFile=License.rtf\r\n"
    "\r\n"
    "; Languages: one line per library embedded with LanguageN= in\r\n"
    "; project.ini, by Windows language id, in a section of its own:\r\n"
    "; [Languages]\r\n"
    "; 1033=EnglishUS.lng\r\n"
    "; 1036=French.lng\r\n";

std::wstring LastName(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring FolderOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

void MakeFolders(const std::wstring& folder)
{
    if (folder.empty() || IsFolder(folder))
        return;
    MakeFolders(FolderOf(folder));
    if (!CreateDirectoryW(folder.c_str(), nullptr) && !IsFolder(folder))
        throw Failure{L"cannot create the folder " + folder};
}

std::string NewGuid()
{
    GUID guid;
    WCHAR szGuid[64];
    if (FAILED(CoCreateGuid(&guid)) || !StringFromGUID2(guid, szGuid, 64))
        throw Failure{L"cannot make a GUID"};
    return ToUtf8(szGuid);
}

// The setup program: the one program at the top of the payload, when there
// is exactly one; else the usual name.
std::wstring GuessSetupProgram(const std::wstring& payload)
{
    std::wstring found;
    int count = 0;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW((payload + L"\\*.exe").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                found = fd.cFileName;
                ++count;
            }
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
    }
    return count == 1 ? found : L"setup.exe";
}

// Commented lines naming the language libraries beside packer.exe, by
// name only: the build finds them beside whichever packer runs it.
std::string LanguageLines()
{
    std::wstring folder = ProgramFolder();
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW((folder + L"\\*.lng").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(fd.cFileName);
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
    }
    std::sort(names.begin(), names.end());
    std::string lines;
    int i = 0;
    for (const std::wstring& name : names) {
        try {
            std::string stored = ToAnsi(name, L"a language library");
            lines += "; Language" + std::to_string(++i) + "=" + stored + "\r\n";
        } catch (const Failure&) {
            // A path the project file cannot hold is not offered.
        }
    }
    return lines;
}

std::string Format(const char* format, const std::vector<std::string>& values)
{
    std::string out;
    size_t next = 0;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && next < values.size()) {
            out += values[next++];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// Written as 8-bit text, as the profile functions read it; a file that
// exists already is never replaced.
void WriteNew(const std::wstring& path, const std::string& text)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw Failure{L"cannot write " + path};
    DWORD cbWritten = 0;
    BOOL bOk = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &cbWritten, nullptr) &&
               cbWritten == text.size();
    CloseHandle(h);
    if (!bOk) {
        DeleteFileW(path.c_str());
        throw Failure{L"cannot write " + path};
    }
}

}  // namespace

void InitProject(const std::wstring& dir)
{
    std::wstring folder = FullPath(dir);
    if (IsFile(folder))
        throw Failure{L"not a folder: " + folder};
    std::wstring project = folder + L"\\project.ini";
    std::wstring config = folder + L"\\setup.ini";
    for (const std::wstring& path : {project, config}) {
        if (IsFile(path) || IsFolder(path))
            throw Failure{path + L" exists already; nothing was written"};
    }
    std::wstring name = LastName(folder);
    // Checked before anything is written.
    std::string productName = ToAnsi(name, L"the folder name");
    std::wstring payload = folder + L"\\payload";
    std::string setupProgram = ToAnsi(GuessSetupProgram(payload), L"the setup program's name");
    std::string output = ToAnsi(name + L"-setup.exe", L"the package name");
    std::string guid = NewGuid();

    MakeFolders(payload);
    WriteNew(project, Format(PROJECT_TEXT, {output, LanguageLines()}));
    try {
        WriteNew(config, Format(CONFIG_TEXT, {guid, productName, setupProgram}));
    } catch (...) {
        DeleteFileW(project.c_str());
        throw;
    }
    printf("packer: wrote %s\n", ToUtf8(project).c_str());
    printf("packer: wrote %s\n", ToUtf8(config).c_str());
    printf("Next: put the product's files in %s (setup program: %s),\n"
           "check setup.ini, then: packer build --project %s\n",
           ToUtf8(payload).c_str(), setupProgram.c_str(), ToUtf8(project).c_str());
}

}  // namespace packer
