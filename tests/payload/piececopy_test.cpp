#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "payload/piececopy.h"
#include "common/errors.h"
#include "common/filecopy.h"
#include "payloadtest.h"
#include "support/tracesink.h"
#include "ui/progress.h"

using namespace payloadtest;

namespace {

const size_t MiB = 1024 * 1024;

// A step bar that presses Cancel once the bar passes a position.
DWORD g_dwCancelAt;
LRESULT CALLBACK CancelBarProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == 0x0402 /* PBM_SETPOS */ && wParam >= g_dwCancelAt)
        g_bCancel = 1;
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

class CancelBar {
public:
    explicit CancelBar(DWORD dwAt)
    {
        g_dwCancelAt = dwAt;
        WNDCLASSW wc = {};
        wc.lpfnWndProc = CancelBarProc;
        wc.lpszClassName = L"StowawayCancelBar";
        RegisterClassW(&wc);
        m_hWnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
        g_Progress.m_hStepBar = m_hWnd;
    }
    ~CancelBar()
    {
        g_Progress.m_hStepBar = nullptr;
        DestroyWindow(m_hWnd);
    }

private:
    HWND m_hWnd;
};

size_t CountPrefix(const std::string& prefix)
{
    size_t n = 0;
    for (const std::string& line : tracesink::Lines())
        n += line.rfind(prefix, 0) == 0;
    return n;
}

// --- Version resources for the update rules --------------------------------

typedef std::vector<BYTE> Bytes;

void Align4(Bytes& b)
{
    while (b.size() % 4)
        b.push_back(0);
}

void PutWide(Bytes& b, const std::wstring& s)
{
    for (wchar_t ch : s) {
        b.push_back(static_cast<BYTE>(ch));
        b.push_back(static_cast<BYTE>(ch >> 8));
    }
    b.push_back(0);
    b.push_back(0);
}

Bytes VersionNode(const std::wstring& key, WORD wType, const Bytes& value, WORD wValueLength,
                  const std::vector<Bytes>& children)
{
    Bytes node(6, 0);
    PutWide(node, key);
    Align4(node);
    node.insert(node.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        Align4(node);
        node.insert(node.end(), child.begin(), child.end());
    }
    node[0] = static_cast<BYTE>(node.size());
    node[1] = static_cast<BYTE>(node.size() >> 8);
    node[2] = static_cast<BYTE>(wValueLength);
    node[3] = static_cast<BYTE>(wValueLength >> 8);
    node[4] = static_cast<BYTE>(wType);
    return node;
}

// A copy of QELTRON.dll whose version resource says FileVersion = version.
void MakeVersionedFile(const std::wstring& path, const std::wstring& version)
{
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\QELTRON.dll").c_str(), path.c_str(), FALSE));
    VS_FIXEDFILEINFO ffi = {};
    ffi.dwSignature = 0xFEEF04BD;
    ffi.dwStrucVersion = 0x00010000;
    Bytes fixed(reinterpret_cast<BYTE*>(&ffi), reinterpret_cast<BYTE*>(&ffi) + sizeof(ffi));
    Bytes text;
    PutWide(text, version);
    Bytes translation = {0x09, 0x04, 0xB0, 0x04};
    Bytes block = VersionNode(
        L"VS_VERSION_INFO", 0, fixed, sizeof(ffi),
        {VersionNode(L"StringFileInfo", 1, {}, 0,
                     {VersionNode(L"040904B0", 1, {}, 0,
                                  {VersionNode(L"FileVersion", 1, text,
                                               static_cast<WORD>(version.size() + 1), {})})}),
         VersionNode(L"VarFileInfo", 1, {}, 0,
                     {VersionNode(L"Translation", 0, translation, 4, {})})});
    HANDLE hUpdate = BeginUpdateResourceW(path.c_str(), FALSE);
    ASSERT_NE(hUpdate, nullptr);
    ASSERT_TRUE(UpdateResourceW(hUpdate, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), block.data(),
                                static_cast<DWORD>(block.size())));
    ASSERT_TRUE(EndUpdateResourceW(hUpdate, FALSE));
}

FILETIME LastWrite(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA fad = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &fad);
    return fad.ftLastWriteTime;
}

void SetLastWrite(const std::wstring& path, ULONGLONG ullTime)
{
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ullTime);
    ft.dwHighDateTime = static_cast<DWORD>(ullTime >> 32);
    SetFileTime(h, &ft, nullptr, &ft);
    CloseHandle(h);
}

