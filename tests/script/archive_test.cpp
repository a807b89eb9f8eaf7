// The archive commands: UNCABFILE, UNZIPFILE and EXTRACTPAC.
#include <string>
#include <vector>
#include "packer/cabwriter.h"
#include "script/script.h"
#include "scripttest.h"

using namespace scripttest;

namespace {

class ArchiveCommandTest : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        m_dir = FreshDir(L"archive");
        m_n = Narrow(m_dir);
    }
    void TearDown() override
    {
        RemoveTree(m_dir);
        ScriptTest::TearDown();
    }
    std::wstring m_dir;
    std::string m_n;
};

DWORD Crc32(const std::string& data)
{
    DWORD crc = 0xFFFFFFFF;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

void Put16(std::string& out, unsigned v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, DWORD v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A ZIP archive with stored (uncompressed) members.
std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& members)
{
    std::string zip, central;
    for (const auto& m : members) {
        DWORD offset = static_cast<DWORD>(zip.size());
        DWORD crc = Crc32(m.second);
        auto common = [&](std::string& out) {
            Put16(out, 20);  // version needed
            Put16(out, 0);   // flags
            Put16(out, 0);   // stored
            Put16(out, 0);   // time
            Put16(out, 0x21);  // date: 1980-01-01
            Put32(out, crc);
            Put32(out, static_cast<DWORD>(m.second.size()));
            Put32(out, static_cast<DWORD>(m.second.size()));
            Put16(out, static_cast<unsigned>(m.first.size()));
            Put16(out, 0);  // extra
        };
        Put32(zip, 0x04034b50);
        common(zip);
        zip += m.first + m.second;
        Put32(central, 0x02014b50);
        Put16(central, 20);  // made by
        common(central);
        Put16(central, 0);  // comment
        Put16(central, 0);  // disk
        Put16(central, 0);  // internal attributes
        Put32(central, 0);  // external attributes
        Put32(central, offset);
        central += m.first;
    }
    DWORD centralAt = static_cast<DWORD>(zip.size());
    zip += central;
    Put32(zip, 0x06054b50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, static_cast<unsigned>(members.size()));
    Put16(zip, static_cast<unsigned>(members.size()));
    Put32(zip, static_cast<DWORD>(central.size()));
    Put32(zip, centralAt);
    Put16(zip, 0);
    return zip;
}

TEST_F(ArchiveCommandTest, UnCabFileRestoresFolders)
{
    WriteFile(m_dir + L"\\one.txt", "one");
    WriteFile(m_dir + L"\\two.txt", "two");
    std::wstring one = m_dir + L"\\one.txt", two = m_dir + L"\\two.txt";
    const CABMEMBER members[] = {{one.c_str(), L"one.txt"}, {two.c_str(), L"sub\\two.txt"}};
    std::wstring cab = m_dir + L"\\data.cab";
    ASSERT_EQ(CreateCabinet(cab.c_str(), members, 2, TRUE), 0u);

    struct Case {
        const wchar_t* command;
        std::wstring params;
        std::string lastResult;
        std::string traced;
        bool unpacked;
    };
    const Case cases[] = {
        {L"UNCABFILE", cab + L"," + m_dir + L"\\out,unused", "0",
         "ScriptUnCABFile(" + Narrow(cab) + ", " + m_n + "\\out)->0", true},
        {L"COPYCABFILE", cab + L"," + m_dir + L"\\out", "0",
         "ScriptUnCABFile(" + Narrow(cab) + ", " + m_n + "\\out)->0", true},
        {L"UNCABFILE", cab + L"," + m_dir + L"\\out,,,,Label", "0", "", false},
        {L"UNCABFILE", m_dir + L"\\none.cab," + m_dir + L"\\out", "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.params));
        RemoveTree(m_dir + L"\\out");
        tracesink::Clear();
        RunLine(c.command, c.params);
        if (!c.lastResult.empty()) {
            EXPECT_EQ(LastResult(), c.lastResult);
        } else {
            EXPECT_NE(LastResult(), "0");
        }
        if (!c.traced.empty()) {
            EXPECT_TRUE(Traced(c.traced));
        }
        EXPECT_EQ(ReadFile(m_dir + L"\\out\\sub\\two.txt") == "two", c.unpacked);
        EXPECT_EQ(ReadFile(m_dir + L"\\out\\one.txt") == "one", c.unpacked);
    }
}

TEST_F(ArchiveCommandTest, UnZipFileTable)
{
    std::wstring zip = m_dir + L"\\data.zip";
    WriteFile(zip, StoredZip({{"a.txt", "alpha"}, {"b.txt", "beta"}}));
    WriteFile(m_dir + L"\\broken.zip", "PK not really");
    struct Case {
        std::wstring params;
        std::string lastResult;
        bool unpacked;
    };
    const Case cases[] = {
        {zip + L"," + m_dir + L"\\out", "1", true},
        {zip + L"," + m_dir + L"\\out,,,Label", "0", false},
        {m_dir + L"\\broken.zip," + m_dir + L"\\out", "0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.params));
        RemoveTree(m_dir + L"\\out");
        CreateDirectoryW((m_dir + L"\\out").c_str(), nullptr);
        RunLine(L"UNZIPFILE", c.params);
        EXPECT_EQ(LastResult(), c.lastResult);
        EXPECT_EQ(ReadFile(m_dir + L"\\out\\a.txt") == "alpha", c.unpacked);
        EXPECT_EQ(ReadFile(m_dir + L"\\out\\b.txt") == "beta", c.unpacked);
    }
    RunLine(L"UNZIPFILE", zip + L"," + m_dir + L"\\out");
    EXPECT_TRUE(Traced("ScriptUnZipFile(" + Narrow(zip) + "," + m_n + "\\out)->1"));
}

TEST_F(ArchiveCommandTest, ExtractPacOfSomethingElseFails)
{
    WriteFile(m_dir + L"\\data.pac", "not a PAC archive");
    for (const wchar_t* command : {L"EXTRACTPAC", L"COPYPACFILE"}) {
        tracesink::Clear();
        RunLine(command, m_dir + L"\\data.pac," + m_dir + L"\\out");
        EXPECT_EQ(LastResult(), "0");
        EXPECT_TRUE(Traced("ScriptUnPACFile(" + m_n + "\\data.pac, " + m_n + "\\out)->0"));
    }
}

}  // namespace
