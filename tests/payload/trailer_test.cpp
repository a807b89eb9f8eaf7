#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "packer/payloadtable.h"
#include "payload/trailer.h"
#include "payloadtest.h"
#include "support/tracesink.h"
#include "support/testrun.h"

using namespace payloadtest;

namespace {

const std::string kMagic = "!QD69_TRV!";

std::string Bytes(const std::vector<BYTE>& v)
{
    return std::string(v.begin(), v.end());
}

std::string FromHex(const char* hex)
{
    std::string out;
    for (const char* p = hex; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return out;
}

// Collects what the walk hands over.
class RecordingSink : public IPayloadTableSink {
public:
    DWORD nbFiles = 0xFFFFFFFF;
    std::vector<PAYLOADRECORD> records;
    void OnTableStart(DWORD dwNbFiles) override { nbFiles = dwNbFiles; }
    void OnRecord(DWORD dwIndex, const PAYLOADRECORD& record) override
    {
        EXPECT_EQ(dwIndex, records.size());
        records.push_back(record);
    }
    BOOL IsCancelled() override { return FALSE; }
};

class TrailerTest : public ScratchTest {
protected:
    // A file of cbPrefix bytes (a hole), then the given bytes.
    std::wstring MakeSparse(const std::wstring& name, ULONGLONG cbPrefix, const std::string& tail)
    {
        std::wstring path = Path(name);
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(cbPrefix);
        SetFilePointerEx(h, li, nullptr, FILE_BEGIN);
        SetEndOfFile(h);
        DWORD cb = 0;
        WriteFile(h, tail.data(), static_cast<DWORD>(tail.size()), &cb, nullptr);
        CloseHandle(h);
        return path;
    }

    DWORD Walk(const std::wstring& path, DWORD dwOffset, RecordingSink& sink)
    {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        DWORD dwResult = ReadPayloadTable(h, dwOffset, sink);
        CloseHandle(h);
        return dwResult;
    }
};

TEST_F(TrailerTest, CheckDataFileFindsTheMagicNearTheEnd)
{
    const struct {
        const char* what;
        std::string content;
        BOOL bFound;
        DWORD offset;
        std::string line;
    } cases[] = {
        {"ends with the magic", std::string(20000, 'x') + kMagic, TRUE, 10,
         "CheckDataFile()->Signature '!QD69_TRV!' found! (offset=10)"},
        {"signed: 6,444 bytes before the end", std::string(30000, 'x') + kMagic +
                                                   std::string(6434 - 10, '\0') + "0123456789",
         TRUE, 6444, "CheckDataFile()->Signature '0123456789' found! (offset=6444)"},
        {"exactly 10,240 bytes before the end", std::string(30000, 'x') + kMagic +
                                                    std::string(10230, 't'),
         TRUE, 10240, "CheckDataFile()->Signature 'tttttttttt' found! (offset=10240)"},
        {"10,241 bytes before the end", std::string(30000, 'x') + kMagic + std::string(10231, 't'),
         FALSE, 0, "CheckDataFile()->No signature found!"},
        {"two copies: the farther wins", std::string(30000, 'x') + kMagic + std::string(4990, 't') +
                                             kMagic + std::string(2990, 't'),
         TRUE, 8000, "CheckDataFile()->Signature 'tttttttttt' found! (offset=8000)"},
        {"short file ending with the magic", "MZ" + kMagic, TRUE, 10,
         "CheckDataFile()->Signature '!QD69_TRV!' found! (offset=10)"},
        {"short file with a tail", "MZ" + kMagic + "tail", FALSE, 0,
         "CheckDataFile()->No signature found!"},
        {"empty file", "", FALSE, 0, "CheckDataFile()->No signature found!"},
    };
    for (const auto& c : cases) {
        WriteBytes(Path(L"setup.exe"), c.content);
        tracesink::Clear();
        DWORD dwOffset = 12345;
        EXPECT_EQ(CheckDataFile(Path(L"setup.exe").c_str(), &dwOffset), c.bFound) << c.what;
        EXPECT_EQ(dwOffset, c.offset) << c.what;
        EXPECT_EQ(tracesink::Lines(), std::vector<std::string>{c.line}) << c.what;
    }
    DWORD dwOffset = 1;
    EXPECT_FALSE(CheckDataFile(Path(L"missing.exe").c_str(), &dwOffset));
    EXPECT_EQ(dwOffset, 0u);
}

// A small PE image: headers of 512 bytes, one section of cbSection bytes,
// then the tail; the security directory names a certificate table of cbCert
// bytes at ullCertOffset (0: unsigned). cbSymbols bytes of COFF symbols and
// strings may follow the section.
std::string MakeImage(DWORD cbSection, const std::string& tail, ULONGLONG ullCertOffset = 0,
                      DWORD cbCert = 0, DWORD nbSymbols = 0)
{
    const DWORD cbHeaders = 512;
    std::string image(cbHeaders, '\0');
    IMAGE_DOS_HEADER dos = {};
    dos.e_magic = IMAGE_DOS_SIGNATURE;
    dos.e_lfanew = sizeof(dos);
    memcpy(&image[0], &dos, sizeof(dos));
    size_t at = sizeof(dos);
    DWORD dwSignature = IMAGE_NT_SIGNATURE;
    memcpy(&image[at], &dwSignature, sizeof(dwSignature));
    at += sizeof(dwSignature);
    IMAGE_FILE_HEADER fh = {};
    fh.Machine = IMAGE_FILE_MACHINE_I386;
    fh.NumberOfSections = 1;
    fh.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER32);
    fh.Characteristics = IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_32BIT_MACHINE;
    const DWORD cbStrings = 4;
    if (nbSymbols) {
        fh.PointerToSymbolTable = cbHeaders + cbSection;
        fh.NumberOfSymbols = nbSymbols;
    }
    memcpy(&image[at], &fh, sizeof(fh));
    at += sizeof(fh);
    IMAGE_OPTIONAL_HEADER32 oh = {};
    oh.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    oh.FileAlignment = 512;
    oh.SectionAlignment = 4096;
    oh.SizeOfHeaders = cbHeaders;
    oh.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    oh.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].VirtualAddress = static_cast<DWORD>(ullCertOffset);
    oh.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size = cbCert;
    memcpy(&image[at], &oh, sizeof(oh));
    at += sizeof(oh);
    IMAGE_SECTION_HEADER sh = {};
    memcpy(sh.Name, ".text", 5);
    sh.PointerToRawData = cbHeaders;
    sh.SizeOfRawData = cbSection;
    memcpy(&image[at], &sh, sizeof(sh));
    image += std::string(cbSection, 'c');
    if (nbSymbols) {
        image += std::string(nbSymbols * 18, 's');
        image.append(reinterpret_cast<const char*>(&cbStrings), sizeof(cbStrings));
    }
    return image + tail;
}

