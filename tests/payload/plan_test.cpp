#include <gtest/gtest.h>
#include <windows.h>
#include <strsafe.h>
#include <zip.h>
// iowin32.h needs the declarations of zip.h first.
#include <iowin32.h>
#include <string>
#include <vector>
#include "state/projectinfo.h"
#include "state/state.h"
#include "payload/plan.h"
#include "payload/itemcheck.h"
#include "packer/payloadtable.h"
#include "payload/trailer.h"
#include "payloadtest.h"
#include "support/strings.h"
#include "support/steplook.h"
#include "support/tracesink.h"
#include "ui/progress.h"
#include "support/testrun.h"

using namespace payloadtest;

namespace {

struct Piece {
    std::string file;
    std::string fileOut;
    BYTE type;
    std::string data;  // embedded bytes, or the size source of other records
};

// A ZIP archive in memory (written through a scratch file).
std::string ZipOf(const std::wstring& scratch, const std::vector<std::pair<std::string, std::string>>& members)
{
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    zipFile zf = zipOpen2_64(scratch.c_str(), 0, nullptr, &functions);
    EXPECT_NE(zf, nullptr);
    for (const auto& m : members) {
        zip_fileinfo info = {};
        zipOpenNewFileInZip64(zf, m.first.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, 6, 0);
        zipWriteInFileInZip(zf, m.second.data(), static_cast<unsigned>(m.second.size()));
        zipCloseFileInZip(zf);
    }
    zipClose(zf, nullptr);
    std::string bytes = ReadBytes(scratch);
    DeleteFileW(scratch.c_str());
    return bytes;
}

class PlanTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        CreateDirectoryW(Path(L"pkg").c_str(), nullptr);
        CreateDirectoryW(Path(L"data").c_str(), nullptr);
        m_failure = EXTRACTFAILURE();
        m_bForceDownload = FALSE;
    }
    void TearDown() override
    {
        if (m_hMainBar)
            DestroyWindow(m_hMainBar);
        g_Progress.m_hMainBar = nullptr;
        ScratchTest::TearDown();
    }

    // A launcher file: some image bytes, the embedded data, the file table.
    std::wstring MakePackage(const std::vector<Piece>& pieces)
    {
        std::string content = "MZ" + std::string(998, '\0');
        std::vector<PAYLOADENTRY> entries;
        for (const Piece& piece : pieces) {
            PAYLOADENTRY entry = {piece.file, piece.fileOut, piece.data.size(), 0, piece.type};
            if (piece.type & TF_EMBEDDED) {
                entry.DataOffSet = content.size();
                content += piece.data;
            }
            entries.push_back(entry);
        }
        std::vector<BYTE> table;
        EXPECT_TRUE(BuildPayloadTable(entries, table));
        content.append(table.begin(), table.end());
        WriteBytes(Path(L"pkg\\setup.exe"), content);
        return Path(L"pkg\\setup.exe");
    }

    DWORD Run(const std::wstring& package, DWORD dwOffset = 10)
    {
        return ReadDataStruct(TestRun(), package.c_str(), dwOffset, Path(L"target").c_str(),
                              Path(L"data").c_str(), std::vector<DATAFILEINFO>(), m_bForceDownload,
                              &m_failure);
    }

    BOOL m_bForceDownload = FALSE;  // -FD: the web files come from the server
    EXTRACTFAILURE m_failure = {};  // where the last Run failed

    // The status window's main bar; its presence makes the two-bar layout.
    void UseTwoBars()
    {
        m_hMainBar = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                     nullptr, nullptr);
        g_Progress.m_hMainBar = m_hMainBar;
    }

    HWND m_hMainBar = nullptr;
};

TEST_F(PlanTest, PhaseWeightsGiveTheWorkedNumbers)
{
    const ULONGLONG S = 41764956;
    const ULONGLONG comp = static_cast<ULONGLONG>(static_cast<double>(S) * 1.4);
    ASSERT_EQ(comp, 58470938u);
    ASSERT_EQ(S + comp, 100235894u);
    const struct {
        ULONGLONG weight, total;
        DWORD base, status;
    } cases[] = {
        {S, S + comp, 3, 42},      // one bar: extraction after the table step
        {comp, S + comp, 42, 97},  // one bar: unpacking
        {S, S + comp, 1, 40},      // two bars
        {comp, S + comp, 40, 95},
        {10, 0, 7, 7},             // nothing to weigh
        {5, 5, 1, 96},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PhaseStatus(c.weight, c.total, c.base), c.status) << c.weight << "/" << c.total;
}

