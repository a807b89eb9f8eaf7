#include <gtest/gtest.h>
#include <windows.h>
#include <zip.h>
// iowin32.h needs the declarations of zip.h first.
#include <iowin32.h>
#include <string>
#include <vector>
#include "common/filecopy.h"
#include "common/filesys.h"
#include "common/runfiles.h"
#include "payload/archive.h"
#include "state/state.h"
#include "payload/archivepac.h"
#include "packer/packer.h"
#include "payloadtest.h"
#include "support/strings.h"
#include "support/tracesink.h"
#include "ui/progress.h"
#include "support/testrun.h"

using namespace payloadtest;

namespace {

// 1 January 2020 00:00:00, an even second, which cabinets keep exactly.
const ULONGLONG kBaseTime = 132223104000000000ull;

ULONGLONG LastWrite(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA fad = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &fad);
    return (static_cast<ULONGLONG>(fad.ftLastWriteTime.dwHighDateTime) << 32) |
           fad.ftLastWriteTime.dwLowDateTime;
}

void SetLastWrite(const std::wstring& path, ULONGLONG ullTime)
{
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME ft = {static_cast<DWORD>(ullTime), static_cast<DWORD>(ullTime >> 32)};
    SetFileTime(h, &ft, nullptr, &ft);
    CloseHandle(h);
}

// Where the cabinet decoder may name the damage in more than one way.
const DWORD kAnyFailure = 0xFFFFFFFF;

// --- Fixtures made here ----------------------------------------------------

struct Member {
    std::string name;
    std::string data;
    unsigned attribs = 0x20;  // in a cabinet: archive
};

// A cabinet of stored (uncompressed) members in one folder, written byte by
// byte after the published format; checksums 0 (not checked).
std::string StoredCabinet(const std::vector<Member>& members)
{
    auto u16 = [](unsigned v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; };
    auto u32 = [&](unsigned v) { return u16(v & 0xFFFF) + u16(v >> 16); };
    std::string files;
    std::string data;
    for (const Member& m : members) {
        files += u32(static_cast<unsigned>(m.data.size())) + u32(static_cast<unsigned>(data.size())) +
                 u16(0) + u16(0x5021) /* 2020-01-01 */ + u16(0) + u16(m.attribs) + m.name + '\0';
        data += m.data;
    }
    const unsigned cbHeader = 36, cbFolder = 8;
    const unsigned offFiles = cbHeader + cbFolder;
    const unsigned offData = offFiles + static_cast<unsigned>(files.size());
    std::string blocks;
    unsigned nBlocks = 0;
    for (size_t pos = 0; pos < data.size() || nBlocks == 0; pos += 32768) {
        std::string chunk = data.substr(pos, 32768);
        blocks += u32(0) + u16(static_cast<unsigned>(chunk.size())) +
                  u16(static_cast<unsigned>(chunk.size())) + chunk;
        ++nBlocks;
        if (data.empty())
            break;
    }
    const unsigned cbCabinet = offData + static_cast<unsigned>(blocks.size());
    std::string header = "MSCF" + u32(0) + u32(cbCabinet) + u32(0) + u32(offFiles) + u32(0) +
                         std::string{3, 1} + u16(1) + u16(static_cast<unsigned>(members.size())) +
                         u16(0) + u16(0x1234) + u16(0);
    std::string folder = u32(offData) + u16(nBlocks) + u16(0);
    return header + folder + files + blocks;
}

// Bits of a deflate stream, least significant first; Huffman codes go in
// most significant bit first.
class DeflateBits {
public:
    void Put(unsigned value, int nBits)
    {
        for (int i = 0; i < nBits; ++i)
            Bit((value >> i) & 1);
    }
    void Code(unsigned code, int nBits)
    {
        for (int i = nBits - 1; i >= 0; --i)
            Bit((code >> i) & 1);
    }
    std::string Bytes() const { return m_bytes; }

private:
    void Bit(unsigned bit)
    {
        if (m_nBits % 8 == 0)
            m_bytes += '\0';
        if (bit)
            m_bytes.back() = static_cast<char>(m_bytes.back() | (1 << (m_nBits % 8)));
        ++m_nBits;
    }
    std::string m_bytes;
    int m_nBits = 0;
};

