// payloadtool.exe: runs the launcher's payload routines from a command line,
// for end-to-end tests.
//   payloadtool unpack ARCHIVE FOLDER [--tree]   UnCompressFile
//   payloadtool extract PACKAGE TARGET DATA      CheckDataFile + ReadDataStruct
// Exit code: the routine's result.
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "common/filecopy.h"
#include "common/filesys.h"
#include "state/runcontext.h"
#include "state/state.h"
#include "payload/archive.h"
#include "payload/plan.h"
#include "payload/trailer.h"

namespace {

// PAC archives unpack through QELTRON.dll, which the launcher loads only from
// its temporary folder as the run wrote it there: the tool stages the copy
// beside it the same way, in a folder of its own.
struct CPacLibrary {
    CPacLibrary()
    {
        WCHAR szPath[MAX_PATH];
        GetTempPathW(MAX_PATH, szPath);
        // One folder for every run: the library stays loaded to the end.
        folder = std::wstring(szPath) + L"stowaway-payloadtool-qeltron";
        GetModuleFileNameW(nullptr, szPath, MAX_PATH);
        std::wstring bin(szPath);
        bin = bin.substr(0, bin.find_last_of(L'\\'));
        CreateDirectoryW(folder.c_str(), nullptr);
        DWORD dwCopy =
            XCopyFile((bin + L"\\QELTRON.dll").c_str(), (folder + L"\\QELTRON.dll").c_str(), 0);
        if (dwCopy != ERROR_SUCCESS)
            fprintf(stderr, "payloadtool: QELTRON.dll not staged (%lu)\n", dwCopy);
    }
    std::wstring folder;
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() >= 3 && args[0] == L"unpack") {
        BOOL bTree = args.size() >= 4 && args[3] == L"--tree";
        CPacLibrary pac;
        DWORD dwResult =
            UnCompressFile(args[1].c_str(), args[2].c_str(), bTree, pac.folder.c_str());
        printf("unpack: %lu\n", dwResult);
        return static_cast<int>(dwResult);
    }
    if (args.size() >= 4 && args[0] == L"extract") {
        DWORD dwOffset = 0;
        if (!CheckDataFile(args[1].c_str(), &dwOffset)) {
            printf("extract: no payload\n");
            return ERROR_BAD_FORMAT;
        }
        // The configuration's defaults: the table alone says what goes where.
        static RUNCONTEXT ctx;
        DWORD dwResult = ReadDataStruct(ctx, args[1].c_str(), dwOffset, args[2].c_str(),
                                        args[3].c_str(), std::vector<DATAFILEINFO>(), FALSE);
        printf("extract: %lu\n", dwResult);
        return static_cast<int>(dwResult);
    }
    fprintf(stderr, "usage: payloadtool unpack ARCHIVE FOLDER [--tree] | extract PACKAGE TARGET DATA\n");
    return 87;
}
