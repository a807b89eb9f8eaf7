// Building a package: the launcher copied unchanged (resources embedded),
// the data blocks of the embedded files appended, then the file table (the
// last file's record first) and the header with the magic. Everything is
// written under temporary names and put in place at the end, so that a
// failed run leaves nothing behind.
#include <stdio.h>
#include <string.h>
#include "common/profilefile.h"
#include "packer.h"
#include "packer/checks.h"
#include "packer/itemhashes.h"
#include "packer/pestamp.h"
#include "packer/sha256.h"
#include "payload/archive.h"
#include "payload/archiveutil.h"
#include "packer/payloadtable.h"
#include "payload/trailer.h"

namespace packer {
namespace {

const DWORD COPY_BLOCK = 1024 * 1024;
const wchar_t PARTIAL_SUFFIX[] = L".partial~";

// One table record and, for embedded files, where its bytes come from.
struct PLANNED {
    PAYLOADENTRY entry;
    std::wstring data;       // embedded: the file whose bytes are appended
    std::wstring besideAs;   // external: copied beside the package under this name
    std::wstring webAs;      // web: copied into the web folder under this name
    std::wstring label;      // for messages
    std::wstring hashed;     // the file whose bytes are the item's; empty: none known
    DIGEST digest;           // of those bytes
    std::wstring tableName;  // File, as the launcher reads it
};

// Files made during the run; removed unless the run succeeds.
class Cleanup {
public:
    ~Cleanup()
    {
        for (const std::wstring& file : m_files)
            DeleteFileW(file.c_str());
        for (auto it = m_folders.rbegin(); it != m_folders.rend(); ++it)
            RemoveDirectoryW(it->c_str());
    }
    void File(const std::wstring& path) { m_files.push_back(path); }
    void Folder(const std::wstring& path) { m_folders.push_back(path); }
    void Keep(const std::wstring& path)
    {
        for (std::wstring& file : m_files)
            if (_wcsicmp(file.c_str(), path.c_str()) == 0)
                file.clear();
    }

private:
    std::vector<std::wstring> m_files;
    std::vector<std::wstring> m_folders;
};

std::wstring FolderOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

std::wstring NameOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::wstring ProgramFolder()
{
    WCHAR szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return L".";
    return FolderOf(szPath);
}

namespace {

// A record's two names. Plain ASCII reads the same in every launcher; a
// record with a name beyond ASCII stores both in UTF-8 and says so with
// TF_UTF8_NAMES. At most 259 bytes each.
void SetTableNames(PAYLOADENTRY& entry, const std::wstring& file, const std::wstring& out)
{
    const struct {
        const std::wstring& name;
        std::string& stored;
        const wchar_t* what;
    } names[] = {{file, entry.strFile, L"the table name"}, {out, entry.strFileOut, L"the output name"}};
    for (const auto& n : names) {
        n.stored = ToUtf8(n.name);
        if (n.stored.size() > PAYLOAD_NAME_MAX)
            throw Failure{std::wstring(n.what) + L" is longer than 259 bytes in UTF-8: " + n.name};
        if (!IsAsciiText(n.stored))
            entry.TypeOfFile |= TF_UTF8_NAMES;
    }
}

// A name that becomes a path below a folder of the launcher must stay there.
void CheckRelative(const std::wstring& name, const std::wstring& label)
{
    if (IsUnsafeEntryName(name.c_str()))
        throw Failure{L"the name '" + name + L"' of " + label +
                      L" must be a relative path without '..'"};
}

bool IsArchive(const std::wstring& path)
{
    return IsCabinetFile(path.c_str()) || IsZipFile(path.c_str()) || IsaPacFile(path.c_str());
}

void AppendFile(HANDLE hOut, const std::wstring& path, std::vector<BYTE>& buffer, CSha256& sha)
{
    HANDLE hIn = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hIn == INVALID_HANDLE_VALUE)
        throw Failure{L"cannot read " + path};
    DWORD cbRead = 0;
    BOOL bOk;
    while ((bOk = ReadFile(hIn, buffer.data(), COPY_BLOCK, &cbRead, nullptr)) && cbRead) {
        sha.Update(buffer.data(), cbRead);
        DWORD cbWritten = 0;
        if (!WriteFile(hOut, buffer.data(), cbRead, &cbWritten, nullptr) || cbWritten != cbRead) {
            CloseHandle(hIn);
            throw Failure{L"cannot write the package (disk full?)"};
        }
    }
    CloseHandle(hIn);
    if (!bOk)
        throw Failure{L"cannot read " + path};
}

ULONGLONG CurrentSize(HANDLE h)
{
    LARGE_INTEGER li;
    if (!GetFileSizeEx(h, &li))
        throw Failure{L"cannot read the size of the package"};
    return static_cast<ULONGLONG>(li.QuadPart);
}

// Creates a folder with its missing parents; the ones made here go again
// when the run fails (a folder that received files stays).
void MakeFolderTree(const std::wstring& folder, Cleanup& cleanup)
{
    if (folder.empty() || IsFolder(folder))
        return;
    std::wstring parent = FolderOf(folder);
    if (parent != folder)
        MakeFolderTree(parent, cleanup);
    if (CreateDirectoryW(folder.c_str(), nullptr))
        cleanup.Folder(folder);
}

// Copies a file next to its final place under a temporary name.
std::wstring StageCopy(const std::wstring& source, const std::wstring& target, Cleanup& cleanup)
{
    std::wstring temp = target + PARTIAL_SUFFIX;
    MakeFolderTree(FolderOf(target), cleanup);
    if (!CopyFileW(source.c_str(), temp.c_str(), FALSE))
        throw Failure{L"cannot copy " + source + L" to " + target};
    cleanup.File(temp);
    return temp;
}

// A copy of the configuration in the work folder with a [File N] section
// (Name = the table name) per payload file: a launcher whose payload went
// missing then knows that it had one, and takes nothing beside it instead.
std::wstring ListPayloadFiles(const std::wstring& config, const std::vector<PLANNED>& planned,
                              const std::wstring& workFolder, Cleanup& cleanup)
{
    std::wstring listed = workFolder + L"\\listed.cfg";
    // A table name beyond ASCII needs a file that keeps it: UTF-16.
    bool bUnicode = false;
    for (const PLANNED& p : planned)
        bUnicode = bUnicode || (p.entry.TypeOfFile & TF_UTF8_NAMES);
    if (bUnicode && ProfileTextOf(config.c_str()) != PROFILE_UTF16) {
        if (WriteProfileCopy(config.c_str(), listed.c_str()) != ERROR_SUCCESS)
            throw Failure{L"cannot copy " + config};
    } else if (!CopyFileW(config.c_str(), listed.c_str(), FALSE)) {
        throw Failure{L"cannot copy " + config};
    }
    cleanup.File(listed);
    SetFileAttributesW(listed.c_str(), FILE_ATTRIBUTE_NORMAL);
    for (size_t i = 0; i < planned.size(); ++i) {
        std::wstring section = L"File " + std::to_wstring(i + 1);
        if (!WritePrivateProfileStringW(section.c_str(), L"Name", planned[i].tableName.c_str(),
                                        listed.c_str()))
            throw Failure{L"cannot write the file list into " + listed};
    }
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, listed.c_str());  // flush the profile cache
    return listed;
}

// Turns the project's items into table records; makes the cabinets.
std::vector<PLANNED> PlanItems(const PROJECT& project, const std::wstring& workFolder,
                               Cleanup& cleanup)
{
    std::vector<PLANNED> planned;
    std::wstring tag = project.tag.empty() ? L"TRV" : project.tag;
    if (tag.size() != 3)
        throw Failure{L"the tag must have three letters: " + tag};
    int number = 0;
    auto numbered = [&]() {
        WCHAR szName[16];
        swprintf(szName, 16, L"%ls%04d.001", tag.c_str(), ++number);
        return std::wstring(szName);
    };

    for (size_t i = 0; i < project.items.size(); ++i) {
        const ITEM& item = project.items[i];
        PLANNED p = {};
        p.label = L"item " + std::to_wstring(i + 1);
        std::wstring file = item.file;
        std::wstring name = item.name;
        bool bHasSource = !item.source.empty();
        if (bHasSource && item.kind != ItemKind::Folder && !IsFile(item.source))
            throw Failure{L"no such file for " + p.label + L": " + item.source};
        if (!bHasSource && item.kind != ItemKind::Web && item.kind != ItemKind::WebStored)
            throw Failure{p.label + L" needs a source"};

        switch (item.kind) {
        case ItemKind::Folder: {
            if (file.empty())
                file = numbered();
            std::wstring cab = workFolder + L"\\" + file;
            std::vector<std::wstring> parts = MakeCabinet(item.source, cab, 0, false);
            for (const std::wstring& part : parts)
                cleanup.File(part);
            p.data = cab;
            p.entry.TypeOfFile = TF_EMBEDDED;
            break;
        }
        case ItemKind::Archive:
            if (!IsArchive(item.source))
                throw Failure{item.source + L" is not a cabinet, ZIP or PAC archive"};
            if (file.empty())
                file = numbered();
            p.data = item.source;
            p.entry.TypeOfFile = TF_EMBEDDED;
            break;
        case ItemKind::Stored:
            // The table name is the name in the target folder.
            if (name.empty())
                name = file.empty() ? NameOf(item.source) : file;
            CheckRelative(name, p.label);
            file = name;
            p.data = item.source;
            p.entry.TypeOfFile = TF_EMBEDDED | TF_STORED;
            break;
        case ItemKind::External:
        case ItemKind::ExternalStored:
            if (item.kind == ItemKind::External && !IsArchive(item.source))
                throw Failure{item.source + L" is not a cabinet, ZIP or PAC archive"};
            if (name.empty())
                name = NameOf(item.source);
            CheckRelative(name, p.label);
            if (file.empty())
                file = numbered();
            p.besideAs = name;
            p.entry.TypeOfFile = TF_EXTERNAL | (item.kind == ItemKind::ExternalStored ? TF_STORED : 0);
            break;
        case ItemKind::Web:
        case ItemKind::WebStored:
            if (name.empty()) {
                if (!bHasSource)
                    throw Failure{p.label + L" needs a Name (its path below the web location)"};
                name = NameOf(item.source);
            }
            if (!bHasSource && !item.bSizeGiven)
                throw Failure{p.label + L" needs a Source or a Size"};
            if (item.kind == ItemKind::Web && bHasSource && !IsArchive(item.source))
                throw Failure{item.source + L" is not a cabinet, ZIP or PAC archive"};
            CheckRelative(name, p.label);
            if (file.empty())
                file = numbered();
            if (bHasSource && !project.webFolder.empty())
                p.webAs = name;
            p.entry.TypeOfFile = TF_EXTERNAL | TF_WEB | (item.kind == ItemKind::WebStored ? TF_STORED : 0);
            break;
        }
        CheckRelative(file, p.label);
        SetTableNames(p.entry, file,
                      item.kind == ItemKind::Folder || item.kind == ItemKind::Archive ? std::wstring()
                                                                                       : name);
        p.tableName = file;
        p.hashed = !p.data.empty() ? p.data : item.source;
        if (!p.hashed.empty())
            p.digest = HashFile(p.hashed, p.entry.FileSize);
        else
            p.entry.FileSize = item.size;
        planned.push_back(p);
    }
    return planned;
}

// Every item whose bytes the packer has, every record's own fields, and the
// DATA resource.
std::vector<BYTE> ItemHashes(const std::vector<PLANNED>& planned, const std::wstring& dataArchive)
{
    std::vector<ITEMHASH> entries;
    for (size_t i = 0; i < planned.size(); ++i) {
        const PAYLOADENTRY& entry = planned[i].entry;
        if (!planned[i].hashed.empty())
            entries.push_back(MakeItemHash(ITEMHASH_KIND_RECORD, static_cast<uint32_t>(i),
                                           entry.FileSize, planned[i].digest));
        uint8_t identity[ITEMHASH_IDENTITY_MAX];
        size_t cb = RecordIdentity(entry.TypeOfFile, entry.FileSize, entry.strFile.c_str(),
                                   entry.strFileOut.c_str(), identity);
        entries.push_back(MakeItemHash(ITEMHASH_KIND_ENTRY, static_cast<uint32_t>(i), cb,
                                       HashBytes(identity, static_cast<DWORD>(cb))));
    }
    if (!dataArchive.empty() && IsFile(dataArchive)) {
        ULONGLONG ullSize = 0;
        DIGEST digest = HashFile(dataArchive, ullSize);
        entries.push_back(MakeItemHash(ITEMHASH_KIND_DATA, 0, ullSize, digest));
    }
    return SerializeItemHashes(entries);
}

}  // namespace