// The image size MakeImage gives for a section of cbSection bytes.
ULONGLONG ImageSize(DWORD cbSection)
{
    return 512 + cbSection;
}

TEST_F(TrailerTest, SignedPackagesAreFoundWhateverTheSignaturesSize)
{
    const DWORD cbSection = 1024;
    const ULONGLONG ullImage = ImageSize(cbSection);
    const std::string payload = std::string(3000, 'p') + kMagic;
    const struct {
        const char* what;
        std::string padding;  // between the magic and the table
        DWORD cbCert;
        BOOL bFound;
        DWORD offset;
    } cases[] = {
        {"16 KiB signature right after the magic", "", 16384, TRUE, 16384 + 10},
        {"40 KiB signature after 6 bytes of alignment", std::string(6, '\0'), 40960, TRUE,
         40960 + 6 + 10},
        {"7 bytes of alignment, the most there can be", std::string(7, '\0'), 20000, TRUE,
         20000 + 7 + 10},
        {"small signature, also found by the search", std::string(2, '\0'), 6432, TRUE, 6444},
        {"a large table after other bytes: no payload", "junk", 16384, FALSE, 0},
        {"8 bytes of alignment are more than Authenticode adds", std::string(8, '\0'), 16384,
         FALSE, 0},
    };
    for (const auto& c : cases) {
        std::string tail = payload + c.padding;
        ULONGLONG ullCert = ullImage + tail.size();
        tail += std::string(c.cbCert, 'S');
        WriteBytes(Path(L"signed.exe"), MakeImage(cbSection, tail, ullCert, c.cbCert));
        DWORD dwOffset = 12345;
        EXPECT_EQ(CheckDataFile(Path(L"signed.exe").c_str(), &dwOffset), c.bFound) << c.what;
        EXPECT_EQ(dwOffset, c.offset) << c.what;
        if (!c.bFound)
            continue;
        // The table walk starts from there.
        RecordingSink sink;
        Walk(Path(L"signed.exe"), dwOffset, sink);
        EXPECT_EQ(sink.nbFiles, 0x70707070u) << c.what;  // the four bytes before the magic
    }
}