// A cabinet with one MSZIP block whose deflate data is valid up to a
// match whose distance alphabet has no code at all. Decoders that check
// their tables refuse it; the system's cabinet.dll under Wine reads through
// a null table and faults.
std::string DecoderFaultCabinet()
{
    DeflateBits bits;
    bits.Put(1, 1);   // last block
    bits.Put(2, 2);   // dynamic Huffman codes
    bits.Put(1, 5);   // 258 literal/length codes
    bits.Put(0, 5);   // 1 distance code
    bits.Put(14, 4);  // 18 code-length codes
    // Code lengths of the code-length alphabet, in its transmission order
    // (16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1): 18 -> 1 bit, 0 and 1 -> 2 bits.
    const unsigned order[] = {0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    for (unsigned len : order)
        bits.Put(len, 3);
    // Codes: 18 = 0, 0 = 10, 1 = 11.
    bits.Code(0, 1);
    bits.Put(138 - 11, 7);  // 138 zero lengths
    bits.Code(0, 1);
    bits.Put(118 - 11, 7);  // 118 more: literals 0-255 unused
    bits.Code(3, 2);        // end of block: 1 bit
    bits.Code(3, 2);        // length code 257: 1 bit
    bits.Code(2, 2);        // the one distance code: unused
    bits.Code(1, 1);        // a match of length 3, whose distance can not be decoded
    bits.Code(0, 1);        // end of block
    const std::string block = "CK" + bits.Bytes();

    auto u16 = [](unsigned v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; };
    auto u32 = [&](unsigned v) { return u16(v & 0xFFFF) + u16(v >> 16); };
    const std::string name = "big.bin";
    const unsigned cbOut = 16;
    std::string files = u32(cbOut) + u32(0) + u16(0) + u16(0x5021) + u16(0) + u16(0x20) + name + '\0';
    const unsigned offFiles = 36 + 8;
    const unsigned offData = offFiles + static_cast<unsigned>(files.size());
    std::string data = u32(0) + u16(static_cast<unsigned>(block.size())) + u16(cbOut) + block;
    const unsigned cbCabinet = offData + static_cast<unsigned>(data.size());
    std::string header = "MSCF" + u32(0) + u32(cbCabinet) + u32(0) + u32(offFiles) + u32(0) +
                         std::string{3, 1} + u16(1) + u16(1) + u16(0) + u16(0x1234) + u16(0);
    std::string folder = u32(offData) + u16(1) + u16(1 /* MSZIP */);
    return header + folder + files + data;
}

// A ZIP archive written with minizip; deflated unless bStore.
// flagBase 0x800: the names are UTF-8.
void MakeZip(const std::wstring& path, const std::vector<Member>& members, bool bStore = false,
             unsigned long flagBase = 0)
{
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    zipFile zf = zipOpen2_64(path.c_str(), 0, nullptr, &functions);
    ASSERT_NE(zf, nullptr);
    for (const Member& m : members) {
        zip_fileinfo info = {};
        info.dosDate = 0x50210000;
        ASSERT_EQ(zipOpenNewFileInZip4_64(zf, m.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                          bStore ? 0 : Z_DEFLATED, bStore ? 0 : 6, 0, -MAX_WBITS,
                                          DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                          flagBase, 0),
                  ZIP_OK);
        if (!m.data.empty()) {
            ASSERT_EQ(zipWriteInFileInZip(zf, m.data.data(), static_cast<unsigned>(m.data.size())),
                      ZIP_OK);
        }
        ASSERT_EQ(zipCloseFileInZip(zf), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zf, nullptr), ZIP_OK);
}

// A PAC archive in our layout, for names the packer would refuse.
std::string RawPac(const std::vector<Member>& members)
{
    std::string out(reinterpret_cast<const char*>(pac::HEADER), pac::HEADER_SIZE);
    out += std::string(pac::LAYOUT_MAGIC, sizeof(pac::LAYOUT_MAGIC));
    DWORD count = static_cast<DWORD>(members.size());
    out.append(reinterpret_cast<const char*>(&count), 4);
    for (const Member& m : members) {
        WORD cbName = static_cast<WORD>(m.name.size());
        ULONGLONG size = m.data.size();
        DWORD crc = static_cast<DWORD>(crc32(0, reinterpret_cast<const Bytef*>(m.data.data()),
                                             static_cast<uInt>(m.data.size())));
        out.append(reinterpret_cast<const char*>(&cbName), 2);
        out += m.name;
        out.append(reinterpret_cast<const char*>(&size), 8);
        out.append(reinterpret_cast<const char*>(&crc), 4);
        out += m.data;
    }
    return out;
}

class ArchiveTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        // The source tree of the cabinet and PAC tests.
        m_files = {
            {"setup.ini", "[Setup]\r\nName=Demo\r\n"},
            {"Languages\\English.dll", Pattern(70000, 1)},
            {"Languages\\French.dll", Pattern(50000, 2, true)},
            {"bin\\deep\\core.dat", Pattern(200000, 3)},
            {"empty.txt", ""},
        };
        for (const Member& m : m_files) {
            std::wstring path = Path(L"src\\" + Widen(m.name));
            CreateDirectoryW(Path(L"src").c_str(), nullptr);
            CreateDirectoryW(Path(L"src\\Languages").c_str(), nullptr);
            CreateDirectoryW(Path(L"src\\bin").c_str(), nullptr);
            CreateDirectoryW(Path(L"src\\bin\\deep").c_str(), nullptr);
            WriteBytes(path, m.data);
            SetLastWrite(path, kBaseTime);
        }
    }

    // packer.exe of the build makes cabinets and PAC archives.
    void Packer(const std::wstring& args)
    {
        DWORD dwCode = RunProgram(Quote(BinFolder() + L"\\packer.exe") + L" " + args);
        ASSERT_EQ(dwCode, 0u) << Narrow(args);
    }
    std::wstring MakeCab(const std::wstring& name, const std::wstring& extra = L"")
    {
        Packer(L"cab --folder " + Quote(Path(L"src")) + L" --out " + Quote(Path(name)) + extra);
        return Path(name);
    }

    // QELTRON.dll is taken only from the run's temporary folder, where the
    // run wrote it. It stays loaded for the process: one folder for all runs.
    void UseQeltron()
    {
        lstrcpynW(m_szSavedTemp, TestRun().szTempTRV, PATH_CCH);
        WCHAR szTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        std::wstring trv = std::wstring(szTemp) + L"stowaway-payload-qeltron";
        CreateDirectoryW(trv.c_str(), nullptr);
        // Loaded by an earlier test, the copy there is held and serves.
        std::wstring copy = trv + L"\\QELTRON.dll";
        DWORD dwCopied = XCopyFile((BinFolder() + L"\\QELTRON.dll").c_str(), copy.c_str(), 0);
        ASSERT_TRUE(dwCopied == 0 || IsRunFile(copy.c_str())) << dwCopied;
        lstrcpynW(TestRun().szTempTRV, trv.c_str(), PATH_CCH);
        m_bQeltron = true;
    }
    void TearDown() override
    {
        if (m_bQeltron)
            lstrcpynW(TestRun().szTempTRV, m_szSavedTemp, PATH_CCH);
        ScratchTest::TearDown();
    }

    std::vector<Member> m_files;
    WCHAR m_szSavedTemp[PATH_CCH] = L"";
    bool m_bQeltron = false;
};