void BuildPackage(const PROJECT& asGiven)
{
    PROJECT project = asGiven;
    if (project.output.empty())
        throw Failure{L"no output package given (--out or Output=)"};
    std::wstring output = FullPath(project.output);
    std::wstring arch;
    std::wstring launcher = ChooseLauncher(project, arch);
    MatchPacUnpacker(project, launcher, arch);
    MatchSkinLibrary(project, launcher, arch);
    if (!project.config.empty() && !IsFile(project.config))
        throw Failure{L"no such configuration file: " + project.config};
    SETUPCONFIG config;
    if (!project.config.empty())
        config = ReadSetupConfig(project.config);
    PlaceLicenses(project, config);
    CheckNamedFiles(project, config);
    if (IsFolder(output))
        throw Failure{L"the output is a folder: " + output};
    std::wstring outFolder = FolderOf(output);
    if (!IsFolder(outFolder))
        throw Failure{L"no such output folder: " + outFolder};

    Cleanup cleanup;
    WCHAR szTemp[MAX_PATH];
    WCHAR szWork[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, szTemp) || !GetTempFileNameW(szTemp, L"pkr", 0, szWork))
        throw Failure{L"cannot make a temporary folder"};
    DeleteFileW(szWork);
    if (!CreateDirectoryW(szWork, nullptr))
        throw Failure{L"cannot make a temporary folder"};
    cleanup.Folder(szWork);

    if (!project.config.empty()) {
        std::wstring staged = StageConfig(project.config, szWork);
        if (staged != project.config)
            cleanup.File(staged);
        project.config = staged;
        CheckTexts(project, project.config);
    }
    std::vector<PLANNED> planned = PlanItems(project, szWork, cleanup);
    project.resources.itemHashes = ItemHashes(planned, project.resources.dataArchive);
    PROJECT listed = project;
    if (!project.config.empty() && !planned.empty())
        listed.config = ListPayloadFiles(project.config, planned, szWork, cleanup);
    // The launcher, then its resources, then the data and the table.
    std::wstring partial = output + PARTIAL_SUFFIX;
    if (!CopyFileW(launcher.c_str(), partial.c_str(), FALSE))
        throw Failure{L"cannot write " + partial};
    cleanup.File(partial);
    SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
    EmbedResources(partial, listed, szWork);
    SettleHeaders(partial, launcher);

    HANDLE hOut = CreateFileW(partial.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hOut == INVALID_HANDLE_VALUE)
        throw Failure{L"cannot write " + partial};
    std::vector<PAYLOADENTRY> entries;
    try {
        LARGE_INTEGER liZero = {};
        SetFilePointerEx(hOut, liZero, nullptr, FILE_END);
        std::vector<BYTE> buffer(COPY_BLOCK);
        for (PLANNED& p : planned) {
            if (!p.data.empty()) {
                p.entry.DataOffSet = CurrentSize(hOut);
                CSha256 sha;
                AppendFile(hOut, p.data, buffer, sha);
                DIGEST appended = sha.Finish();
                if (CurrentSize(hOut) - p.entry.DataOffSet != p.entry.FileSize ||
                    memcmp(appended.bytes, p.digest.bytes, sizeof(appended.bytes)) != 0)
                    throw Failure{L"a file changed while it was packed: " + p.data};
            }
            entries.push_back(p.entry);
        }
        std::vector<BYTE> table;
        if (!BuildPayloadTable(entries, table))
            throw Failure{L"a name does not fit the file table"};
        DWORD cbWritten = 0;
        if (!WriteFile(hOut, table.data(), static_cast<DWORD>(table.size()), &cbWritten, nullptr) ||
            cbWritten != table.size())
            throw Failure{L"cannot write the package (disk full?)"};
    } catch (...) {
        CloseHandle(hOut);
        throw;
    }
    CloseHandle(hOut);

    // Files beside the package and for the web folder, then the
    // configuration; every one first under a temporary name.
    std::vector<std::pair<std::wstring, std::wstring>> moves;  // temporary -> final
    for (size_t i = 0; i < planned.size(); ++i) {
        const PLANNED& p = planned[i];
        const ITEM& item = project.items[i];
        if (!p.besideAs.empty()) {
            std::wstring target = FullPath(p.besideAs, outFolder);
            if (_wcsicmp(target.c_str(), item.source.c_str()) != 0)
                moves.push_back({StageCopy(item.source, target, cleanup), target});
        }
        if (!p.webAs.empty()) {
            std::wstring target = FullPath(p.webAs, project.webFolder);
            moves.push_back({StageCopy(item.source, target, cleanup), target});
        }
    }
    if (!project.config.empty() && !EmbedsConfig(project)) {
        std::wstring cfg = outFolder + L"\\" + BesideConfigName(output);
        moves.push_back({PrepareStagedConfig(StageCopy(listed.config, cfg, cleanup)), cfg});
    }
    moves.push_back({partial, output});
    for (const auto& move : moves) {
        if (!MoveFileExW(move.first.c_str(), move.second.c_str(), MOVEFILE_REPLACE_EXISTING))
            throw Failure{L"cannot write " + move.second};
        cleanup.Keep(move.first);
    }

    printf("packer: %s: %u file(s), %llu bytes, %s launcher\n", ToUtf8(output).c_str(),
           static_cast<unsigned>(entries.size()), static_cast<unsigned long long>(SizeOf(output)),
           ToUtf8(arch).c_str());
    for (const PAYLOADENTRY& entry : entries)
        printf("  %s  type %u  %llu bytes  at %llu%s%s\n", entry.strFile.c_str(),
               entry.TypeOfFile, static_cast<unsigned long long>(entry.FileSize),
               static_cast<unsigned long long>(entry.DataOffSet),
               entry.strFileOut.empty() ? "" : "  -> ", entry.strFileOut.c_str());
}

}  // namespace packer