TEST_F(PlanTest, SamplePackageRunsThePhasesWithTheirStatus)
{
    // The sample's one record: an embedded archive of 41,764,956 bytes at
    // 1,183,744. A hole stands for its bytes, which are no archive, so the
    // unpacking fails after the bars were laid out.
    const ULONGLONG S = 41764956;
    std::vector<BYTE> table;
    ASSERT_TRUE(BuildPayloadTable({{"TRV7299.001", "", S, 1183744, TF_EMBEDDED}}, table));
    const struct {
        const char* what;
        bool bTwoBars;
        DWORD status3, status4;
    } cases[] = {
        {"one bar", false, 42, 97},
        {"two bars", true, 40, 95},
    };
    for (const auto& c : cases) {
        HANDLE h = CreateFileW(Path(L"pkg\\setup.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(1183744 + S);
        SetFilePointerEx(h, li, nullptr, FILE_BEGIN);
        SetEndOfFile(h);
        DWORD cb = 0;
        WriteFile(h, table.data(), static_cast<DWORD>(table.size()), &cb, nullptr);
        CloseHandle(h);
        ResetProgress(g_Progress);
        if (c.bTwoBars)
            UseTwoBars();
        tracesink::Clear();
        EXPECT_EQ(Run(Path(L"pkg\\setup.exe")), static_cast<DWORD>(ERROR_BAD_FORMAT)) << c.what;
        const std::string expected[] = {
            "ReadDataStruct()->vFilesToExtract[dwCptFtE-1].szTgdFile=" +
                NPath(L"data\\TRV7299.001"),
            "ReadDataStruct()->vFilesToUncompress[dwCptFtU-1].szTgdFile=" +
                NPath(L"target"),
            "ReadDataStruct()->TotDataSize=83529912",
            "ReadDataStruct()->TotSizeFilesToUncompress=41764956 TotSizeComp=58470938 "
            "TotSize=100235894",
            "ReadDataStruct()->Status3=" + std::to_string(c.status3),
            "ReadDataStruct()->Status4=" + std::to_string(c.status4),
            "ReadDataStruct()->ExtractPieceOfFile(",  // prefix, see below
            "ReadDataStruct()->Catch Error!",
            "ReadDataStruct()->End(11)",
        };
        for (const std::string& line : expected) {
            if (line.back() == '(') {
                EXPECT_TRUE(tracesink::ContainsPrefix(line)) << c.what << ": " << line;
            } else {
                EXPECT_TRUE(tracesink::Contains(line)) << c.what << ": " << line;
            }
        }
        EXPECT_FALSE(tracesink::ContainsPrefix("ReadDataStruct()->Status1=")) << c.what;
        EXPECT_FALSE(tracesink::ContainsPrefix("ReadDataStruct()->Status2=")) << c.what;
        if (c.bTwoBars) {
            EXPECT_TRUE(tracesink::Contains("ReadDataStruct()->MaxMainBarStep=1 "
                                            "TotSizeFilesToExtract=41764956 TotSize=100235894"))
                << c.what;
            g_Progress.m_hMainBar = nullptr;
            DestroyWindow(m_hMainBar);
            m_hMainBar = nullptr;
        }
        // The staged copy is whole; it stays, since the plan failed.
        EXPECT_EQ(ReadBytes(Path(L"data\\TRV7299.001")).size(), S) << c.what;
        DeleteFileW(Path(L"data\\TRV7299.001").c_str());
    }
}

TEST_F(PlanTest, EmbeddedArchivesAndStoredFilesLandInTheTarget)
{
    const std::string zip1 = ZipOf(Path(L"z1.zip"), {{"app/one.txt", "one"}, {"shared.txt", "from 1"}});
    const std::string zip2 = ZipOf(Path(L"z2.zip"), {{"two.txt", Pattern(200000, 1)},
                                                     {"shared.txt", "from 2"}});
    const std::string stored = Pattern(3 * 1024 * 1024 + 5, 2, true);
    const struct {
        const char* what;
        BOOL bResume;
        bool bTwoBars;
    } cases[] = {
        {"one bar", FALSE, false},
        {"two bars", FALSE, true},
        {"resume mode keeps the staged archives", TRUE, false},
    };
    for (const auto& c : cases) {
        WipeTree(Path(L"target"));
        WipeTree(Path(L"data"));
        CreateDirectoryW(Path(L"data").c_str(), nullptr);
        ResetProgress(g_Progress);
        if (c.bTwoBars)
            UseTwoBars();
        TestRun().project.bResumeSetup = c.bResume;
        std::wstring package = MakePackage({
            {"TRV0001.001", "", TF_EMBEDDED, zip1},
            {"setup.dat", "setup.dat", TF_EMBEDDED | TF_STORED, stored},
            {"TRV0003.001", "", TF_EMBEDDED, zip2},
        });
        tracesink::Clear();
        EXPECT_EQ(Run(package), 0u) << c.what << "\n" << tracesink::Dump();
        EXPECT_EQ(Tree(Path(L"target")),
                  (std::vector<std::wstring>{L"one.txt", L"setup.dat", L"shared.txt", L"two.txt"}))
            << c.what;
        // Archives are unpacked last one first: the first one's file wins.
        EXPECT_EQ(ReadBytes(Path(L"target\\shared.txt")), "from 1") << c.what;
        EXPECT_EQ(ReadBytes(Path(L"target\\setup.dat")), stored) << c.what;
        std::vector<std::wstring> staged =
            c.bResume ? std::vector<std::wstring>{L"TRV0001.001", L"TRV0003.001"}
                      : std::vector<std::wstring>{};
        EXPECT_EQ(Tree(Path(L"data")), staged) << c.what;
        EXPECT_EQ(g_Progress.Pos, 100u) << c.what;
        if (c.bTwoBars) {
            EXPECT_EQ(g_Progress.MainPos, 100u) << c.what;
            g_Progress.m_hMainBar = nullptr;
            DestroyWindow(m_hMainBar);
            m_hMainBar = nullptr;
        }
        // The unpack order, last first.
        std::vector<std::string> lines = tracesink::Lines();
        auto find = [&](const std::string& prefix) {
            for (size_t i = 0; i < lines.size(); ++i)
                if (lines[i].rfind(prefix, 0) == 0)
                    return i;
            return lines.size();
        };
        size_t i3 =
            find("ReadDataStruct()->UnCompressFile(" + NPath(L"data\\TRV0003.001"));
        size_t i1 =
            find("ReadDataStruct()->UnCompressFile(" + NPath(L"data\\TRV0001.001"));
        EXPECT_LT(i3, i1) << c.what;
        EXPECT_LT(i1, lines.size()) << c.what;
        EXPECT_EQ(lines.back(), "ReadDataStruct()->End(0)") << c.what;
    }
}

// A record marked TF_UTF8_NAMES names its file in UTF-8, whatever the code
// page; an unmarked record is read in the ANSI code page, as before.
TEST_F(PlanTest, RecordNamesAreReadInTheEncodingTheirTypeSays)
{
    const struct {
        const char* what;
        std::string name;
        BYTE byType;
        const wchar_t* written;
        bool bAnsiOnly;  // as expected where the ANSI code page is 1252
    } cases[] = {
        {"UTF-8", "\xC5\x81" "ask\\\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF \xF0\x9F\x98\x80.txt",
         TF_EMBEDDED | TF_STORED | TF_UTF8_NAMES, L"\u0141ask\\\u30c7\u30fc\u30bf \U0001F600.txt", false},
        {"the code page", "donn\xE9" "es.txt", TF_EMBEDDED | TF_STORED, L"donn\u00e9es.txt", true},
        {"UTF-8 bytes unmarked", "donn\xC3\xA9" "es.txt", TF_EMBEDDED | TF_STORED,
         L"donn\u00c3\u00a9es.txt", true},
    };
    for (const auto& c : cases) {
        if (c.bAnsiOnly && GetACP() != 1252)
            continue;
        WipeTree(Path(L"target"));
        ResetProgress(g_Progress);
        std::wstring package = MakePackage({{c.name, c.name, c.byType, "stored bytes"}});
        tracesink::Clear();
        EXPECT_EQ(Run(package), 0u) << c.what << "\n" << tracesink::Dump();
        EXPECT_EQ(Tree(Path(L"target")), std::vector<std::wstring>{c.written}) << c.what;
        EXPECT_EQ(ReadBytes(Path(L"target\\") + c.written), "stored bytes") << c.what;
        // The trace names it as the record means it.
        for (const char* field : {"File=", "FileOut="})
            EXPECT_TRUE(tracesink::ListContains(std::string("ReadDataStruct()->") + field +
                                                support::Utf8(c.written)))
                << c.what << " " << field;
    }
}

// The status window never shows a full step bar beside an empty step text:
// the pause after the file table keeps the table's text, and each phase
// names itself before its bar moves.
TEST_F(PlanTest, AFullStepBarAlwaysSaysWhatWasDone)
{
    HMODULE hStrings = LoadLibraryExW((BinFolder() + L"\\launcher.exe").c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hStrings, nullptr);
    hInstRes = hStrings;
    std::wstring package = MakePackage({
        {"TRV0001.001", "", TF_EMBEDDED, ZipOf(Path(L"z.zip"), {{"readme.txt", "Read me."}})},
        {"setup.dat", "setup.dat", TF_EMBEDDED | TF_STORED, Pattern(300000, 3)},
    });
    {
        steplook::Recorder recorder(true);
        EXPECT_EQ(Run(package), 0u) << tracesink::Dump();
        for (const steplook::Look& look : recorder.FullWithoutText())
            ADD_FAILURE() << "full step bar without text at " << look.pos;
        // The texts in the order they were seen.
        std::vector<std::wstring> texts;
        for (const steplook::Look& look : recorder.Looks()) {
            if (texts.empty() || texts.back() != look.text)
                texts.push_back(look.text);
        }
        EXPECT_EQ(texts, (std::vector<std::wstring>{
                             L"Preparing to install...", L"Extracting program files...",
                             L"Uncompressing program files...", L"Cleaning temporary files..."}));
        // The table's step ends full, with its text kept for the pause.
        bool bTableDone = false;
        for (const steplook::Look& look : recorder.Looks())
            bTableDone |= look.pos == 100 && look.text == L"Preparing to install...";
        EXPECT_TRUE(bTableDone);
    }
    hInstRes = nullptr;
    FreeLibrary(hStrings);
}

TEST_F(PlanTest, ExternalFilesAreCopiedFromBesideTheLauncher)
{
    const std::string zip = ZipOf(Path(L"z.zip"), {{"ext.txt", "external"}});
    const struct {
        const char* what;
        std::vector<std::pair<std::wstring, std::string>> beside;
        Piece record;
        DWORD result;
        std::vector<std::wstring> target;
    } cases[] = {
        {"archive under its own name", {{L"pack.002", zip}},
         {"TRV0001.001", "pack.002", TF_EXTERNAL, zip}, 0, {L"ext.txt"}},
        {"archive under the launcher's name", {{L"setup.002", zip}},
         {"TRV0001.001", "pack.002", TF_EXTERNAL, zip}, 0, {L"ext.txt"}},
        {"stored file", {{L"docs\\readme.txt", "read me"}},
         {"TRV0001.001", "docs\\readme.txt", TF_EXTERNAL | TF_STORED, "read me"}, 0,
         {L"docs\\readme.txt"}},
        {"web file present beside the launcher", {{L"web.cab", zip}},
         {"TRV0001.001", "web.cab", TF_EXTERNAL | TF_WEB, zip}, 0, {L"ext.txt"}},
        {"missing archive: nothing to unpack", {},
         {"TRV0001.001", "pack.002", TF_EXTERNAL, zip}, ERROR_BAD_FORMAT, {}},
        {"missing stored file is simply absent", {},
         {"TRV0001.001", "readme.txt", TF_EXTERNAL | TF_STORED, "x"}, 0, {}},
    };
    for (const auto& c : cases) {
        WipeTree(Path(L"pkg"));
        WipeTree(Path(L"target"));
        WipeTree(Path(L"data"));
        CreateDirectoryW(Path(L"pkg").c_str(), nullptr);
        CreateDirectoryW(Path(L"data").c_str(), nullptr);
        for (const auto& file : c.beside)
            WriteBytes(Path(L"pkg\\" + file.first), file.second);
        std::wstring package = MakePackage({c.record});
        tracesink::Clear();
        EXPECT_EQ(Run(package), c.result) << c.what << "\n" << tracesink::Dump();
        EXPECT_EQ(Tree(Path(L"target")), c.target) << c.what;
        // Copied archives stay staged; the data folder is removed with the run.
        if (!(c.record.type & TF_STORED) && c.result == 0) {
            EXPECT_EQ(Tree(Path(L"data")), std::vector<std::wstring>{L"TRV0001.001"}) << c.what;
        }
        EXPECT_FALSE(tracesink::ContainsPrefix("ReadDataStruct()->Status1=")) << c.what;
    }
}

TEST_F(PlanTest, WebFilesAreFetchedWhenAbsentOrForced)
{
    const std::string zip = ZipOf(Path(L"z.zip"), {{"ext.txt", "external"}});
    StringCchCopyW(TestRun().project.szWebDownloadUrl, PATH_CCH, L"file:///C:/nowhere/");
    const struct {
        const char* what;
        bool bBeside;
        BOOL bForce;
        DWORD result;
    } cases[] = {
        {"absent", false, FALSE, 1236},
        {"present but forced", true, TRUE, 1236},
    };
    for (const auto& c : cases) {
        WipeTree(Path(L"pkg"));
        CreateDirectoryW(Path(L"pkg").c_str(), nullptr);
        if (c.bBeside)
            WriteBytes(Path(L"pkg\\sub\\web.cab"), zip);
        m_bForceDownload = c.bForce;
        std::wstring package = MakePackage({{"TRV0001.001", "sub/web.cab", TF_EXTERNAL | TF_WEB, zip}});
        tracesink::Clear();
        EXPECT_EQ(Run(package), c.result) << c.what << "\n" << tracesink::Dump();
        // A file URL needs no connection check.
        EXPECT_TRUE(tracesink::ContainsPrefix(
            "ReadDataStruct()->Url=file:///C:/nowhere/sub/web.cab, HostName="))
            << c.what << "\n"
            << tracesink::Dump();
        EXPECT_TRUE(tracesink::ContainsPrefix("ReadDataStruct()->Status1=")) << c.what;
        EXPECT_FALSE(tracesink::ContainsPrefix("ReadDataStruct()->Status2=")) << c.what;
    }
    m_bForceDownload = FALSE;

    // A web location that is a folder: the file is fetched and unpacked.
    CreateDirectoryW(Path(L"web").c_str(), nullptr);
    WriteBytes(Path(L"web\\sub\\web.cab"), zip);
    std::wstring location = L"file:///" + Path(L"web");
    std::replace(location.begin(), location.end(), L'\\', L'/');
    StringCchCopyW(TestRun().project.szWebDownloadUrl, PATH_CCH, location.c_str());
    WipeTree(Path(L"pkg"));
    CreateDirectoryW(Path(L"pkg").c_str(), nullptr);
    std::wstring package = MakePackage({{"TRV0001.001", "sub/web.cab", TF_EXTERNAL | TF_WEB, zip}});
    tracesink::Clear();
    EXPECT_EQ(Run(package), 0u) << tracesink::Dump();
    EXPECT_EQ(ReadBytes(Path(L"target\\ext.txt")), "external");
}

TEST_F(PlanTest, WebUrlsJoinTheLocationAndTheName)
{
    const struct {
        const wchar_t* base;
        const wchar_t* name;
        const wchar_t* url;
    } cases[] = {
        {L"http://host/dir/", L"x.cab", L"http://host/dir/x.cab"},
        {L"http://host/dir", L"x.cab", L"http://host/dir/x.cab"},
        {L"http://host/dir/", L"/x.cab", L"http://host/dir/x.cab"},
        {L"http://host/dir//", L"x.cab", L"http://host/dir//x.cab"},
        {L"http://host/dir/", L"", L"http://host/dir/"},
        {L"", L"x.cab", L"/x.cab"},
        {L"http://host/dir/", L"donn\u00e9es/\u30c7\U0001F600.cab",
         L"http://host/dir/donn%C3%A9es/%E3%83%87%F0%9F%98%80.cab"},
        {L"http://h\u00f4te/\u0141ask/", L"x.cab", L"http://h\u00f4te/%C5%81ask/x.cab"},
    };
    for (const auto& c : cases) {
        WCHAR szUrl[PATH_CCH];
        EXPECT_TRUE(JoinWebUrl(szUrl, PATH_CCH, c.base, c.name));
        EXPECT_STREQ(szUrl, c.url) << Narrow(c.base) << " + " << Narrow(c.name);
    }
    WCHAR szSmall[10];
    EXPECT_FALSE(JoinWebUrl(szSmall, 10, L"http://host/", L"x.cab"));
}

TEST_F(PlanTest, DiskSpaceIsCheckedBeforeAnythingIsWritten)
{
    HMODULE hLauncher = LoadLibraryExW((BinFolder() + L"\\launcher.exe").c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hLauncher, nullptr);
    hInstRes = hLauncher;
    const ULONGLONG need = 45652272ull + 83529912ull;  // the sample's TotNeedSize
    ASSERT_EQ(need, 129182184u);
    // The failure names the drive and what the payload needs there.
    const struct {
        const char* what;
        ULONGLONG free;
        DWORD result;
        DWORD step;
        const wchar_t* root;
    } cases[] = {
        {"exactly enough", need, 0, EXTRACT_STEP_NONE, L""},
        {"one byte short", need - 1, 112, EXTRACT_STEP_SPACE, L"C:\\"},
    };
    for (const auto& c : cases) {
        EXTRACTFAILURE failure = {};
        EXPECT_EQ(CheckNeededSpace(L"C:\\Program Files\\Demo", c.free, need, failure), c.result)
            << c.what;
        EXPECT_EQ(failure.dwStep, c.step) << c.what;
        EXPECT_STREQ(failure.szPath, c.root) << c.what;
        EXPECT_EQ(failure.ullNeedBytes, c.result ? need : 0) << c.what;
    }

    // Through the whole plan: a configured size no disk has.
    TestRun().project.uiTotFilesSize = 1ull << 60;
    std::wstring package = MakePackage({{"TRV0001.001", "", TF_EMBEDDED, "data"}});
    tracesink::Clear();
    EXPECT_EQ(Run(package), 112u) << tracesink::Dump();
    EXPECT_TRUE(tracesink::Contains("ReadDataStruct()->TotNeedSize=" +
                                    std::to_string((1ull << 60) + 8)))
        << tracesink::Dump();
    EXPECT_EQ(m_failure.dwStep, static_cast<DWORD>(EXTRACT_STEP_SPACE));
    EXPECT_EQ(m_failure.ullNeedBytes, (1ull << 60) + 8);
    EXPECT_FALSE(Exists(Path(L"target")));
    EXPECT_EQ(Tree(Path(L"data")), std::vector<std::wstring>{});
    hInstRes = nullptr;
    FreeLibrary(hLauncher);
}

// A damaged table fails the run before anything is written, and sizes of
// records that nothing bounds add up without wrapping round.
TEST_F(PlanTest, DamagedTablesAndHugeSizesFailBeforeAnythingIsWritten)
{
    // dwCountOverride, ullTotOverride: NbFiles and TotFilesSize written over
    // the header's own (0: kept).
    auto launcherWith = [&](const std::vector<PAYLOADENTRY>& entries, DWORD dwCountOverride,
                            ULONGLONG ullTotOverride) {
        // Image bytes that are no table, then 4 bytes of data, then the table.
        std::string content = Pattern(1000, 9) + "data";
        std::vector<BYTE> table;
        EXPECT_TRUE(BuildPayloadTable(entries, table));
        if (dwCountOverride)
            memcpy(&table[table.size() - 14], &dwCountOverride, 4);
        if (ullTotOverride)
            memcpy(&table[table.size() - 22], &ullTotOverride, 8);
        content.append(table.begin(), table.end());
        WriteBytes(Path(L"pkg\\setup.exe"), content);
        return Path(L"pkg\\setup.exe");
    };
    const PAYLOADENTRY stored = {"a.bin", "", 4, 1000, TF_EMBEDDED | TF_STORED};
    const struct {
        const char* what;
        std::vector<PAYLOADENTRY> entries;
        DWORD count;
        ULONGLONG total;
        DWORD result;
        const char* line;
    } cases[] = {
        {"a second record pointing outside the file",
         {stored, {"b.bin", "", 1ull << 40, 1000, TF_EMBEDDED | TF_STORED}},
         0,
         0,
         ERROR_INVALID_DATA,
         "ReadDataStruct()->Record 1 points outside the file"},
        {"a count of 5 over one real record",
         {stored},
         5,
         0,
         ERROR_INVALID_DATA,
         "ReadDataStruct()->File table damaged after 1 of 5 records"},
        {"sizes whose sum would wrap round",
         {stored,
          {"TRV0002.001", "x.002", 0x8000000000000000ull, 0, TF_EXTERNAL | TF_STORED},
          {"TRV0003.001", "x.003", 0x8000000000000001ull, 0, TF_EXTERNAL | TF_STORED}},
         0,
         0,
         ERROR_INVALID_DATA,
         "ReadDataStruct()->The sizes add up to 18446744073709551615, not TotFilesSize 5"},
        // The table must add up: sizes that are not the header's, blocks
        // over one another, records of no known kind.
        {"a size one more than the header's",
         {stored},
         0,
         3,
         ERROR_INVALID_DATA,
         "ReadDataStruct()->The sizes add up to 4, not TotFilesSize 3"},
        {"a block over another",
         {stored, {"b.bin", "", 2, 1002, TF_EMBEDDED | TF_STORED}},
         0,
         0,
         ERROR_INVALID_DATA,
         "ReadDataStruct()->Embedded bytes at 1002 (2) are not where the payload lies"},
        {"a record of no kind",
         {stored, {"u", "", 0, 0, 0}},
         0,
         0,
         ERROR_INVALID_DATA,
         "ReadDataStruct()->Record 1 of no known kind (0)"},
        {"a record of an unknown kind",
         {{"a.bin", "", 4, 1000, 0xFF}},
         0,
         0,
         ERROR_INVALID_DATA,
         "ReadDataStruct()->Record 0 of no known kind (255)"},
        {"names marked as UTF-8 that are not",
         {{"caf\xE9.bin", "", 4, 1000, TF_EMBEDDED | TF_STORED | TF_UTF8_NAMES}},
         0,
         0,
         ERROR_INVALID_DATA,
         "ReadDataStruct()->Names of a record refused: not UTF-8"},
    };
    for (const auto& c : cases) {
        std::wstring package = launcherWith(c.entries, c.count, c.total);
        tracesink::Clear();
        EXPECT_EQ(Run(package), c.result) << c.what << "\n" << tracesink::Dump();
        EXPECT_TRUE(tracesink::Contains(c.line)) << c.what << "\n" << tracesink::Dump();
        EXPECT_FALSE(Exists(Path(L"target"))) << c.what;
        EXPECT_EQ(Tree(Path(L"data")), std::vector<std::wstring>{}) << c.what;
    }
}

TEST_F(PlanTest, FailuresAndCancellation)
{
    const std::string zip = ZipOf(Path(L"z.zip"), {{"a.txt", Pattern(3 * 1024 * 1024, 3, true)}});
    // No launcher file.
    EXPECT_EQ(Run(Path(L"pkg\\none.exe")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A signature offset that leads nowhere.
    std::wstring package = MakePackage({{"TRV0001.001", "", TF_EMBEDDED, zip}});
    EXPECT_EQ(Run(package, 0x7FFFFFF0), static_cast<DWORD>(ERROR_INVALID_DATA));
    // Table names that would leave their folders.
    const Piece hostile[] = {
        {"..\\..\\evil.exe", "", TF_EMBEDDED | TF_STORED, "x"},
        {"C:\\evil.exe", "", TF_EMBEDDED, "x"},
        {"TRV0001.001", "..\\evil.txt", TF_EXTERNAL | TF_STORED, "x"},
    };
    for (const Piece& piece : hostile) {
        package = MakePackage({piece});
        tracesink::Clear();
        EXPECT_EQ(Run(package), static_cast<DWORD>(ERROR_INVALID_DATA)) << piece.file;
        EXPECT_FALSE(Exists(Path(L"target"))) << piece.file;
        EXPECT_FALSE(Exists(Path(L"evil.exe"))) << piece.file;
    }
    // An empty table does nothing.
    package = MakePackage({});
    tracesink::Clear();
    EXPECT_EQ(Run(package), 0u);
    EXPECT_FALSE(tracesink::ContainsPrefix("ReadDataStruct()->Status"));
    EXPECT_FALSE(Exists(Path(L"target")));

    // Cancelled during the extraction: 1223, and no later phase runs.
    package = MakePackage({{"TRV0001.001", "", TF_EMBEDDED, zip}});
    g_Progress.m_hStepBar = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr,
                                            nullptr, nullptr);
    // The cancel comes from the user interface when the bar moves.
    struct Hook {
        static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l)
        {
            if (m == 0x0402 && w > 10)
                g_bCancel = 1;
            return DefWindowProcW(h, m, w, l);
        }
    };
    SetWindowLongPtrW(g_Progress.m_hStepBar, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(&Hook::Proc));
    tracesink::Clear();
    EXPECT_EQ(Run(package), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_TRUE(tracesink::Contains("ReadDataStruct()->Catch Error!"));
    EXPECT_FALSE(tracesink::ContainsPrefix("ReadDataStruct()->Status4="));
    EXPECT_EQ(tracesink::Lines().back(), "ReadDataStruct()->End(1223)");
    EXPECT_FALSE(Exists(Path(L"target\\a.txt")));
    DestroyWindow(g_Progress.m_hStepBar);
    g_Progress.m_hStepBar = nullptr;
}

}  // namespace

namespace {

std::string RecordIdentity(uint8_t type, uint64_t size, const char* file, const char* fileOut)
{
    uint8_t identity[ITEMHASH_IDENTITY_MAX];
    size_t cb = ::RecordIdentity(type, size, file, fileOut, identity);
    return std::string(reinterpret_cast<const char*>(identity), cb);
}

struct HASHED {
    DWORD dwKind;
    DWORD dwIndex;
    std::string text;  // what the entry's digest is of
};

// The bytes of a HASHES resource with one entry per piece given, digests
// of the given texts (so that a test can write a wrong one).
std::vector<BYTE> HashResource(const std::vector<HASHED>& entries)
{
    std::vector<BYTE> out(ITEMHASH_MAGIC, ITEMHASH_MAGIC + 4);
    DWORD dwCount = static_cast<DWORD>(entries.size());
    out.insert(out.end(), reinterpret_cast<BYTE*>(&dwCount), reinterpret_cast<BYTE*>(&dwCount) + 4);
    for (const HASHED& hashed : entries) {
        ITEMHASH entry = {hashed.dwKind, hashed.dwIndex, hashed.text.size(), {}};
        SHA256CONTEXT ctx;
        Sha256Init(ctx);
        Sha256Update(ctx, hashed.text.data(), hashed.text.size());
        BYTE digest[SHA256_DIGEST_SIZE];
        Sha256Final(ctx, digest);
        memcpy(entry.digest, digest, sizeof(digest));
        const BYTE* p = reinterpret_cast<const BYTE*>(&entry);
        out.insert(out.end(), p, p + sizeof(entry));
    }
    return out;
}

}  // namespace

// Every item the package has a hash for is checked as it is copied out:
// wrong bytes fail the run with 323 before anything uses them; a package
// that carries hashes has one for each item it embeds and one for each
// record's own fields, so a renamed or retyped record fails as damage (13).
TEST_F(PlanTest, ItemsAreCheckedAgainstThePackagesHashes)
{
    const std::string zip = ZipOf(Path(L"z.zip"), {{"app.txt", "the application"}});
    const std::string stored = Pattern(3 * 1024 * 1024 + 7, 4, true);
    const std::string archiveRecord = RecordIdentity(TF_EMBEDDED, zip.size(), "TRV0001.001", "");
    const std::string storedRecord =
        RecordIdentity(TF_EMBEDDED | TF_STORED, stored.size(), "setup.dat", "setup.dat");
    const HASHED zipBytes = {ITEMHASH_KIND_RECORD, 0, zip}, storedBytes = {ITEMHASH_KIND_RECORD, 1, stored};
    const HASHED records[] = {{ITEMHASH_KIND_ENTRY, 0, archiveRecord}, {ITEMHASH_KIND_ENTRY, 1, storedRecord}};
    const struct {
        const char* what;
        std::vector<HASHED> hashes;
        bool bNone;  // a package without the resource
        DWORD result;
        const char* line;
    } cases[] = {
        {"hashes of every item",
         {zipBytes, storedBytes, records[0], records[1]},
         false,
         0,
         "CheckItem(%TARGET%\\setup.dat)->3145735 bytes, hash right"},
        {"no hashes at all",
         {},
         true,
         0,
         "LoadItemHashes()->No item hashes: the items are not checked"},
        {"a stored file changed",
         {zipBytes, {ITEMHASH_KIND_RECORD, 1, stored.substr(1) + "x"}, records[0], records[1]},
         false,
         323,
         "CheckItem(%TARGET%\\setup.dat)->3145735 bytes of 3145735, hash wrong: not the package's "
         "own"},
        {"an archive changed",
         {{ITEMHASH_KIND_RECORD, 0, zip + "x"}, storedBytes, records[0], records[1]},
         false,
         323,
         "CheckItem(%DATA%\\TRV0001.001)->"},
        {"an item without its hash",
         {zipBytes, records[0], records[1]},
         false,
         13,
         "ReadDataStruct()->Record 1 has no hash"},
        {"a record renamed in the table",
         {zipBytes,
          storedBytes,
          records[0],
          {ITEMHASH_KIND_ENTRY, 1,
           RecordIdentity(TF_EMBEDDED | TF_STORED, stored.size(), "setup.dat", "setup.dax")}},
         false,
         13,
         "ReadDataStruct()->Record 1 is not the one packed (name, type or size changed)"},
        {"a record retyped in the table",
         {zipBytes,
          storedBytes,
          {ITEMHASH_KIND_ENTRY, 0, RecordIdentity(0xFF, zip.size(), "TRV0001.001", "")},
          records[1]},
         false,
         13,
         "ReadDataStruct()->Record 0 is not the one packed (name, type or size changed)"},
        {"a record without its own hash",
         {zipBytes, storedBytes, records[0]},
         false,
         13,
         "ReadDataStruct()->Record 1 is not the one packed (name, type or size changed)"},
        {"a record the table has lost",
         {zipBytes, storedBytes, records[0], records[1], {ITEMHASH_KIND_ENTRY, 2, "gone"}},
         false,
         13,
         "ReadDataStruct()->The package's hashes name records beyond the table's 2"},
    };
    for (const auto& c : cases) {
        WipeTree(Path(L"target"));
        WipeTree(Path(L"data"));
        CreateDirectoryW(Path(L"data").c_str(), nullptr);
        std::wstring package = MakePackage({
            {"TRV0001.001", "", TF_EMBEDDED, zip},
            {"setup.dat", "setup.dat", TF_EMBEDDED | TF_STORED, stored},
        });
        std::vector<BYTE> resource = HashResource(c.hashes);
        tracesink::Clear();
        ASSERT_EQ(LoadItemHashesFrom(c.bNone ? nullptr : resource.data(),
                                     static_cast<DWORD>(resource.size())),
                  0u);
        EXPECT_EQ(Run(package), c.result) << c.what << "\n" << tracesink::Dump();
        std::string line = c.line;
        for (auto& pair : {std::make_pair(std::string("%TARGET%"), NPath(L"target")),
                           std::make_pair(std::string("%DATA%"), NPath(L"data"))}) {
            size_t at = line.find(pair.first);
            if (at != std::string::npos)
                line.replace(at, pair.first.size(), pair.second);
        }
        EXPECT_TRUE(tracesink::ContainsPrefix(line)) << c.what << ": " << line;
        // Nothing wrong is left for anything to use.
        if (c.result != 0) {
            EXPECT_FALSE(Exists(Path(L"target\\setup.dat")) &&
                         ReadBytes(Path(L"target\\setup.dat")) != stored)
                << c.what;
            EXPECT_FALSE(Exists(Path(L"target\\app.txt"))) << c.what;
        } else {
            EXPECT_EQ(ReadBytes(Path(L"target\\setup.dat")), stored) << c.what;
        }
    }
    // A resource that does not hold together is damage.
    const BYTE damaged[] = {'S', 'W', 'H', '1', 2, 0, 0, 0, 1, 2, 3};
    EXPECT_EQ(LoadItemHashesFrom(damaged, sizeof(damaged)), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(LoadItemHashesFrom(nullptr, 0), 0u);
}