TEST_F(TrailerTest, DataAfterTheImageIsCounted)
{
    const DWORD cbSection = 2048;
    const ULONGLONG ullImage = ImageSize(cbSection);
    const std::string payload = std::string(500, 'p') + kMagic;
    const struct {
        const char* what;
        std::string content;
        ULONGLONG cbAfter;
    } cases[] = {
        {"the image alone", MakeImage(cbSection, ""), 0},
        {"an appended payload", MakeImage(cbSection, payload), payload.size()},
        {"a signature alone", MakeImage(cbSection, std::string(9000, 'S'), ullImage, 9000), 0},
        {"a signature after alignment", MakeImage(cbSection, std::string(4, '\0') + std::string(9000, 'S'),
                                                  ullImage + 4, 9000),
         0},
        {"a payload and its signature", MakeImage(cbSection, payload + std::string(9000, 'S'),
                                                  ullImage + payload.size(), 9000),
         payload.size()},
        {"bytes after the signature", MakeImage(cbSection, std::string(9000, 'S') + "extra", ullImage, 9000),
         5},
        {"a signature cut off: its directory points past the end",
         MakeImage(cbSection, payload, ullImage + payload.size(), 9000), payload.size()},
        {"COFF symbols belong to the image", MakeImage(cbSection, "", 0, 0, 10), 0},
        {"COFF symbols of a signed image", MakeImage(cbSection, std::string(9000, 'S'),
                                                     ullImage + 10 * 18 + 4, 9000, 10),
         0},
        // Symbols that do not end where the file does are not the linker's
        // (a resource update leaves a stale pointer behind): all of it counts.
        {"a payload after symbols", MakeImage(cbSection, payload, 0, 0, 10),
         10 * 18 + 4 + payload.size()},
        {"not an image", std::string(5000, 'x') + kMagic, 0},
        {"an empty file", "", 0},
    };
    for (const auto& c : cases) {
        WriteBytes(Path(L"image.exe"), c.content);
        EXPECT_EQ(CheckDataAfterImage(Path(L"image.exe").c_str()), c.cbAfter) << c.what;
    }
    EXPECT_EQ(CheckDataAfterImage(Path(L"missing.exe").c_str()), 0u);
    // A real program of the build: nothing follows its image.
    WCHAR szSelf[MAX_PATH];
    GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    EXPECT_EQ(CheckDataAfterImage(szSelf), 0u);
}

TEST_F(TrailerTest, SampleTrailerIsWrittenAndReadBack)
{
    // The sample package's 58 bytes of file table and header.
    const std::string sample =
        FromHex("00000000 01 0010120000000000 5C487D0200000000") + "TRV7299.001" +
        FromHex("0B000000 5C487D0200000000 01000000") + kMagic;
    ASSERT_EQ(sample.size(), 58u);

    std::vector<BYTE> table;
    ASSERT_TRUE(BuildPayloadTable({{"TRV7299.001", "", 41764956, 1183744, TF_EMBEDDED}}, table));
    EXPECT_EQ(Bytes(table), sample);

    // The data lies before the table: a hole of the right size stands for it.
    std::wstring path = MakeSparse(L"setup.exe", 1183744 + 41764956, sample + std::string(2, '\0') +
                                                                        std::string(6432, 'c'));
    DWORD dwOffset = 0;
    ASSERT_TRUE(CheckDataFile(path.c_str(), &dwOffset));
    EXPECT_EQ(dwOffset, 6444u);

    tracesink::Clear();
    RecordingSink sink;
    EXPECT_EQ(Walk(path, dwOffset, sink), 0u);
    EXPECT_EQ(sink.nbFiles, 1u);
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_STREQ(sink.records[0].szFile, "TRV7299.001");
    EXPECT_STREQ(sink.records[0].szFileOut, "");
    EXPECT_EQ(sink.records[0].FileSize, 41764956u);
    EXPECT_EQ(sink.records[0].DataOffSet, 1183744u);
    EXPECT_EQ(sink.records[0].TypeOfFile, TF_EMBEDDED);
    const std::vector<std::string> expected = {
        "ReadDataStruct()->LastOffSet=6448",
        "ReadDataStruct()->NbFiles=1",
        "ReadDataStruct()->TotFilesSize=41764956",
        "ReadDataStruct()->lgFile=11 LastOffSet=6460",
        "ReadDataStruct()->File=TRV7299.001",
        "ReadDataStruct()->FileSize=41764956",
        "ReadDataStruct()->DataOffSet=1183744",
        "ReadDataStruct()->TypeOfFile=1",
        "ReadDataStruct()->lgFileOut=0",
    };
    EXPECT_EQ(tracesink::Lines(), expected);
}

