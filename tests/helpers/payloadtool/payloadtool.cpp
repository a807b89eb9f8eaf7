// payloadtool.exe: runs the launcher's payload routines from a command line,
// for end-to-end tests and the benchmark.
//   payloadtool unpack ARCHIVE FOLDER [--tree]   UnCompressFile
//   payloadtool extract PACKAGE TARGET DATA      CheckDataFile + ReadDataStruct
//   payloadtool bench PACKAGE WORK               times the copy-out and unpacking
// Exit code: the routine's result.
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "common/filecopy.h"
#include "common/filesys.h"
#include "state/state.h"
#include "payload/archive.h"
#include "payload/piececopy.h"
#include "payload/plan.h"
#include "payload/trailer.h"
#include "ui/progress.h"

namespace {

// The first embedded record of a package, read through the table walk.
class FirstEmbedded : public IPayloadTableSink {
public:
    bool bFound = false;
    PAYLOADRECORD record = {};
    void OnTableStart(DWORD) override {}
    void OnRecord(DWORD, const PAYLOADRECORD& r) override
    {
        if (!bFound && (r.TypeOfFile & TF_EMBEDDED)) {
            record = r;
            bFound = true;
        }
    }
    BOOL IsCancelled() override { return FALSE; }
};

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
}

ULONGLONG TreeBytes(const std::wstring& folder)
{
    ULONGLONG total = 0;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            total += TreeBytes(folder + L"\\" + name);
        else
            total += (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return total;
}

int Bench(const std::wstring& package, const std::wstring& work)
{
    DWORD dwOffset = 0;
    if (!CheckDataFile(package.c_str(), &dwOffset))
        return ERROR_BAD_FORMAT;
    HANDLE h = CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return ERROR_FILE_NOT_FOUND;
    FirstEmbedded sink;
    DWORD dwResult = ReadPayloadTable(h, dwOffset, sink);
    if (dwResult || !sink.bFound) {
        CloseHandle(h);
        return dwResult ? dwResult : ERROR_INVALID_DATA;
    }
    CreateDirectoryW(work.c_str(), nullptr);
    std::wstring staged = work + L"\\staged.cab";
    std::wstring target = work + L"\\unpacked";

    LARGE_INTEGER t0, t1, t2;
    g_Progress.DefineStep(0, 100, sink.record.FileSize);
    QueryPerformanceCounter(&t0);
    dwResult = ExtractPieceOfFile(h, nullptr, sink.record.DataOffSet, sink.record.FileSize,
                                  staged.c_str(), TRUE, FALSE);
    QueryPerformanceCounter(&t1);
    CloseHandle(h);
    if (dwResult)
        return static_cast<int>(dwResult);
    g_Progress.SetBytesDone(0);
    g_Progress.DefineStep(0, 100, sink.record.FileSize);
    dwResult = UnCompressFile(staged.c_str(), target.c_str(), TRUE);
    QueryPerformanceCounter(&t2);
    if (dwResult)
        return static_cast<int>(dwResult);
    const double MB = 1024.0 * 1024.0;
    double copySeconds = Seconds(t0, t1);
    double unpackSeconds = Seconds(t1, t2);
    ULONGLONG unpacked = TreeBytes(target);
    printf("copy-out %.1f MB in %.2f s: %.1f MB/s\n", sink.record.FileSize / MB, copySeconds,
           sink.record.FileSize / MB / copySeconds);
    printf("unpack %.1f MB (from %.1f MB) in %.2f s: %.1f MB/s written\n", unpacked / MB,
           sink.record.FileSize / MB, unpackSeconds, unpacked / MB / unpackSeconds);
    return 0;
}

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
        XCopyFile((bin + L"\\QELTRON.dll").c_str(), (folder + L"\\QELTRON.dll").c_str(), 0);
        lstrcpynW(TempPathTRV, folder.c_str(), PATH_CCH);
    }
    std::wstring folder;
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    g_Progress.m_bNoPause = TRUE;
    if (args.size() >= 3 && args[0] == L"unpack") {
        BOOL bTree = args.size() >= 4 && args[3] == L"--tree";
        CPacLibrary pac;
        DWORD dwResult = UnCompressFile(args[1].c_str(), args[2].c_str(), bTree);
        printf("unpack: %lu\n", dwResult);
        return static_cast<int>(dwResult);
    }
    if (args.size() >= 4 && args[0] == L"extract") {
        DWORD dwOffset = 0;
        if (!CheckDataFile(args[1].c_str(), &dwOffset)) {
            printf("extract: no payload\n");
            return ERROR_BAD_FORMAT;
        }
        DWORD dwResult = ReadDataStruct(args[1].c_str(), dwOffset, args[2].c_str(),
                                        args[3].c_str(), std::vector<DATAFILEINFO>(), FALSE);
        printf("extract: %lu\n", dwResult);
        return static_cast<int>(dwResult);
    }
    if (args.size() >= 3 && args[0] == L"bench")
        return Bench(args[1], args[2]);
    fprintf(stderr, "usage: payloadtool unpack ARCHIVE FOLDER [--tree] | extract PACKAGE TARGET DATA"
                    " | bench PACKAGE WORK\n");
    return 87;
}
