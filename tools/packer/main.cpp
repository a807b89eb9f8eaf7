// packer.exe: the command line.
#include <stdio.h>
#include <stdlib.h>
#include "packer.h"
#include "packer/checks.h"
#include "packer/verify.h"
#include "payload/archiveutil.h"

namespace {

using namespace packer;

const char USAGE[] =
    "Usage:\n"
    "  packer init DIR                 start a project in DIR: project.ini, setup.ini\n"
    "                                  (both commented) and an empty payload folder\n"
    "  packer [build] [options]        build a package: the launcher with its payload\n"
    "  packer verify PACKAGE           list a package's records, resources and signature,\n"
    "                                  check its file table and every item's SHA-256\n"
    "  packer cab --folder DIR --out FILE [--max-size BYTES] [--store]\n"
    "                                  make a cabinet (a set with --max-size) of DIR\n"
    "  packer pac --folder DIR --out FILE\n"
    "                                  make a PAC archive of DIR\n"
    "  packer --help\n"
    "\n"
    "Build options (they add to or override a project file):\n"
    "  --project FILE            project file (INI, see below)\n"
    "  --arch x86|x64            the launcher's architecture: x86 (runs on every Windows)\n"
    "                            or x64 (64-bit Windows only); default: launcher.exe beside\n"
    "                            packer.exe, else the kit's x86\\launcher.exe\n"
    "  --launcher FILE           launcher to copy, of either architecture\n"
    "  --out FILE                package to write\n"
    "  --config FILE             configuration, embedded in the package\n"
    "  --tag XYZ                 three letters of the numbered names (default TRV: TRV0001.001)\n"
    "  --web-folder DIR          web files are copied here, for upload\n"
    "  --folder DIR              embed a cabinet made of DIR (MSZIP, folder tree kept)\n"
    "  --archive FILE            embed a ready cabinet, ZIP or PAC archive\n"
    "  --stored FILE[=NAME]      embed a file used as is, NAME in the target folder\n"
    "  --external FILE[=NAME]    an archive kept beside the package as NAME\n"
    "  --external-stored FILE[=NAME]\n"
    "                            a file kept beside the package, used as is\n"
    "  --web FILE[=NAME]         an archive fetched from the web location as NAME\n"
    "  --web-stored FILE[=NAME]  a file fetched from the web location, used as is\n"
    "  --language FILE.lng       embed a language library (repeatable); a bare name not\n"
    "                            found is taken from beside packer.exe\n"
    "  --license [ID=]FILE       the license of language ID ([Languages]), packed with its\n"
    "                            library; without ID, of every language (repeatable)\n"
    "  --neutral FILE            embed a language-neutral file, a license text (repeatable)\n"
    "  --data FILE               embed the whole payload as one archive resource\n"
    "  --skin FILE               embed a skin file: Corvel.dll, Corvel.thm ... (repeatable)\n"
    "  --embed-config            embed the configuration (the default)\n"
    "  --config-beside           write the configuration beside the package as NAME.cfg;\n"
    "                            the package keeps its name and says when it is missing\n"
    "  --allow-missing KEY       build even though the files of KEY are not packed\n"
    "                            (repeatable); KEY is one of\n"
    "                            %s\n"
    "\n"
    "Project file:\n"
    "  [Package]  Arch=, Launcher=, Output=, Config=, Tag=, WebFolder=, AllowMissing=KEY,KEY\n"
    "  [Item1], [Item2] ...  Type=folder|archive|stored|external|web, Source=, Name=,\n"
    "             Stored=0|1 (external, web), File= (table name), Size= (web, no Source)\n"
    "  [Resources]  EmbedConfig=0|1 (default 1), Data=, Language1=, Neutral1=, Skin1= ...\n"
    "  [Licenses]   ID=FILE per language, Neutral=FILE for every language\n"
    "Relative paths in a project file are taken from its folder.\n"
    "\n"
    "Exit codes: 0 written (verify: every check passed), 1 failed, 2 bad command line.\n";

void PrintUsage(FILE* out)
{
    fprintf(out, USAGE, ALLOW_MISSING_KEYS);
}

// A path argument; one the system cannot take is a bad command line.
std::wstring ArgPath(const std::wstring& value)
{
    try {
        return FullPath(value);
    } catch (const Failure& failure) {
        throw Usage{failure.message};
    }
}

// The table names are the tag, four digits and ".001".
void CheckTag(const std::wstring& tag)
{
    bool bOk = tag.size() == 3;
    for (wchar_t c : tag)
        bOk &= (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9');
    if (!bOk)
        throw Usage{L"--tag takes three letters or digits, not '" + tag + L"'"};
}

// The NAME of FILE=NAME ends up below a folder of the launcher.
void CheckName(const std::wstring& name, const std::wstring& arg)
{
    if (name.empty() || IsUnsafeEntryName(name.c_str()))
        throw Usage{arg + L" takes FILE=NAME with NAME a relative path without '..': " + name};
    // Stored in UTF-8 (marked) when it is not plain ASCII.
    if (ToUtf8(name).size() > 259)
        throw Usage{arg + L": NAME is longer than 259 bytes in UTF-8: " + name};
}

// "FILE=NAME" -> source and name.
void SplitSourceName(const std::wstring& value, const std::wstring& arg, ITEM& item)
{
    size_t eq = value.find(L'=');
    if (eq == std::wstring::npos) {
        item.source = ArgPath(value);
    } else {
        item.source = ArgPath(value.substr(0, eq));
        item.name = value.substr(eq + 1);
        CheckName(item.name, arg);
    }
}

int RunBuild(const std::vector<std::wstring>& args)
{
    PROJECT project;
    PROJECT flags;
    std::wstring projectFile;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        auto next = [&]() -> std::wstring {
            if (i + 1 >= args.size())
                throw Usage{arg + L" needs a value"};
            return args[++i];
        };
        auto addItem = [&](ItemKind kind) {
            ITEM item = {};
            item.kind = kind;
            SplitSourceName(next(), arg, item);
            flags.items.push_back(item);
        };
        if (arg == L"--project")
            projectFile = next();
        else if (arg == L"--launcher")
            flags.launcher = ArgPath(next());
        else if (arg == L"--arch") {
            flags.arch = next();
            if (!IsArchName(flags.arch))
                throw Usage{L"--arch takes x86 or x64"};
        }
        else if (arg == L"--out")
            flags.output = ArgPath(next());
        else if (arg == L"--config")
            flags.config = ArgPath(next());
        else if (arg == L"--tag") {
            flags.tag = next();
            CheckTag(flags.tag);
        } else if (arg == L"--web-folder")
            flags.webFolder = ArgPath(next());
        else if (arg == L"--allow-missing") {
            std::wstring key = AllowMissingKey(next());
            if (key.empty())
                throw Usage{L"--allow-missing takes one of " + FromUtf8(ALLOW_MISSING_KEYS)};
            flags.allowMissing.push_back(key);
        } else if (arg == L"--folder") {
            ITEM item = {};
            item.kind = ItemKind::Folder;
            item.source = ArgPath(next());
            flags.items.push_back(item);
        } else if (arg == L"--archive")
            addItem(ItemKind::Archive);
        else if (arg == L"--stored")
            addItem(ItemKind::Stored);
        else if (arg == L"--external")
            addItem(ItemKind::External);
        else if (arg == L"--external-stored")
            addItem(ItemKind::ExternalStored);
        else if (arg == L"--web")
            addItem(ItemKind::Web);
        else if (arg == L"--web-stored")
            addItem(ItemKind::WebStored);
        else if (!ParseResourceOption(arg, next, flags))
            throw Usage{L"unknown option " + arg};
    }
    if (!projectFile.empty())
        ReadProject(projectFile, project);
    if (!flags.launcher.empty() || !flags.arch.empty()) {
        // Either names the launcher: one on the command line overrides the
        // project's choice of either kind.
        project.launcher = flags.launcher;
        project.arch = flags.arch;
    }
    if (!flags.output.empty())
        project.output = flags.output;
    if (!flags.config.empty())
        project.config = flags.config;
    if (!flags.tag.empty())
        project.tag = flags.tag;
    if (!flags.webFolder.empty())
        project.webFolder = flags.webFolder;
    project.items.insert(project.items.end(), flags.items.begin(), flags.items.end());
    project.allowMissing.insert(project.allowMissing.end(), flags.allowMissing.begin(),
                                flags.allowMissing.end());
    MergeResourceOptions(flags, project);
    if (project.output.empty())
        throw Usage{L"no output package given (--out)"};
    BuildPackage(project);
    return 0;
}

int RunArchive(const std::vector<std::wstring>& args, bool bCabinet)
{
    std::wstring folder, out;
    ULONG cbMax = 0;
    bool bStore = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        auto next = [&]() -> std::wstring {
            if (i + 1 >= args.size())
                throw Usage{arg + L" needs a value"};
            return args[++i];
        };
        if (arg == L"--folder")
            folder = ArgPath(next());
        else if (arg == L"--out")
            out = ArgPath(next());
        else if (bCabinet && arg == L"--max-size") {
            std::wstring value = next();
            wchar_t* pEnd = nullptr;
            unsigned long long ull = _wcstoui64(value.c_str(), &pEnd, 10);
            if (!pEnd || *pEnd || ull < 50000 || ull > 0x7FFFFFFF)
                throw Usage{L"--max-size takes a byte count from 50000 to 2147483647"};
            cbMax = static_cast<ULONG>(ull);
        } else if (bCabinet && arg == L"--store")
            bStore = true;
        else
            throw Usage{L"unknown option " + arg};
    }
    if (folder.empty() || out.empty())
        throw Usage{L"--folder and --out are required"};
    if (bCabinet) {
        std::vector<std::wstring> parts = MakeCabinet(folder, out, cbMax, bStore);
        for (const std::wstring& part : parts)
            printf("packer: %s: %llu bytes\n", ToUtf8(part).c_str(),
                   static_cast<unsigned long long>(SizeOf(part)));
        return 0;
    }
    // Written under a temporary name: a failed run leaves no archive.
    std::wstring partial = out + L".partial~";
    try {
        MakePac(folder, partial);
        if (!MoveFileExW(partial.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING))
            throw Failure{L"cannot write " + out};
    } catch (...) {
        DeleteFileW(partial.c_str());
        throw;
    }
    printf("packer: %s: %llu bytes\n", ToUtf8(out).c_str(),
           static_cast<unsigned long long>(SizeOf(out)));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    try {
        for (const std::wstring& arg : args) {
            if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
                PrintUsage(stdout);
                return 0;
            }
        }
        if (!args.empty() && args[0] == L"cab")
            return RunArchive(std::vector<std::wstring>(args.begin() + 1, args.end()), true);
        if (!args.empty() && args[0] == L"pac")
            return RunArchive(std::vector<std::wstring>(args.begin() + 1, args.end()), false);
        if (!args.empty() && args[0] == L"init") {
            if (args.size() != 2 || args[1].empty() || args[1][0] == L'-')
                throw Usage{L"init takes one folder"};
            InitProject(ArgPath(args[1]));
            return 0;
        }
        if (!args.empty() && args[0] == L"verify") {
            if (args.size() != 2 || args[1].empty() || args[1][0] == L'-')
                throw Usage{L"verify takes one package"};
            return VerifyPackage(ArgPath(args[1])) ? 0 : 1;
        }
        if (!args.empty() && args[0] == L"build")
            args.erase(args.begin());
        if (args.empty())
            throw Usage{L"nothing to do"};
        return RunBuild(args);
    } catch (const Usage& usage) {
        fprintf(stderr, "packer: %s\n\n", ToUtf8(usage.message).c_str());
        PrintUsage(stderr);
        return 2;
    } catch (const Failure& failure) {
        fprintf(stderr, "packer: %s\n", ToUtf8(failure.message).c_str());
        return 1;
    } catch (const std::exception& e) {
        fprintf(stderr, "packer: %s\n", e.what());
        return 1;
    }
}