ULONGLONG AsNumber(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// 1 January 2020, in 100 ns units.
const ULONGLONG kDay = 864000000000ull;
const ULONGLONG kBaseTime = 132223104000000000ull;

class PieceCopyTest : public ScratchTest {};

// --- ExtractPieceOfFile ---------------------------------------------------

TEST_F(PieceCopyTest, ExtractCopiesTheRangeInBlocks)
{
    const std::string source = Pattern(3 * MiB + 4321, 1, true);
    WriteBytes(Path(L"package.bin"), source);
    const struct {
        const char* what;
        ULONGLONG offset, size;
        std::wstring target;
        bool bByHandle;
        size_t blocks;
        std::string lastBlockLine;
    } cases[] = {
        {"an empty piece", 100, 0, L"empty.bin", true, 0, ""},
        {"a small piece: one read, one write", 10, 1000, L"small.bin", true, 1,
         "ExtractPieceOfFile()->BytesWriten=1000 BytesRead=1000 BytesToCopy=0 Result=1"},
        {"exactly one block", 0, MiB, L"one.bin", false, 1,
         "ExtractPieceOfFile()->BytesWriten=1048576 BytesRead=1048576 BytesToCopy=0 Result=1"},
        {"blocks of 1 MiB and a rest, folders created", 4321, 3 * MiB, L"deep\\er\\three.bin",
         false, 3,
         "ExtractPieceOfFile()->BytesWriten=1048576 BytesRead=1048576 BytesToCopy=0 Result=1"},
        {"up to the last byte", 3 * MiB, 4321, L"tail.bin", true, 1,
         "ExtractPieceOfFile()->BytesWriten=4321 BytesRead=4321 BytesToCopy=0 Result=1"},
    };
    HANDLE hSource = CreateFileW(Path(L"package.bin").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hSource, INVALID_HANDLE_VALUE);
    for (const auto& c : cases) {
        ResetProgress(g_Progress);
        tracesink::Clear();
        DWORD dwResult = ExtractPieceOfFile(c.bByHandle ? hSource : nullptr,
                                            Path(L"package.bin").c_str(), c.offset, c.size,
                                            Path(c.target).c_str(), TRUE, FALSE);
        EXPECT_EQ(dwResult, 0u) << c.what << "\n" << tracesink::Dump();
        EXPECT_EQ(ReadBytes(Path(c.target)), source.substr(c.offset, c.size)) << c.what;
        EXPECT_EQ(CountPrefix("ExtractPieceOfFile()->BytesWriten="), c.blocks) << c.what;
        if (c.blocks) {
            EXPECT_TRUE(tracesink::Contains(c.lastBlockLine)) << c.what << "\n" << tracesink::Dump();
        }
        EXPECT_EQ(g_Progress.GetBytesDone(), c.size) << c.what;
        EXPECT_EQ(tracesink::Lines().back(), "ExtractPieceOfFile()->End(0)") << c.what;
        EXPECT_TRUE(tracesink::Contains("ExtractPieceOfFile()->OffSet=" + std::to_string(c.offset) +
                                        " FileSize=" + std::to_string(c.size) +
                                        " FileTo=" + NPath(c.target)))
            << c.what;
    }
    // The caller's handle stays open.
    LARGE_INTEGER liSize;
    EXPECT_TRUE(GetFileSizeEx(hSource, &liSize));
    CloseHandle(hSource);
}

TEST_F(PieceCopyTest, ExtractResumesAPartialTarget)
{
    const std::string source = Pattern(4 * MiB, 2, true);
    WriteBytes(Path(L"package.bin"), source);
    const ULONGLONG offset = 512 * 1024;
    // A first run left 1 MiB of the 3 MiB piece: only the rest is written.
    std::string partial = source.substr(offset, MiB);
    WriteBytes(Path(L"piece.bin"), partial);

    g_Progress.DefineStep(0, 100, 3 * MiB);
    tracesink::Clear();
    EXPECT_EQ(ExtractPieceOfFile(nullptr, Path(L"package.bin").c_str(), offset, 3 * MiB,
                                 Path(L"piece.bin").c_str(), TRUE, TRUE),
              0u);
    std::string expected = partial + source.substr(offset + MiB, 2 * MiB);
    EXPECT_EQ(ReadBytes(Path(L"piece.bin")), expected);
    EXPECT_EQ(CountPrefix("ExtractPieceOfFile()->BytesWriten="), 2u);
    // The progress starts 1 MiB ahead: the first report is a third of the way.
    std::vector<std::string> lines = tracesink::Lines();
    auto first = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("NewStep()->NbData=", 0) == 0;
    });
    ASSERT_NE(first, lines.end());
    EXPECT_EQ(*first, "NewStep()->NbData=1048576  MaxData=3145728  SizeBarStep=100  MinBarStep=0");
    EXPECT_EQ(g_Progress.GetBytesDone(), 3 * MiB);

    // A part that is not the piece's start (planted, or of another version
    // of the package) is never continued: the piece is extracted again.
    std::string foreign = partial;
    foreign[MiB / 2] ^= 0x55;
    WriteBytes(Path(L"piece.bin"), foreign);
    tracesink::Clear();
    EXPECT_EQ(ExtractPieceOfFile(nullptr, Path(L"package.bin").c_str(), offset, 3 * MiB,
                                 Path(L"piece.bin").c_str(), TRUE, TRUE),
              0u);
    EXPECT_EQ(ReadBytes(Path(L"piece.bin")), source.substr(offset, 3 * MiB));
    EXPECT_EQ(CountPrefix("ExtractPieceOfFile()->BytesWriten="), 3u);
    EXPECT_TRUE(tracesink::Contains("ExtractPieceOfFile()->" + NPath(L"piece.bin") +
                                    " is not the start of the piece: extracted again"));

    // A target longer than the piece is not ours: it is rewritten.
    WriteBytes(Path(L"long.bin"), Pattern(2 * MiB, 9));
    EXPECT_EQ(ExtractPieceOfFile(nullptr, Path(L"package.bin").c_str(), 0, MiB,
                                 Path(L"long.bin").c_str(), TRUE, TRUE),
              0u);
    EXPECT_EQ(ReadBytes(Path(L"long.bin")), source.substr(0, MiB));
}