std::vector<std::wstring> Names(const std::vector<Member>& members, bool bFlat)
{
    std::vector<std::wstring> out;
    for (const Member& m : members) {
        std::wstring name = Widen(m.name);
        out.push_back(bFlat ? name.substr(name.find_last_of(L'\\') + 1) : name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// --- Cabinets --------------------------------------------------------------

TEST_F(ArchiveTest, CabinetUnpacksFlatOrAsATreeWithItsTimes)
{
    std::wstring cab = MakeCab(L"data.cab");
    const struct {
        const char* what;
        BOOL bRestore;
        std::wstring target;
    } cases[] = {
        {"flat", FALSE, L"flat"},
        {"tree", TRUE, L"tree\\new\\level"},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        ResetProgress(g_Progress);
        EXPECT_EQ(
            UnCompressFile(cab.c_str(), Path(c.target).c_str(), c.bRestore, TestRun().szTempTRV),
            0u)
            << c.what << "\n"
            << tracesink::Dump();
        EXPECT_EQ(Tree(Path(c.target)), Names(m_files, !c.bRestore)) << c.what;
        for (const Member& m : m_files) {
            std::wstring name = Widen(m.name);
            if (!c.bRestore)
                name = name.substr(name.find_last_of(L'\\') + 1);
            EXPECT_EQ(ReadBytes(Path(c.target + L"\\" + name)), m.data) << c.what << m.name;
            EXPECT_EQ(LastWrite(Path(c.target + L"\\" + name)), kBaseTime) << c.what << m.name;
        }
        ULONGLONG total = 0;
        for (const Member& m : m_files)
            total += m.data.size();
        EXPECT_EQ(g_Progress.GetBytesDone(), total) << c.what;
        EXPECT_TRUE(tracesink::Contains("UnPackCABFile()->End(0)")) << c.what;
        EXPECT_TRUE(tracesink::Contains("UnPackCABFile()->CAB: Tot. lght: " +
                                        std::to_string(ReadBytes(cab).size()) +
                                        " - Nb folders: 1 - Nb files: 5"))
            << c.what << "\n" << tracesink::Dump();
        EXPECT_TRUE(tracesink::ContainsPrefix("UnCompressFile(" + Narrow(cab) +
                                              ")->UnCompress file done in "))
            << c.what;
        EXPECT_TRUE(tracesink::Contains("fdintCOPY_FILE: TargetFile=" +
                                        NPath(c.target + (c.bRestore ? L"\\Languages\\French.dll"
                                                                     : L"\\French.dll"))))
            << c.what;
        // Each member's bytes are traced once, as it is closed, not per write.
        for (const Member& m : m_files)
            EXPECT_TRUE(tracesink::Contains("fdintCLOSE_FILE_INFO->" + m.name + " (" +
                                            std::to_string(m.data.size()) + " bytes)"))
                << c.what << " " << m.name << "\n" << tracesink::Dump();
        EXPECT_FALSE(tracesink::ContainsPrefix("FNWRITE")) << c.what;
    }
}

TEST_F(ArchiveTest, OneMemberOfACabinet)
{
    std::wstring cab = MakeCab(L"data.cab");
    const struct {
        const char* what;
        std::wstring member;
        DWORD result;
        std::vector<std::wstring> tree;
    } cases[] = {
        {"a member in a sub-folder", L"French.dll", 0, {L"French.dll"}},
        {"the first member", L"English.dll", 0, {L"English.dll"}},
        {"names compare exactly", L"french.dll", ERROR_FILE_NOT_FOUND, {}},
        {"no such member", L"none.txt", ERROR_FILE_NOT_FOUND, {}},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::wstring target = Path(L"one" + std::to_wstring(++n));
        CreateDirectoryW(target.c_str(), nullptr);
        tracesink::Clear();
        EXPECT_EQ(UnPackCABFile(cab.c_str(), target.c_str(), c.member.c_str(), FALSE), c.result)
            << c.what << "\n" << tracesink::Dump();
        EXPECT_EQ(Tree(target), c.tree) << c.what;
        EXPECT_TRUE(tracesink::Contains("fdintCOPY_FILE: FileToExtract=" + Narrow(c.member) +
                                        " FileName=setup.ini"))
            << c.what;
    }
    EXPECT_EQ(ReadBytes(Path(L"one1\\French.dll")), m_files[2].data);
    // The ANSI entry point does the same.
    CreateDirectoryW(Path(L"ansi").c_str(), nullptr);
    EXPECT_EQ(UnPackCABFile(Narrow(cab).c_str(), NPath(L"ansi").c_str(), "setup.ini", FALSE), 0u);
    EXPECT_EQ(Tree(Path(L"ansi")), std::vector<std::wstring>{L"setup.ini"});
}

// A target of 259 characters leaves no room for the backslash that its
// members' names follow: cut, they would land beside it. Nothing is written.
TEST_F(ArchiveTest, ATargetWithoutRoomForItsBackslashUnpacksNothing)
{
    std::wstring cab = MakeCab(L"room.cab");
    std::wstring target = Path(L"r");
    target += std::wstring(PATH_CCH - 1 - target.size(), L'r');
    EXPECT_EQ(UnPackCABFile(cab.c_str(), target.c_str(), L"", FALSE),
              static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(FolderExists(target.c_str()));
}

TEST_F(ArchiveTest, ReadOnlyTargetsAreReplacedLockedOnesFailTheArchive)
{
    std::wstring cab = MakeCab(L"data.cab");
    CreateDirectoryW(Path(L"out").c_str(), nullptr);
    WriteBytes(Path(L"out\\setup.ini"), "an old, longer read-only version of the file");
    SetFileAttributesW(Path(L"out\\setup.ini").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(UnCompressFile(cab.c_str(), Path(L"out").c_str(), FALSE, TestRun().szTempTRV), 0u)
        << tracesink::Dump();
    EXPECT_EQ(ReadBytes(Path(L"out\\setup.ini")), m_files[0].data);
    EXPECT_TRUE(tracesink::Contains("fdintCOPY_FILE: File " + NPath(L"out\\setup.ini") +
                                    " with attribut Read only removed"))
        << tracesink::Dump();

    // A member that can not be written fails the archive with the reason;
    // what the archive wrote before it goes, the held file stays as it was.
    CreateDirectoryW(Path(L"held").c_str(), nullptr);
    WriteBytes(Path(L"held\\core.dat"), "held");
    HANDLE hHeld = CreateFileW(Path(L"held\\core.dat").c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    tracesink::Clear();
    EXPECT_EQ(UnCompressFile(cab.c_str(), Path(L"held").c_str(), FALSE, TestRun().szTempTRV),
              static_cast<DWORD>(ERROR_SHARING_VIOLATION))
        << tracesink::Dump();
    CloseHandle(hHeld);
    EXPECT_EQ(ReadBytes(Path(L"held\\core.dat")), "held");
    EXPECT_TRUE(tracesink::Contains("fdintCOPY_FILE: File " + NPath(L"held\\core.dat") +
                                    " locked (32)"))
        << tracesink::Dump();
    EXPECT_EQ(Tree(Path(L"held")), std::vector<std::wstring>{L"core.dat"});
}

TEST_F(ArchiveTest, CabinetMembersTakeTheirAttributes)
{
    const struct {
        const char* name;
        unsigned attribs;
        DWORD expected;
    } cases[] = {
        {"archive.txt", 0x20, FILE_ATTRIBUTE_ARCHIVE},
        {"readonly.txt", 0x21, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
        {"hidden.txt", 0x22, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
        // Bits beyond read-only, hidden, system and archive are dropped.
        {"executable.txt", 0xA0, FILE_ATTRIBUTE_ARCHIVE},
    };
    std::vector<Member> members;
    for (const auto& c : cases)
        members.push_back({c.name, c.name, c.attribs});
    WriteBytes(Path(L"attribs.cab"), StoredCabinet(members));
    // A second unpacking replaces what the first one left, read-only or not.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(UnCompressFile(Path(L"attribs.cab").c_str(), Path(L"out").c_str(), FALSE,
                                 TestRun().szTempTRV),
                  0u)
            << round << "\n"
            << tracesink::Dump();
        for (const auto& c : cases) {
            std::wstring path = Path(L"out\\" + Widen(c.name));
            EXPECT_EQ(ReadBytes(path), c.name) << c.name;
            EXPECT_EQ(GetFileAttributesW(path.c_str()), c.expected) << c.name << " round " << round;
            EXPECT_EQ(LastWrite(path), kBaseTime) << c.name;
        }
    }
    for (const auto& c : cases)
        SetFileAttributesW(Path(L"out\\" + Widen(c.name)).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ArchiveTest, CabinetSetUnpacksThroughTheNextCabinet)
{
    CreateDirectoryW(Path(L"set").c_str(), nullptr);
    MakeCab(L"set\\part.cab", L" --max-size 60000 --store");
    std::vector<std::wstring> parts = Tree(Path(L"set"));
    ASSERT_GE(parts.size(), 3u);
    EXPECT_EQ(UnCompressFile(Path(L"set\\part.cab").c_str(), Path(L"out").c_str(), TRUE,
                             TestRun().szTempTRV),
              0u)
        << tracesink::Dump();
    EXPECT_EQ(Tree(Path(L"out")), Names(m_files, false));
    for (const Member& m : m_files)
        EXPECT_EQ(ReadBytes(Path(L"out\\" + Widen(m.name))), m.data) << m.name;
    EXPECT_TRUE(tracesink::ContainsPrefix("fdintNEXT_CABINET-: psz1=part2.cab")) << tracesink::Dump();
    EXPECT_TRUE(tracesink::ContainsPrefix("setID=")) << tracesink::Dump();

    // A missing part ends the unpacking with an error, not a hang, and
    // leaves none of the members it had begun.
    DeleteFileW(Path(L"set\\part3.cab").c_str());
    tracesink::Clear();
    EXPECT_EQ(UnCompressFile(Path(L"set\\part.cab").c_str(), Path(L"out2").c_str(), TRUE,
                             TestRun().szTempTRV),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
        << tracesink::Dump();
    EXPECT_EQ(Tree(Path(L"out2")), std::vector<std::wstring>{});
}

TEST_F(ArchiveTest, DamagedOrHostileCabinetsWriteNothingOutside)
{
    const std::string good = StoredCabinet({{"a.txt", "alpha"}, {"sub\\b.txt", Pattern(40000, 4)}});
    std::string truncated = good.substr(0, good.size() - 20000);
    std::string badType = good;
    badType[36 + 6] = 0x07;  // the folder's compression type
    std::string badSignature = good;
    badSignature[0] = 'N';
    // The first data block starts where the folder record says (offset 36).
    const size_t offData = static_cast<unsigned char>(good[36]) |
                           static_cast<size_t>(static_cast<unsigned char>(good[37])) << 8;
    std::string flipped = good;
    flipped[offData] = 1;  // the block now carries a checksum, and a wrong one
    // A failed archive leaves none of its members: neither those written
    // whole before the damage nor the one it stopped in.
    const struct {
        const char* what;
        std::string bytes;
        DWORD result;
        std::vector<std::wstring> tree;
    } cases[] = {
        {"crafted stored cabinet", good, 0, {L"a.txt", L"sub\\b.txt"}},
        {"truncated", truncated, ERROR_INVALID_DATA, {}},
        {"a block whose checksum fails", flipped, ERROR_INVALID_DATA, {}},
        {"unknown compression type", badType, kAnyFailure, {}},
        {"no signature", badSignature, ERROR_BAD_FORMAT, {}},
        {"a block the system's decoder faults on", DecoderFaultCabinet(), ERROR_INVALID_DATA, {}},
        {"climbing names", StoredCabinet({{"ok.txt", "ok"}, {"..\\..\\evil.txt", "x"}}),
         ERROR_INVALID_DATA, {}},
        {"absolute and drive names",
         StoredCabinet({{"ok.txt", "ok"}, {"\\evil.txt", "x"}, {"C:evil2.txt", "y"}}),
         ERROR_INVALID_DATA, {}},
        {"climbing inside a folder name", StoredCabinet({{"sub\\..\\..\\evil.txt", "x"}}),
         ERROR_INVALID_DATA, {}},
        {"device names", StoredCabinet({{"ok.txt", "ok"}, {"nul.txt", "x"}}), ERROR_INVALID_DATA, {}},
        {"a device name in a folder", StoredCabinet({{"ok.txt", "ok"}, {"sub\\AUX.dat", "x"}}),
         ERROR_INVALID_DATA, {}},
        {"a serial port", StoredCabinet({{"COM1.log", "x"}}), ERROR_INVALID_DATA, {}},
        {"the console", StoredCabinet({{"con.dat", "x"}}), ERROR_INVALID_DATA, {}},
        {"a name the system would shorten", StoredCabinet({{"trailing.", "x"}}),
         ERROR_INVALID_DATA, {}},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::wstring folder = Path(L"case" + std::to_wstring(++n));
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteBytes(folder + L"\\in.cab", c.bytes);
        tracesink::Clear();
        DWORD dwResult = UnCompressFile((folder + L"\\in.cab").c_str(),
                                        (folder + L"\\out\\t").c_str(), TRUE, TestRun().szTempTRV);
        if (c.result == kAnyFailure) {
            EXPECT_NE(dwResult, 0u) << c.what;
        } else {
            EXPECT_EQ(dwResult, c.result) << c.what << "\n" << tracesink::Dump();
        }
        EXPECT_EQ(Tree(folder + L"\\out\\t"), c.tree) << c.what;
        // Nothing beside the target either.
        std::vector<std::wstring> around = Tree(folder);
        for (const std::wstring& file : around)
            EXPECT_TRUE(file == L"in.cab" || file.rfind(L"out\\t\\", 0) == 0)
                << c.what << ": " << Narrow(file);
    }
    EXPECT_FALSE(Exists(Path(L"evil.txt")));
    EXPECT_FALSE(Exists(m_root.substr(0, m_root.find_last_of(L'\\')) + L"\\evil.txt"));
}

// A member name of 255 bytes is valid in a cabinet; with the target folder
// in front its path passes MAX_PATH and goes to the system in its long
// form, and the extraction folder's removal reaches it the same way.
TEST_F(ArchiveTest, MembersBeyondMaxPathAreWrittenAndRemoved)
{
    const std::string longName = std::string(251, 'n') + ".txt";
    const std::string deep = "sub\\" + std::string(100, 'd') + "\\" + std::string(140, 'e') + ".txt";
    WriteBytes(Path(L"long.cab"), StoredCabinet({{longName, "long"}, {deep, "deep"}}));
    for (BOOL bRestore : {FALSE, TRUE}) {
        std::wstring out = Path(bRestore ? L"tree" : L"flat");
        tracesink::Clear();
        ASSERT_EQ(
            UnCompressFile(Path(L"long.cab").c_str(), out.c_str(), bRestore, TestRun().szTempTRV),
            0u)
            << tracesink::Dump();
        std::wstring file = out + L"\\" + Widen(longName);
        ASSERT_GT(file.size(), static_cast<size_t>(MAX_PATH));
        EXPECT_EQ(ReadBytes(LongPathForm(file)), "long");
        std::wstring other = out + L"\\" + Widen(bRestore ? deep : longName);
        EXPECT_EQ(ReadBytes(LongPathForm(other)), bRestore ? "deep" : "long");
        EXPECT_EQ(RemoveDirectoryTree(out.c_str(), FS_INCLUDE_SUBDIR), 0u) << tracesink::Dump();
        EXPECT_FALSE(Exists(out));
    }
}

// A step bar that presses Cancel once the bar passes a position.
DWORD g_dwCancelAt;
LRESULT CALLBACK CancelBarProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == 0x0402 /* PBM_SETPOS */ && wParam >= g_dwCancelAt)
        g_bCancel = 1;
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

TEST_F(ArchiveTest, CancellingAnUnpackingReturns1223)
{
    std::wstring cab = MakeCab(L"data.cab");
    g_bCancel = 1;
    EXPECT_EQ(UnCompressFile(cab.c_str(), Path(L"out").c_str(), FALSE, TestRun().szTempTRV),
              static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(Tree(Path(L"out")), std::vector<std::wstring>{});
    g_bCancel = 0;

    // Cancel half way.
    std::vector<Member> zipMembers = m_files;
    for (Member& m : zipMembers)
        std::replace(m.name.begin(), m.name.end(), '\\', '/');
    MakeZip(Path(L"data.zip"), zipMembers);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CancelBarProc;
    wc.lpszClassName = L"StowawayArchiveCancelBar";
    RegisterClassW(&wc);
    for (const wchar_t* archive : {L"data.cab", L"data.zip"}) {
        ResetProgress(g_Progress);
        g_bCancel = 0;
        g_dwCancelAt = 50;
        g_Progress.m_hStepBar = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 1, 1, nullptr,
                                                nullptr, nullptr, nullptr);
        g_Progress.DefineStep(0, 100, 320000);
        std::wstring out = Path(std::wstring(archive) + L".out");
        DWORD dwResult =
            UnCompressFile(Path(archive).c_str(), out.c_str(), FALSE, TestRun().szTempTRV);
        EXPECT_EQ(dwResult, static_cast<DWORD>(ERROR_CANCELLED)) << Narrow(archive);
        EXPECT_EQ(g_bCancel, 1) << Narrow(archive);
        // A cancelled archive leaves none of its members.
        EXPECT_EQ(Tree(out), std::vector<std::wstring>{}) << Narrow(archive);
        DestroyWindow(g_Progress.m_hStepBar);
        g_Progress.m_hStepBar = nullptr;
    }
}

// --- ZIP --------------------------------------------------------------------

TEST_F(ArchiveTest, ZipUnpacksFlatInEntryOrder)
{
    const std::vector<Member> members = {
        {"docs/readme.txt", "read me"},
        {"docs/", ""},
        {"two.txt", "two"},
        {"a/b/c/three.txt", "the third"},
        {"big/data.bin", Pattern(100000, 5)},
        {"noise.bin", Pattern(30000, 6, true)},
    };
    for (bool bStore : {false, true}) {
        std::wstring zip = Path(bStore ? L"stored.zip" : L"deflated.zip");
        MakeZip(zip, members, bStore);
        std::wstring target = Path(bStore ? L"s" : L"d");
        ResetProgress(g_Progress);
        g_Progress.DefineStep(0, 100, 7 + 3 + 9 + 100000 + 30000);
        tracesink::Clear();
        EXPECT_EQ(UnCompressFile(zip.c_str(), target.c_str(), TRUE, TestRun().szTempTRV), 0u)
            << tracesink::Dump();
        EXPECT_EQ(Tree(target), (std::vector<std::wstring>{L"data.bin", L"noise.bin",
                                                          L"readme.txt", L"three.txt", L"two.txt"}));
        EXPECT_EQ(ReadBytes(target + L"\\three.txt"), "the third");
        EXPECT_EQ(ReadBytes(target + L"\\data.bin"), members[4].data);
        EXPECT_EQ(ReadBytes(target + L"\\noise.bin"), members[5].data);
        EXPECT_EQ(g_Progress.GetBytesDone(), 7u + 3 + 9 + 100000 + 30000);
        // Chunks of at most 16 KiB: 100,000 bytes take seven and 30,000 two.
        // Each moves the bar, whose end is the unpacked size however well
        // the archive deflated (a move is traced, a report that leaves the
        // bar where it was is not).
        size_t steps = 0;
        for (const std::string& line : tracesink::Lines())
            steps += line.rfind("NewStep()->NbData=", 0) == 0;
        EXPECT_GE(steps, 7u + 2) << tracesink::Dump();
        EXPECT_TRUE(tracesink::Contains("DefineData()->SizeStep=1 UpdateStep=1300 MaxData=130019"))
            << tracesink::Dump();
        EXPECT_TRUE(tracesink::Contains("UnZipFile()->FileName=a/b/c/three.txt File=" +
                                        Narrow(target) + "\\three.txt"))
            << tracesink::Dump();
        EXPECT_TRUE(tracesink::ContainsPrefix("UnZipFile(" + Narrow(zip) + ", " + Narrow(target) +
                                              ")->SizeZip=130019 comp_size="))
            << tracesink::Dump();
    }
}

TEST_F(ArchiveTest, DamagedOrHostileZipsFail)
{
    MakeZip(Path(L"good.zip"), {{"one.txt", Pattern(50000, 7)}, {"two.txt", "two"}});
    std::string good = ReadBytes(Path(L"good.zip"));
    std::string corrupt = good;
    corrupt[200] ^= 0x55;  // inside the deflated data of one.txt
    std::string truncated = good.substr(0, good.size() / 2);
    MakeZip(Path(L"hostile.zip"), {{"../evil.txt", "x"},
                                   {"/abs.txt", "y"},
                                   {"C:/drive.txt", "z"},
                                   {"fine/ok.txt", "ok"}});
    MakeZip(Path(L"devices.zip"), {{"fine/ok.txt", "ok"}, {"sub/AUX.dat", "x"}});
    // Unpacked flat, the second x.txt would take the first one's place.
    MakeZip(Path(L"twice.zip"), {{"a/x.txt", "the first"}, {"b/X.TXT", "the second"}});
    // A failed archive leaves none of its entries, those before the damage
    // included; the code says why.
    const struct {
        const char* what;
        std::string bytes;
        DWORD result;
        std::vector<std::wstring> tree;
    } cases[] = {
        {"corrupt data", corrupt, ERROR_INVALID_DATA, {}},
        {"truncated: no directory", truncated, ERROR_BAD_FORMAT, {}},
        {"hostile names", ReadBytes(Path(L"hostile.zip")), ERROR_INVALID_DATA, {}},
        {"one name in two folders", ReadBytes(Path(L"twice.zip")), ERROR_FILE_EXISTS, {}},
        {"a device name in a folder", ReadBytes(Path(L"devices.zip")), ERROR_INVALID_DATA, {}},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::wstring folder = Path(L"z" + std::to_wstring(++n));
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteBytes(folder + L"\\in.zip", c.bytes);
        tracesink::Clear();
        EXPECT_EQ(UnCompressFile((folder + L"\\in.zip").c_str(), (folder + L"\\out").c_str(), FALSE,
                                 TestRun().szTempTRV),
                  c.result)
            << c.what << "\n"
            << tracesink::Dump();
        EXPECT_EQ(Tree(folder + L"\\out"), c.tree) << c.what;
        EXPECT_EQ(Tree(folder).size(), 1u + c.tree.size()) << c.what;
    }
    // The last case's trace.
    EXPECT_TRUE(tracesink::Contains("UnZipFile()->Unsafe entry sub/AUX.dat refused"))
        << tracesink::Dump();
    EXPECT_FALSE(Exists(Path(L"evil.txt")));
    EXPECT_FALSE(Exists(L"C:\\drive.txt"));
    EXPECT_FALSE(Exists(L"C:\\abs.txt"));
}

// --- PAC and format detection ----------------------------------------------

TEST_F(ArchiveTest, PacUnpacksThroughQeltron)
{
    UseQeltron();
    Packer(L"pac --folder " + Quote(Path(L"src")) + L" --out " + Quote(Path(L"data.pac")));
    EXPECT_TRUE(IsaPacFile(Path(L"data.pac").c_str()));
    tracesink::Clear();
    EXPECT_EQ(
        UnCompressFile(Path(L"data.pac").c_str(), Path(L"out").c_str(), FALSE, TestRun().szTempTRV),
        0u)
        << tracesink::Dump();
    EXPECT_EQ(Tree(Path(L"out")), Names(m_files, false));
    for (const Member& m : m_files)
        EXPECT_EQ(ReadBytes(Path(L"out\\" + Widen(m.name))), m.data) << m.name;
    EXPECT_TRUE(tracesink::Contains("UnPAC()->" + NPath(L"data.pac") + " unpacked in " +
                                    NPath(L"out") + "\\"))
        << tracesink::Dump();

    const struct {
        const char* what;
        std::string bytes;
        std::vector<std::wstring> tree;
    } bad[] = {
        {"climbing name", RawPac({{"..\\evil.txt", "x"}}), {}},
        {"drive name", RawPac({{"C:\\evil.txt", "x"}}), {}},
        {"wrong checksum", [] {
             std::string pac = RawPac({{"a.txt", "alpha"}});
             pac.back() = 'X';
             return pac;
         }(), {}},
        {"truncated", RawPac({{"a.txt", Pattern(5000, 8)}}).substr(0, 3000), {}},
        {"bytes after the last file", RawPac({{"a.txt", "alpha"}}) + "junk", {}},
        {"device names", RawPac({{"ok.txt", "ok"}, {"COM1.log", "x"}}), {}},
        {"a device name in a folder", RawPac({{"ok.txt", "ok"}, {"sub\\nul.txt", "x"}}), {}},
    };
    int n = 0;
    for (const auto& c : bad) {
        std::wstring folder = Path(L"p" + std::to_wstring(++n));
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteBytes(folder + L"\\in.pac", c.bytes);
        tracesink::Clear();
        EXPECT_EQ(UnCompressFile((folder + L"\\in.pac").c_str(), (folder + L"\\out").c_str(), FALSE,
                                 TestRun().szTempTRV),
                  static_cast<DWORD>(ERROR_INVALID_DATA))
            << c.what;
        EXPECT_TRUE(tracesink::Contains("UnPAC()->" + Narrow(folder) + "\\in.pac failed (13)")) << c.what;
        EXPECT_EQ(Tree(folder + L"\\out"), c.tree) << c.what;
    }
    EXPECT_FALSE(Exists(Path(L"evil.txt")));
}

TEST_F(ArchiveTest, FormatIsToldByContent)
{
    std::string cab = StoredCabinet({{"in-cab.txt", "cab"}});
    MakeZip(Path(L"tail.zip"), {{"in-zip.txt", "zip"}});
    std::string pacHeader(reinterpret_cast<const char*>(pac::HEADER), pac::HEADER_SIZE);
    std::string almostPac = pacHeader;
    almostPac[50] = 'x';  // one of the spaces
    const struct {
        const char* what;
        std::string bytes;
        bool bCab, bZip, bPac;
        DWORD result;
    } cases[] = {
        {"cabinet named .zip", cab, true, false, false, 0},
        {"cabinet with a ZIP appended: the cabinet wins", cab + ReadBytes(Path(L"tail.zip")), true,
         true, false, 0},
        {"ZIP", ReadBytes(Path(L"tail.zip")), false, true, false, 0},
        {"PAC header with one byte changed", almostPac + std::string(100, '\0'), false, false,
         false, ERROR_BAD_FORMAT},
        {"PAC header only", pacHeader, false, false, true, ERROR_INVALID_DATA},
        {"93 bytes of the PAC header", pacHeader.substr(0, 93), false, false, false,
         ERROR_BAD_FORMAT},
        {"empty file", "", false, false, false, ERROR_BAD_FORMAT},
        {"text", "just some text", false, false, false, ERROR_BAD_FORMAT},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::wstring file = Path(L"f" + std::to_wstring(++n) + L".zip");
        WriteBytes(file, c.bytes);
        EXPECT_EQ(IsCabinetFile(file.c_str()) != FALSE, c.bCab) << c.what;
        EXPECT_EQ(IsZipFile(file.c_str()) != FALSE, c.bZip) << c.what;
        EXPECT_EQ(IsaPacFile(file.c_str()) != FALSE, c.bPac) << c.what;
        tracesink::Clear();
        std::wstring target = Path(L"t" + std::to_wstring(n));
        EXPECT_EQ(UnCompressFile(file.c_str(), target.c_str(), FALSE, TestRun().szTempTRV),
                  c.result)
            << c.what;
        if (c.result == ERROR_BAD_FORMAT) {
            EXPECT_TRUE(tracesink::Contains("UnCompressFile()->Unknown format!"))
                << c.what;
            EXPECT_FALSE(Exists(target)) << c.what;
        }
        if (c.result != 0) {
            EXPECT_TRUE(tracesink::Contains("UnCompressFile(" + Narrow(file) +
                                            ")->Uncompress file failed!"))
                << c.what;
        }
    }
    EXPECT_EQ(Tree(Path(L"t2")), std::vector<std::wstring>{L"in-cab.txt"});
    EXPECT_EQ(UnCompressFile(Path(L"missing.cab").c_str(), Path(L"t9").c_str(), FALSE,
                             TestRun().szTempTRV),
              static_cast<DWORD>(ERROR_BAD_FORMAT));
    EXPECT_TRUE(tracesink::Contains("IsaPacFile(" + NPath(L"missing.cab") + ")->INVALID_HANDLE_VALUE"));
}

TEST_F(ArchiveTest, ATargetFolderThatCanNotBeMadeFailsTheUnpacking)
{
    WriteBytes(Path(L"in.cab"), StoredCabinet({{"a.txt", "a"}}));
    WriteBytes(Path(L"blocker"), "a file where the folder would be");
    tracesink::Clear();
    EXPECT_EQ(UnCompressFile(Path(L"in.cab").c_str(), Path(L"blocker\\out").c_str(), FALSE,
                             TestRun().szTempTRV),
              static_cast<DWORD>(ERROR_ALREADY_EXISTS))
        << tracesink::Dump();
    EXPECT_TRUE(tracesink::ContainsPrefix("CreateDirectory->")) << tracesink::Dump();
}

// --- Names beyond the code page ---------------------------------------------

// Folders whose names the ANSI code page holds, holds only as a look-alike
// (a best fit makes "Lask" of "Łask"), or not at all.
const wchar_t* const kUnicodeFolders[] = {L"donn\u00e9es", L"\u0141ask", L"\u30c7\u30fc\u30bf",
                                          L"\U0001F600 x"};

// Where a best fit to the code page would take a path, when that is
// another valid path.
std::wstring LookAlike(const std::wstring& path)
{
    std::string narrow(path.size() * 2 + 1, '\0');
    int cb = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, &narrow[0],
                                 static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(cb > 0 ? cb - 1 : 0);
    std::wstring back = Widen(narrow);
    return back != path && back.find(L'?') == std::wstring::npos ? back : std::wstring();
}

TEST_F(ArchiveTest, NamesBeyondTheCodePageUnpackAsTheyAre)
{
    UseQeltron();
    const std::vector<std::pair<std::wstring, std::string>> files = {
        {L"\u0141ask\\\u30c7\u30fc\u30bf \U0001F600.txt", "one"},
        {L"donn\u00e9es.txt", "two"},
        {L"plain.txt", "three"},
    };
    for (const auto& f : files) {
        CreateDirectoryW(Path(L"names").c_str(), nullptr);
        CreateDirectoryW(Path(L"names\\\u0141ask").c_str(), nullptr);
        WriteBytes(Path(L"names\\" + f.first), f.second);
    }
    std::vector<Member> zipMembers;
    for (const auto& f : files) {
        std::string name = support::Utf8(f.first);
        std::replace(name.begin(), name.end(), '\\', '/');
        zipMembers.push_back({name, f.second});
    }
    const struct {
        const wchar_t* ext;
        bool bFlat;  // a ZIP is unpacked without its folders
    } kinds[] = {{L"cab", false}, {L"zip", true}, {L"pac", false}};
    for (const wchar_t* folder : kUnicodeFolders) {
        for (const auto& k : kinds) {
            std::wstring base = Path(folder);
            std::wstring archive = base + L"\\data." + k.ext;
            std::wstring out = base + L"\\out-" + k.ext;
            std::string what = support::Utf8(archive);
            CreateDirectoryW(base.c_str(), nullptr);
            if (k.ext == std::wstring(L"cab"))
                Packer(L"cab --folder " + Quote(Path(L"names")) + L" --out " + Quote(archive));
            else if (k.ext == std::wstring(L"pac"))
                Packer(L"pac --folder " + Quote(Path(L"names")) + L" --out " + Quote(archive));
            else
                MakeZip(archive, zipMembers, false, 0x800);
            // An archive of the same kind where a look-alike path leads,
            // which must never be opened instead.
            std::wstring plant = LookAlike(base);
            if (!plant.empty()) {
                CreateDirectoryW(plant.c_str(), nullptr);
                CopyFileW(Path(L"src\\setup.ini").c_str(), (plant + L"\\planted.txt").c_str(),
                          FALSE);
                if (k.ext == std::wstring(L"zip"))
                    MakeZip(plant + L"\\data.zip", {{"planted.txt", "planted"}});
                else
                    Packer(std::wstring(k.ext) + L" --folder " + Quote(Path(L"src")) +
                           L" --out " + Quote(plant + L"\\data." + k.ext));
            }
            tracesink::Clear();
            EXPECT_EQ(UnCompressFile(archive.c_str(), out.c_str(), TRUE, TestRun().szTempTRV), 0u)
                << what << "\n"
                << tracesink::Dump();
            std::vector<std::wstring> expected;
            for (const auto& f : files) {
                std::wstring name = k.bFlat ? f.first.substr(f.first.find_last_of(L'\\') + 1)
                                            : f.first;
                expected.push_back(name);
                EXPECT_EQ(ReadBytes(out + L"\\" + name), f.second) << what;
            }
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(Tree(out), expected) << what;
            if (!plant.empty())
                WipeTree(plant);
        }
    }
}

TEST_F(ArchiveTest, NamesWithoutTheirUtf8MarkAreReadInTheirCodePage)
{
    if (GetACP() != 1252 || GetOEMCP() != 437)
        GTEST_SKIP() << "the cases are written for code pages 1252 and 437";
    WriteBytes(Path(L"one.txt"), "one");
    const std::wstring source = Path(L"one.txt");
    const struct {
        const char* what;
        bool bZip;
        std::string name;       // as stored
        bool bUtf8;             // marked as UTF-8
        DWORD result;
        const wchar_t* written;  // null: nothing
    } cases[] = {
        {"cabinet, code page", false, "caf\xE9.txt", false, 0, L"caf\u00e9.txt"},
        {"cabinet, UTF-8", false, "caf\xC3\xA9 \xC5\x81" "ask.txt", true, 0, L"caf\u00e9 \u0141ask.txt"},
        {"cabinet, marked UTF-8 but not", false, "caf\xE9.txt", true, ERROR_INVALID_DATA, nullptr},
        {"ZIP, OEM code page", true, "caf\x82.txt", false, 0, L"caf\u00e9.txt"},
        {"ZIP, UTF-8", true, "caf\xC3\xA9 \xC5\x81" "ask.txt", true, 0, L"caf\u00e9 \u0141ask.txt"},
        {"ZIP, marked UTF-8 but not", true, "caf\xE9.txt", true, ERROR_INVALID_DATA, nullptr},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::wstring archive = Path(L"a" + std::to_wstring(++n) + (c.bZip ? L".zip" : L".cab"));
        if (c.bZip) {
            MakeZip(archive, {{c.name, "one"}}, false, c.bUtf8 ? 0x800 : 0);
        } else {
            packer::CABENTRY entry;
            entry.name = c.name;
            entry.source = source;
            entry.bUtf8Name = c.bUtf8;
            packer::WriteCabinet({entry}, archive, 0, false, false, packer::CabDates::FromFiles);
        }
        std::wstring out = Path(L"o" + std::to_wstring(n));
        EXPECT_EQ(UnCompressFile(archive.c_str(), out.c_str(), FALSE, TestRun().szTempTRV),
                  c.result)
            << c.what;
        EXPECT_EQ(Tree(out), c.written ? std::vector<std::wstring>{c.written}
                                       : std::vector<std::wstring>{})
            << c.what;
    }
}

}  // namespace