TEST_F(TrailerTest, TableRecordsComeBackInFileOrder)
{
    const std::vector<PAYLOADENTRY> entries = {
        {"TRV0001.001", "", 300, 100, TF_EMBEDDED},
        {"a", "readme.txt", 20, 400, TF_EMBEDDED | TF_STORED},
        {"TRV0003.001", "pack/x.cab", 1234567, 0, TF_EXTERNAL | TF_WEB},
        {"", "", 0, 0, TF_EXTERNAL},
        {"LongerNameThanTheNext.bin", "o", 5, 420, TF_EMBEDDED | TF_STORED},
    };
    std::vector<BYTE> table;
    ASSERT_TRUE(BuildPayloadTable(entries, table));
    std::wstring path = MakeSparse(L"setup.exe", 500, Bytes(table));
    DWORD dwOffset = 0;
    ASSERT_TRUE(CheckDataFile(path.c_str(), &dwOffset));
    RecordingSink sink;
    EXPECT_EQ(Walk(path, dwOffset, sink), 0u);
    ASSERT_EQ(sink.records.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(sink.records[i].szFile, entries[i].strFile) << i;
        EXPECT_EQ(sink.records[i].szFileOut, entries[i].strFileOut) << i;
        EXPECT_EQ(sink.records[i].FileSize, entries[i].FileSize) << i;
        EXPECT_EQ(sink.records[i].DataOffSet, entries[i].DataOffSet) << i;
        EXPECT_EQ(sink.records[i].TypeOfFile, entries[i].TypeOfFile) << i;
    }
}