TEST_F(PieceCopyTest, ExtractReportsFailures)
{
    WriteBytes(Path(L"package.bin"), Pattern(1000, 3));
    const struct {
        const char* what;
        std::wstring source;
        ULONGLONG offset, size;
        std::wstring target;
        BOOL bCreateDir;
        DWORD result;
        std::string traceStart;  // a line that starts so
    } cases[] = {
        {"source missing", L"none.bin", 0, 10, L"a.bin", TRUE, ERROR_FILE_NOT_FOUND,
         "CreateFile->"},
        {"piece beyond the end of the source", L"package.bin", 900, 200, L"b.bin", TRUE, 23,
         "ExtractPieceOfFile()->BytesWriten=100 BytesRead=100 BytesToCopy=100 Result=1"},
        {"target folder blocked by a file", L"package.bin", 0, 10, L"package.bin\\d.bin", TRUE,
         ERROR_ALREADY_EXISTS, "CreateDirectory->"},
        {"target folder missing and not created", L"package.bin", 0, 10, L"no\\c.bin", FALSE,
         ERROR_PATH_NOT_FOUND, "CreateFile->"},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(ExtractPieceOfFile(nullptr, Path(c.source).c_str(), c.offset, c.size,
                                     Path(c.target).c_str(), c.bCreateDir, FALSE),
                  c.result)
            << c.what << "\n" << tracesink::Dump();
        EXPECT_TRUE(tracesink::ContainsPrefix(c.traceStart)) << c.what << "\n" << tracesink::Dump();
    }
    EXPECT_TRUE(tracesink::ContainsPrefix("CreateFile->") &&
                tracesink::Lines().back().find("(3)") != std::string::npos)
        << tracesink::Dump();
}

