// The launcher a package is built on, and the libraries it loads into its
// own process (the PAC unpacker, the skinning library), which go with it.
// Two architectures of the launcher exist: x86, the default, which runs on
// every Windows (x64 and ARM64 through their emulation), and x64, for
// systems without 32-bit support and for setup programs that are 64-bit.
// The payload is the same for both. A kit keeps each beside the packer in a
// folder of its own (x86\launcher.exe, x64\launcher.exe, each with its
// QELTRON.dll and Corvel.dll); a build folder has its own architecture's
// launcher right beside the packer.
#include <string.h>
#include "packer.h"
#include "payload/archivepac.h"

namespace packer {
namespace {

const WORD MACHINE_I386 = 0x014C;
const WORD MACHINE_AMD64 = 0x8664;
const wchar_t PAC_LIBRARY[] = L"QELTRON.dll";
const wchar_t SKIN_LIBRARY[] = L"Corvel.dll";

std::wstring NameOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring FolderOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

bool ReadAt(HANDLE hFile, LONGLONG llOffset, void* pBuffer, DWORD cb)
{
    LARGE_INTEGER li;
    li.QuadPart = llOffset;
    DWORD cbRead = 0;
    return SetFilePointerEx(hFile, li, nullptr, FILE_BEGIN) &&
           ReadFile(hFile, pBuffer, cb, &cbRead, nullptr) && cbRead == cb;
}

bool IsPacArchive(const std::wstring& path)
{
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    unsigned char header[pac::HEADER_SIZE];
    bool bPac = ReadAt(hFile, 0, header, sizeof(header)) &&
                memcmp(header, pac::HEADER, sizeof(header)) == 0;
    CloseHandle(hFile);
    return bPac;
}

}  // namespace

std::wstring MachineOf(const std::wstring& path)
{
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return L"";
    IMAGE_DOS_HEADER dos = {};
    DWORD dwSignature = 0;
    IMAGE_FILE_HEADER file = {};
    // e_lfanew is checked before use: the file header must lie in the
    // first megabyte, where every linker puts it.
    bool bRead = ReadAt(hFile, 0, &dos, sizeof(dos)) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
                 dos.e_lfanew > 0 && dos.e_lfanew < 0x100000 &&
                 ReadAt(hFile, dos.e_lfanew, &dwSignature, sizeof(dwSignature)) &&
                 dwSignature == IMAGE_NT_SIGNATURE &&
                 ReadAt(hFile, dos.e_lfanew + 4, &file, sizeof(file));
    CloseHandle(hFile);
    if (!bRead)
        return L"";
    if (file.Machine == MACHINE_I386)
        return L"x86";
    if (file.Machine == MACHINE_AMD64)
        return L"x64";
    return L"";
}

bool IsArchName(const std::wstring& arch)
{
    return arch == L"x86" || arch == L"x64";
}

std::wstring ChooseLauncher(const PROJECT& project, std::wstring& arch)
{
    std::wstring folder = ProgramFolder();
    std::wstring launcher;
    if (!project.launcher.empty()) {
        launcher = FullPath(project.launcher);
    } else if (!project.arch.empty()) {
        // The kit's folder for the architecture, else this build's own
        // launcher when it is of that architecture.
        launcher = folder + L"\\" + project.arch + L"\\launcher.exe";
        std::wstring beside = folder + L"\\launcher.exe";
        if (!IsFile(launcher) && IsFile(beside) && MachineOf(beside) == project.arch)
            launcher = beside;
    } else {
        // The one beside the packer, else the kit's default: x86.
        launcher = folder + L"\\launcher.exe";
        if (!IsFile(launcher))
            launcher = folder + L"\\x86\\launcher.exe";
    }
    if (!IsFile(launcher))
        throw Failure{L"no such launcher: " + launcher};
    arch = MachineOf(launcher);
    if (arch.empty())
        throw Failure{L"not a Windows program for x86 or x64: " + launcher};
    if (!project.arch.empty() && arch != project.arch)
        throw Failure{L"the launcher is for " + arch + L", not " + project.arch + L": " + launcher};
    return launcher;
}

namespace {

// The launcher loads it into its own process: it must be of the
// launcher's architecture.
void CheckLibraryMachine(const std::wstring& file, const std::wstring& launcher,
                         const std::wstring& arch)
{
    std::wstring machine = MachineOf(file);
    if (machine != arch)
        throw Failure{file + L" is for " + (machine.empty() ? L"no known machine" : machine) +
                      L", the launcher for " + arch + L": take the one beside " +
                      FolderOf(launcher) + L"\\launcher.exe"};
}

// The library of that name beside the launcher, when it is of its
// architecture; else empty.
std::wstring LibraryBeside(const std::wstring& launcher, const std::wstring& arch,
                           const wchar_t* szName)
{
    std::wstring library = FolderOf(launcher) + L"\\" + szName;
    return IsFile(library) && MachineOf(library) == arch ? library : std::wstring();
}

}  // namespace

void MatchPacUnpacker(PROJECT& project, const std::wstring& launcher, const std::wstring& arch)
{
    std::vector<std::wstring>& neutral = project.resources.neutralFiles;
    for (const std::wstring& file : neutral) {
        if (_wcsicmp(NameOf(file).c_str(), PAC_LIBRARY) == 0) {
            CheckLibraryMachine(file, launcher, arch);
            return;
        }
    }
    bool bPac = false;
    for (const ITEM& item : project.items) {
        bool bArchive = item.kind == ItemKind::Archive || item.kind == ItemKind::External ||
                        item.kind == ItemKind::Web;
        bPac |= bArchive && !item.source.empty() && IsPacArchive(item.source);
    }
    if (!project.resources.dataArchive.empty())
        bPac |= IsPacArchive(project.resources.dataArchive);
    // PAC items need the unpacker: the one that goes with the launcher. Its
    // absence is named by the checks of what the package carries.
    std::wstring library = bPac ? LibraryBeside(launcher, arch, PAC_LIBRARY) : std::wstring();
    if (library.empty())
        return;
    neutral.push_back(library);
    printf("packer: %s (%s) embedded for the PAC archive(s)\n", ToUtf8(library).c_str(),
           ToUtf8(arch).c_str());
}

void MatchSkinLibrary(PROJECT& project, const std::wstring& launcher, const std::wstring& arch)
{
    std::vector<std::wstring>& skin = project.resources.skinFiles;
    if (skin.empty())
        return;
    for (const std::wstring& file : skin) {
        if (_wcsicmp(NameOf(file).c_str(), SKIN_LIBRARY) == 0) {
            CheckLibraryMachine(file, launcher, arch);
            return;
        }
    }
    // A skin named by its theme and pictures gets the library that goes
    // with the launcher.
    std::wstring library = LibraryBeside(launcher, arch, SKIN_LIBRARY);
    if (library.empty())
        return;
    skin.push_back(library);
    printf("packer: %s (%s) embedded for the skin\n", ToUtf8(library).c_str(),
           ToUtf8(arch).c_str());
}

}  // namespace packer