// Crafted tables: a table that ends before its count is damaged as a whole
// (13), and the walk never reads outside the file nor walks bytes that can
// not hold its count.
TEST_F(TrailerTest, DamagedTablesStopTheWalkCleanly)
{
    auto table = [](const std::vector<PAYLOADENTRY>& entries) {
        std::vector<BYTE> bytes;
        EXPECT_TRUE(BuildPayloadTable(entries, bytes));
        return Bytes(bytes);
    };
    auto u32 = [](DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto u64 = [](ULONGLONG v) { return std::string(reinterpret_cast<const char*>(&v), 8); };
    const PAYLOADENTRY good = {"good.bin", "", 10, 0, TF_EMBEDDED};
    const std::string goodRecord = table({good}).substr(0, 25 + 8);
    const struct {
        const char* what;
        ULONGLONG prefix;
        std::string tail;
        DWORD result;
        size_t records;
        DWORD nbFiles;
    } cases[] = {
        {"no records", 100, table({}), 0, 0, 0},
        {"more records announced than the bytes before the table hold", 10,
         goodRecord + goodRecord + u64(20) + u32(5) + kMagic, ERROR_INVALID_DATA, 0, 5},
        {"more records announced than present, other data before them", 1000,
         std::string(100, '\xFF') + goodRecord + u64(10) + u32(5) + kMagic, ERROR_INVALID_DATA, 1,
         5},
        {"huge record count over a block of zeros", 1000000,
         goodRecord + u64(10) + u32(0xFFFFFFFF) + kMagic, ERROR_INVALID_DATA, 0, 0xFFFFFFFF},
        {"more records than a package numbers", 5000000,
         goodRecord + u64(10) + u32(100000) + kMagic, ERROR_INVALID_DATA, 0, 100000},
        {"name length over 259", 1000,
         std::string(300, 'n') + u32(300) + u64(0) + u32(1) + kMagic, ERROR_INVALID_DATA, 0, 1},
        {"name length beyond the file", 0, u32(200) + u64(0) + u32(1) + kMagic,
         ERROR_INVALID_DATA, 0, 1},
        {"output name length over 259 after a good record", 1000,
         u32(4000) + std::string(1, '\x01') + u64(0) + u64(1) + "b" + u32(1) + goodRecord +
             u64(0) + u32(2) + kMagic,
         ERROR_INVALID_DATA, 1, 2},
        {"embedded bytes beyond the table", 5,
         table({{"far.bin", "", 10, 4, TF_EMBEDDED}}), ERROR_INVALID_DATA, 0, 1},
        {"offset past the end of the file", 0,
         table({{"far.bin", "", 1, 0xFFFFFFFFFFFFFFF0ull, TF_EMBEDDED}}), ERROR_INVALID_DATA, 0,
         1},
        {"header only", 0, u32(1) + kMagic, ERROR_INVALID_DATA, 0, 1},
    };
    for (const auto& c : cases) {
        std::wstring path = MakeSparse(L"setup.exe", c.prefix, c.tail);
        DWORD dwOffset = 0;
        ASSERT_TRUE(CheckDataFile(path.c_str(), &dwOffset)) << c.what;
        RecordingSink sink;
        tracesink::Clear();
        EXPECT_EQ(Walk(path, dwOffset, sink), c.result) << c.what << "\n" << tracesink::Dump();
        EXPECT_EQ(sink.records.size(), c.records) << c.what;
        if (c.result == 0 || c.nbFiles) {
            EXPECT_TRUE(tracesink::Contains("ReadDataStruct()->NbFiles=" +
                                            std::to_string(static_cast<int>(c.nbFiles))))
                << c.what << "\n"
                << tracesink::Dump();
        }
        for (const PAYLOADRECORD& record : sink.records)
            EXPECT_STREQ(record.szFile, "good.bin") << c.what;
    }

    // A signature offset that points before the start of the file.
    WriteBytes(Path(L"tiny.exe"), kMagic);
    RecordingSink sink;
    EXPECT_EQ(Walk(Path(L"tiny.exe"), 10, sink), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(Walk(Path(L"tiny.exe"), 0xFFFFFFF0u, sink), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_TRUE(sink.records.empty());
}

TEST_F(TrailerTest, NamesOverTheFormatAreRefusedByTheWriter)
{
    std::vector<BYTE> table;
    EXPECT_TRUE(BuildPayloadTable({{std::string(259, 'a'), std::string(259, 'b'), 1, 0, 0}}, table));
    EXPECT_FALSE(BuildPayloadTable({{std::string(260, 'a'), "", 1, 0, 0}}, table));
    EXPECT_FALSE(BuildPayloadTable({{"a", std::string(260, 'b'), 1, 0, 0}}, table));
}

TEST_F(TrailerTest, CheckDataResFindsTheDataResource)
{
    const std::wstring copy = Path(L"withdata.dll");
    ASSERT_TRUE(CopyFileW((BinFolder() + L"\\QELTRON.dll").c_str(), copy.c_str(), FALSE));
    const std::string data = Pattern(5000, 7, true);
    HANDLE hUpdate = BeginUpdateResourceW(copy.c_str(), FALSE);
    ASSERT_NE(hUpdate, nullptr);
    ASSERT_TRUE(UpdateResourceW(hUpdate, L"DATA", MAKEINTRESOURCEW(131),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                const_cast<char*>(data.data()), static_cast<DWORD>(data.size())));
    ASSERT_TRUE(EndUpdateResourceW(hUpdate, FALSE));

    HMODULE hModule = LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hModule, nullptr);
    tracesink::Clear();
    DWORD dwSize = 0;
    HGLOBAL hData = CheckDataRes(hModule, &dwSize, FALSE);
    ASSERT_NE(hData, nullptr);
    EXPECT_EQ(dwSize, data.size());
    EXPECT_EQ(std::string(static_cast<const char*>(LockResource(hData)), dwSize), data);
    EXPECT_EQ(tracesink::Lines(), std::vector<std::string>{"CheckDataRes()->DATA Resource found!"});
    FreeLibrary(hModule);

    tracesink::Clear();
    dwSize = 7;
    EXPECT_EQ(CheckDataRes(GetModuleHandleW(nullptr), &dwSize, TRUE), nullptr);
    EXPECT_EQ(dwSize, 0u);
    EXPECT_EQ(tracesink::Lines(),
              std::vector<std::string>{"CheckDataRes()->No DATA Resource found!"});
}

}  // namespace