TEST_F(PieceCopyTest, CancellingStopsTheCopyAfterTheCurrentBlock)
{
    const std::string source = Pattern(4 * MiB, 4, true);
    WriteBytes(Path(L"package.bin"), source);

    // Cancelled before the start: nothing happens.
    g_bCancel = 1;
    EXPECT_EQ(ExtractPieceOfFile(nullptr, Path(L"package.bin").c_str(), 0, MiB,
                                 Path(L"never.bin").c_str(), TRUE, FALSE),
              static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_FALSE(Exists(Path(L"never.bin")));
    EXPECT_EQ(XCopyFile(Path(L"package.bin").c_str(), Path(L"never.bin").c_str(), 0), 0u);
    EXPECT_FALSE(Exists(Path(L"never.bin")));
    g_bCancel = 0;

    const struct {
        const char* what;
        bool bExtract;
        DWORD result;
    } cases[] = {
        {"extraction", true, ERROR_CANCELLED},
        {"file copy returns what it reached", false, 0},
    };
    for (const auto& c : cases) {
        ResetProgress(g_Progress);
        g_bCancel = 0;
        CancelBar bar(50);
        g_Progress.DefineStep(0, 100, 4 * MiB);
        tracesink::Clear();
        DWORD dwResult =
            c.bExtract ? ExtractPieceOfFile(nullptr, Path(L"package.bin").c_str(), 0, 4 * MiB,
                                            Path(L"cut.bin").c_str(), TRUE, FALSE)
                       : XCopyFile(Path(L"package.bin").c_str(), Path(L"cut.bin").c_str(), 0);
        EXPECT_EQ(dwResult, c.result) << c.what;
        EXPECT_EQ(g_bCancel, 1) << c.what;
        // Two blocks reached half of the bar; the copy stopped there.
        EXPECT_EQ(ReadBytes(Path(L"cut.bin")), source.substr(0, 2 * MiB)) << c.what;
        EXPECT_FALSE(tracesink::ContainsPrefix("ExtractPieceOfFile()->End(")) << c.what;
        g_bCancel = 0;
    }
}

// --- XCopyFile ------------------------------------------------------------

TEST_F(PieceCopyTest, CopyWritesTheFileWithTheSourceTime)
{
    const std::string data = Pattern(2 * MiB + 17, 5, true);
    WriteBytes(Path(L"src.bin"), data);
    SetLastWrite(Path(L"src.bin"), kBaseTime);
    SetFileAttributesW(Path(L"src.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    const struct {
        const char* what;
        std::wstring target;
        DWORD flags;
        DWORD result;
        bool bCopied;
    } cases[] = {
        {"plain copy", L"copy1.bin", 0, 0, true},
        {"into new folders", L"a\\b\\copy2.bin", XCOPY_CREATEDIR, 0, true},
        {"missing folder without the flag", L"x\\copy3.bin", 0, ERROR_PATH_NOT_FOUND, false},
        {"folder blocked by a file", L"src.bin\\copy5.bin", XCOPY_CREATEDIR, ERROR_ALREADY_EXISTS,
         false},
        {"normal attributes", L"copy4.bin", CLEAR_FILE_ATTR, 0, true},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(XCopyFile(Path(L"src.bin").c_str(), Path(c.target).c_str(), c.flags), c.result)
            << c.what << "\n" << tracesink::Dump();
        EXPECT_EQ(Exists(Path(c.target)), c.bCopied) << c.what;
        if (!c.bCopied)
            continue;
        EXPECT_EQ(ReadBytes(Path(c.target)), data) << c.what;
        EXPECT_EQ(AsNumber(LastWrite(Path(c.target))), kBaseTime) << c.what;
        EXPECT_EQ(tracesink::Lines().back(), "XCopyFile()->End(0)") << c.what;
        EXPECT_TRUE(tracesink::Contains("XCopyFile()->ReadFile(BUFLEN=1048576 BytesRead=1048576)=1"))
            << c.what;
        EXPECT_TRUE(tracesink::Contains("XCopyFile()->WriteFile(BytesWritten=17)=1")) << c.what;
    }
    EXPECT_EQ(GetFileAttributesW(Path(L"copy4.bin").c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              0u);
    SetFileAttributesW(Path(L"src.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(PieceCopyTest, CopyThatCanNotBeRegisteredFails)
{
    // Neither a library nor a program: nothing registers it.
    WriteBytes(Path(L"plain.bin"), Pattern(10, 1));
    tracesink::Clear();
    EXPECT_EQ(XCopyFile(Path(L"plain.bin").c_str(), Path(L"reg.bin").c_str(), XCOPY_REGISTER),
              static_cast<DWORD>(ERROR_FUNCTION_FAILED));
    EXPECT_TRUE(tracesink::Contains("XCopyFile()->End(1627)")) << tracesink::Dump();
}

TEST_F(PieceCopyTest, CopyOfAMissingSourceDoesNothing)
{
    EXPECT_EQ(XCopyFile(Path(L"none.bin").c_str(), Path(L"t.bin").c_str(), XCOPY_CREATEDIR), 0u);
    EXPECT_FALSE(Exists(Path(L"t.bin")));
    EXPECT_EQ(XCopyFile(Path(L"no\\none.bin").c_str(), Path(L"t.bin").c_str(), 0), 0u);
    EXPECT_FALSE(Exists(Path(L"t.bin")));
}

TEST_F(PieceCopyTest, CopyOntoItselfSucceedsAndCopiesNothing)
{
    const std::string data = Pattern(MiB + 3, 9, true);
    WriteBytes(Path(L"self.bin"), data);
    SetLastWrite(Path(L"self.bin"), kBaseTime);
    const struct {
        const char* what;
        std::wstring target;
        DWORD flags;
    } cases[] = {
        {"same path", Path(L"self.bin"), 0},
        {"other case", Path(L"SELF.BIN"), XCOPY_CREATEDIR},
        {"through a dot folder", Path(L".\\self.bin"), 0},
        {"resuming", Path(L"self.bin"), XCOPY_RESUME},
        {"by date", Path(L"self.bin"), UPDATE_DATE | UPDATE_SAME},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(XCopyFile(Path(L"self.bin").c_str(), c.target.c_str(), c.flags), 0u)
            << c.what << "\n" << tracesink::Dump();
        EXPECT_EQ(ReadBytes(Path(L"self.bin")), data) << c.what;
        EXPECT_EQ(AsNumber(LastWrite(Path(L"self.bin"))), kBaseTime) << c.what;
        EXPECT_FALSE(tracesink::ContainsPrefix("XCopyFile()->WriteFile(")) << c.what;
    }
    // A second file with the same bytes is another file: it is written.
    WriteBytes(Path(L"twin.bin"), data);
    tracesink::Clear();
    EXPECT_EQ(XCopyFile(Path(L"self.bin").c_str(), Path(L"twin.bin").c_str(), 0), 0u);
    EXPECT_TRUE(tracesink::ContainsPrefix("XCopyFile()->WriteFile(")) << tracesink::Dump();
}

TEST_F(PieceCopyTest, CopyResumesOnlyItsOwnPartialTarget)
{
    const std::string data = Pattern(3 * MiB, 6, true);
    WriteBytes(Path(L"src.bin"), data);
    SetLastWrite(Path(L"src.bin"), kBaseTime);
    const std::string partial = data.substr(0, MiB);
    std::string foreign = partial;
    foreign[0] = 'X';
    const struct {
        const char* what;
        std::string part;
        ULONGLONG targetTime;
        bool bNotSameDate;
        bool bNotItsStart;
        size_t writes;  // blocks written: 2 when continued, 3 when copied whole
    } cases[] = {
        {"same time, the source's start: continued", partial, kBaseTime, false, false, 2},
        {"same time, other bytes: written again", foreign, kBaseTime, false, true, 3},
        {"other time: written again", partial, kBaseTime + kDay, true, false, 3},
    };
    for (const auto& c : cases) {
        WriteBytes(Path(L"dst.bin"), c.part);
        SetLastWrite(Path(L"dst.bin"), c.targetTime);
        tracesink::Clear();
        ResetProgress(g_Progress);
        EXPECT_EQ(XCopyFile(Path(L"src.bin").c_str(), Path(L"dst.bin").c_str(), XCOPY_RESUME), 0u)
            << c.what;
        EXPECT_EQ(ReadBytes(Path(L"dst.bin")), data) << c.what;
        EXPECT_EQ(CountPrefix("XCopyFile()->WriteFile(BytesWritten="), c.writes) << c.what;
        EXPECT_EQ(tracesink::Contains("XCopyFile()->Files are not on the same date!"),
                  c.bNotSameDate)
            << c.what;
        EXPECT_EQ(tracesink::Contains("XCopyFile()->" + NPath(L"dst.bin") + " is not the start of " +
                                      NPath(L"src.bin") + ": copied again"),
                  c.bNotItsStart)
            << c.what;
        EXPECT_EQ(AsNumber(LastWrite(Path(L"dst.bin"))), kBaseTime) << c.what;
        EXPECT_EQ(g_Progress.GetBytesDone(), 3 * MiB) << c.what;
    }
}

// Date rule: the source goes only over an older target; UPDATE_SAME lets it
// over a target of the same time too. The log names the target first.
TEST_F(PieceCopyTest, CopyByDateReplacesOnlyOlderTargets)
{
    WriteBytes(Path(L"src.txt"), "new");
    SetLastWrite(Path(L"src.txt"), kBaseTime);
    const std::string later = "XCopyFile(" + NPath(L"dst.txt") + ", " + NPath(L"src.txt") +
                              ")->First file time is later than second file time";
    const std::string laterOrEqual = "XCopyFile(" + NPath(L"dst.txt") + ", " + NPath(L"src.txt") +
                                     ")->First file time is later or equal than second file time";
    const struct {
        const char* what;
        bool bTarget;
        LONGLONG targetOffset;
        DWORD flags;
        bool bCopied;
        std::string line;
    } cases[] = {
        {"no target", false, 0, UPDATE_DATE, true, ""},
        {"older target", true, -static_cast<LONGLONG>(kDay), UPDATE_DATE, true, ""},
        {"same time", true, 0, UPDATE_DATE, false, laterOrEqual},
        {"same time, same accepted", true, 0, UPDATE_DATE | UPDATE_SAME, true, ""},
        {"newer target", true, static_cast<LONGLONG>(kDay), UPDATE_DATE, false, laterOrEqual},
        {"newer target, same accepted", true, static_cast<LONGLONG>(kDay),
         UPDATE_DATE | UPDATE_SAME, false, later},
        {"newer target, resume probe saw it", true, static_cast<LONGLONG>(kDay),
         UPDATE_DATE | XCOPY_RESUME, false, laterOrEqual},
    };
    for (const auto& c : cases) {
        DeleteFileW(Path(L"dst.txt").c_str());
        if (c.bTarget) {
            WriteBytes(Path(L"dst.txt"), "old");
            SetLastWrite(Path(L"dst.txt"), kBaseTime + c.targetOffset);
        }
        tracesink::Clear();
        EXPECT_EQ(XCopyFile(Path(L"src.txt").c_str(), Path(L"dst.txt").c_str(), c.flags), 0u)
            << c.what;
        EXPECT_EQ(ReadBytes(Path(L"dst.txt")), c.bCopied ? "new" : "old") << c.what;
        if (!c.line.empty()) {
            EXPECT_TRUE(tracesink::Contains(c.line)) << c.what << "\n" << tracesink::Dump();
        }
    }
}

TEST_F(PieceCopyTest, CopyByVersionComparesFileVersions)
{
    MakeVersionedFile(Path(L"v1.dll"), L"1.0");
    MakeVersionedFile(Path(L"v2.dll"), L"2.0");
    MakeVersionedFile(Path(L"v2b.dll"), L"2.0.0.9");
    WriteBytes(Path(L"plain1.txt"), "one");
    WriteBytes(Path(L"plain2.txt"), "two");
    SetLastWrite(Path(L"plain1.txt"), kBaseTime);
    SetLastWrite(Path(L"plain2.txt"), kBaseTime + kDay);
    const struct {
        const char* what;
        std::wstring source, target;
        DWORD flags;
        bool bCopied;
    } cases[] = {
        {"2.0 over 2.0", L"v2b.dll", L"v2.dll", UPDATE_VERSION, false},
        {"2.0 over 2.0, same accepted", L"v2b.dll", L"v2.dll", UPDATE_VERSION | UPDATE_SAME, true},
        {"1.0 over 2.0", L"v1.dll", L"v2.dll", UPDATE_VERSION, false},
        {"1.0 over 2.0, same accepted", L"v1.dll", L"v2.dll", UPDATE_VERSION | UPDATE_SAME, false},
        {"2.0 over 1.0", L"v2.dll", L"v1.dll", UPDATE_VERSION, true},
        {"no versions: the date decides, older source", L"plain1.txt", L"plain2.txt",
         UPDATE_VERSION, false},
        {"no versions: the date decides, newer source", L"plain2.txt", L"plain1.txt",
         UPDATE_VERSION, true},
    };
    for (const auto& c : cases) {
        CopyFileW(Path(c.target).c_str(), Path(L"target.tmp").c_str(), FALSE);
        std::string before = ReadBytes(Path(L"target.tmp"));
        std::string source = ReadBytes(Path(c.source));
        EXPECT_EQ(XCopyFile(Path(c.source).c_str(), Path(L"target.tmp").c_str(), c.flags), 0u)
            << c.what;
        EXPECT_EQ(ReadBytes(Path(L"target.tmp")), c.bCopied ? source : before) << c.what;
        DeleteFileW(Path(L"target.tmp").c_str());
    }
}

TEST_F(PieceCopyTest, LockedTargetIsReplacedAtRestart)
{
    WriteBytes(Path(L"new.dll"), "new");
    WriteBytes(Path(L"core.dll"), "old");
    HANDLE hLock = CreateFileW(Path(L"core.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               0, nullptr);
    ASSERT_NE(hLock, INVALID_HANDLE_VALUE);
    const struct {
        const char* what;
        DWORD flags;
        bool bPending;
    } cases[] = {
        {"without the flag", 0, false},
        {"with the flag", LOCKEDFILE, true},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(XCopyFile(Path(L"new.dll").c_str(), Path(L"core.dll").c_str(), c.flags),
                  static_cast<DWORD>(ERROR_SHARING_VIOLATION))
            << c.what;
        EXPECT_TRUE(tracesink::ContainsPrefix("CreateFile->")) << c.what;
        EXPECT_EQ(tracesink::ContainsPrefix("MoveFileEx("), c.bPending)
            << c.what << "\n" << tracesink::Dump();
    }
    CloseHandle(hLock);
    EXPECT_EQ(ReadBytes(Path(L"core.dll")), "old");

    // Forget the restart operations of this test.
    HKEY hKey;
    const wchar_t* kKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | KEY_SET_VALUE, &hKey) == 0) {
        DWORD cb = 0;
        if (RegQueryValueExW(hKey, L"PendingFileRenameOperations", nullptr, nullptr, nullptr,
                             &cb) == 0) {
            std::vector<WCHAR> data(cb / 2 + 2, 0);
            RegQueryValueExW(hKey, L"PendingFileRenameOperations", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(data.data()), &cb);
            std::vector<WCHAR> kept;
            std::vector<std::wstring> items;
            for (size_t i = 0, start = 0; i < cb / 2; ++i)
                if (!data[i]) {
                    items.push_back(std::wstring(data.data() + start, i - start));
                    start = i + 1;
                }
            for (size_t i = 0; i + 1 < items.size(); i += 2) {
                if (items[i].find(m_root) != std::wstring::npos)
                    continue;
                for (size_t j = i; j < i + 2; ++j) {
                    kept.insert(kept.end(), items[j].begin(), items[j].end());
                    kept.push_back(0);
                }
            }
            if (kept.empty()) {
                RegDeleteValueW(hKey, L"PendingFileRenameOperations");
            } else {
                kept.push_back(0);
                RegSetValueExW(hKey, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                               reinterpret_cast<BYTE*>(kept.data()),
                               static_cast<DWORD>(kept.size() * 2));
            }
        }
        RegCloseKey(hKey);
    }
}

// --- ReportLastError ------------------------------------------------------

TEST_F(PieceCopyTest, ReportLastErrorLogsTheSystemText)
{
    const struct {
        const char* what;
        DWORD lastError;
        DWORD code;
        DWORD result;
        std::string suffix;
    } cases[] = {
        {"given code", 0, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, " (2)"},
        {"the thread's last error", ERROR_ACCESS_DENIED, 0, ERROR_ACCESS_DENIED, " (5)"},
        {"no error at all still fails", 0, 0, ERROR_GEN_FAILURE, " (31)"},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        SetLastError(c.lastError);
        EXPECT_EQ(ReportLastError(L"CreateFile", c.code), c.result) << c.what;
        ASSERT_FALSE(tracesink::Lines().empty()) << c.what;
        const std::string line = tracesink::Lines().back();
        EXPECT_EQ(line.rfind("CreateFile->", 0), 0u) << line;
        EXPECT_GT(line.size(), std::string("CreateFile->").size() + c.suffix.size()) << line;
        EXPECT_EQ(line.substr(line.size() - c.suffix.size()), c.suffix) << line;
    }
    tracesink::Clear();
    EXPECT_EQ(ReportLastError(L"HttpSendRequest", 12003), 12003u);
    EXPECT_EQ(tracesink::Lines().front(), "HttpSendRequest->InternetGetLastResponseInfo (12003)");
}

}  // namespace
