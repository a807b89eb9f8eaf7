// The language list, localized strings, and the unpacking of the language
// pack: only the chosen library, the neutral files and the license land
// flat in the temporary folder.
#include <gtest/gtest.h>
#include <windows.h>
#include "state/languages_fixture.h"
#include <strsafe.h>
#include <memory>
#include <string>
#include <vector>
#include "payload/resources.h"
#include "state/config.h"
#include "state/languages.h"
#include "state/projectinfo.h"
#include "state/state.h"
#include "support/tracesink.h"
#include "res/resource.h"
#include "support/testrun.h"

using fixture::ScratchDir;

namespace {

TEST(ReadLanguages, LinesBecomeEntriesInFileOrder)
{
    struct Expected { DWORD lcID; std::wstring file; };
    struct Case {
        const char* name;
        std::string ini;
        std::vector<Expected> entries;
        std::vector<std::string> lines;
    };
    const std::string longName(300, 'L');
    const Case cases[] = {
        {"two languages", "[Languages]\r\n2057=EnglishUS.lng\r\n1036=French.lng\r\n",
         {{2057, L"EnglishUS.lng"}, {1036, L"French.lng"}},
         {"ReadLanguages(0)->LangID=2057 FileName=EnglishUS.lng",
          "ReadLanguages(1)->LangID=1036 FileName=French.lng", "ReadLanguages()->2"}},
        {"line without =", "[Languages]\r\n1031\r\n", {{1031, L""}},
         {"ReadLanguages(0)->LangID=1031 FileName=", "ReadLanguages()->1"}},
        {"no section", "[Runtime]\r\nLaunchExe=1\r\n", {{1033, L""}}, {"ReadLanguages()->1"}},
        {"empty section", "[Languages]\r\n[Runtime]\r\n", {{1033, L""}}, {"ReadLanguages()->1"}},
        {"long file name is cut", "[Languages]\r\n1040=" + longName + "\r\n",
         {{1040, std::wstring(259, L'L')}}, {}},
        {"blanks around the parts", "[Languages]\r\n 2057 = EnglishUS.lng \r\n", {{2057, L"EnglishUS.lng"}}, {}},
        {"identifier not a number", "[Languages]\r\nabc=X.lng\r\n", {{0, L"X.lng"}},
         {"ReadLanguages(0)->LangID=0 FileName=X.lng", "ReadLanguages()->1"}},
    };
    ScratchDir dir(L"readlanguages");
    std::wstring ini = dir / L"setup.cfg";
    for (const Case& c : cases) {
        ASSERT_TRUE(fixture::WriteText(ini, c.ini));
        std::vector<LanguageEntry> list(3);
        tracesink::Clear();
        EXPECT_EQ(ReadLanguages(ini.c_str(), list), c.entries.size()) << c.name;
        ASSERT_EQ(list.size(), c.entries.size()) << c.name;
        for (size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].lcID, c.entries[i].lcID) << c.name;
            EXPECT_EQ(std::wstring(list[i].szFileName), c.entries[i].file) << c.name;
        }
        if (!c.lines.empty()) {
            EXPECT_EQ(tracesink::Lines(), c.lines) << c.name;
        }
    }
}

// ---- LoadStringEx ----

class LoadStringExTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        english_ = LoadLibraryExW((fixture::BinDir() + L"EnglishUS.lng").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE);
        french_ = LoadLibraryExW((fixture::BinDir() + L"French.lng").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(english_ && french_);
    }
    void TearDown() override
    {
        FreeLibrary(english_);
        FreeLibrary(french_);
    }
    HMODULE english_ = nullptr;
    HMODULE french_ = nullptr;
};

TEST_F(LoadStringExTest, BothFormsLoadFromTheGivenModule)
{
    struct Case {
        HMODULE* module;
        UINT id;
        BOOL found;
        const wchar_t* text;
    };
    const Case cases[] = {
        {&english_, IDS_ERROR_CAPTION, TRUE, L"Error"},
        {&french_, IDS_ERROR_CAPTION, TRUE, L"Erreur"},
        {&french_, IDS_HELP_CAPTION, TRUE, L"Aide"},
        {&english_, 4321, FALSE, L""},
    };
    for (const Case& c : cases) {
        // The language argument does not change the lookup.
        for (DWORD lang : {0u, 1036u, 2057u}) {
            WCHAR buf[64] = L"garbage";
            tracesink::Clear();
            EXPECT_EQ(LoadStringEx(*c.module, c.id, buf, ARRAYSIZE(buf), lang), c.found) << c.id;
            EXPECT_STREQ(buf, c.text);
            std::string line = "LoadStringEx(" + std::to_string(c.id) + ")->" + fixture::Narrow(c.text);
            EXPECT_EQ(tracesink::Lines(), std::vector<std::string>{line});
        }
        WCHAR shortBuf[LOADSTRING_SHORT_CCH] = L"garbage";
        tracesink::Clear();
        EXPECT_EQ(LoadStringEx(*c.module, c.id, shortBuf), c.found) << c.id;
        EXPECT_STREQ(shortBuf, c.text);
        // The short form is silent when it finds nothing.
        EXPECT_EQ(tracesink::Lines().size(), c.found ? 1u : 0u) << c.id;
    }
}

TEST_F(LoadStringExTest, CutsToTheCapacity)
{
    WCHAR buf[6];
    EXPECT_TRUE(LoadStringEx(english_, IDS_WARNING_CAPTION, buf, ARRAYSIZE(buf), 0));
    EXPECT_STREQ(buf, L"Warni");
    WCHAR shortBuf[LOADSTRING_SHORT_CCH];
    EXPECT_TRUE(LoadStringEx(english_, IDS_HELP_TEXT, shortBuf));
    EXPECT_EQ(wcslen(shortBuf), LOADSTRING_SHORT_CCH - 1u);
}

// A library that lacks a string gives an empty text, not the English one.
TEST_F(LoadStringExTest, MissingStringInALibraryIsEmpty)
{
    ScratchDir dir(L"lackstring");
    std::wstring path = dir / L"Lacking.lng";
    ASSERT_TRUE(CopyFileW((fixture::BinDir() + L"French.lng").c_str(), path.c_str(), FALSE));
    // Keep only the string block of 704..719 (help texts), taken from French.lng.
    const WORD block = IDS_HELP_CAPTION / 16 + 1;
    HRSRC hRes = FindResourceW(french_, MAKEINTRESOURCEW(block), RT_STRING);
    ASSERT_TRUE(hRes);
    void* data = LockResource(LoadResource(french_, hRes));
    DWORD size = SizeofResource(french_, hRes);
    HANDLE hUpdate = BeginUpdateResourceW(path.c_str(), TRUE);
    ASSERT_TRUE(hUpdate);
    ASSERT_TRUE(UpdateResourceW(hUpdate, RT_STRING, MAKEINTRESOURCEW(block),
                                MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), data, size));
    ASSERT_TRUE(EndUpdateResourceW(hUpdate, FALSE));
    HMODULE lacking = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(lacking);
    WCHAR buf[64] = L"garbage";
    EXPECT_FALSE(LoadStringEx(lacking, IDS_ERROR_CAPTION, buf, ARRAYSIZE(buf), 1036));
    EXPECT_STREQ(buf, L"");
    EXPECT_TRUE(LoadStringEx(lacking, IDS_HELP_CAPTION, buf, ARRAYSIZE(buf), 1036));
    EXPECT_STREQ(buf, L"Aide");
    FreeLibrary(lacking);
}

// ---- ExtractBinaryRes ----

// Builds the language pack the way the packer does: NAME.001 holds
// Languages\NAME.lng, Neutral.001 the license text.
class LanguagePack : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedInstance_ = hInstance;
        StringCchCopyW(savedTemp_, PATH_CCH, TestRun().szTempTRV);
        InitProjectInfo(TestRun());
        g_bCancel = 0;
        CreateDirectoryW(build_.path().c_str(), nullptr);
        fixture::WriteText(build_ / L"License.rtf", "{\\rtf1\\ansi License text}");
        fixture::WriteText(build_ / L"readme.txt", "neutral extra");
        fixture::WriteText(build_ / L"tracking.txt", "tracking copy");
    }
    void TearDown() override
    {
        hInstance = savedInstance_;
        StringCchCopyW(TestRun().szTempTRV, PATH_CCH, savedTemp_);
    }

    std::string Pack(const std::wstring& name, const std::vector<fixture::Member>& members)
    {
        std::wstring cab = build_ / name;
        EXPECT_EQ(fixture::MakeCabinet(cab, members), 0u) << fixture::Narrow(name);
        return fixture::ReadBytes(cab);
    }

    std::string LanguageMember(const std::wstring& lang)
    {
        std::wstring pack = build_ / (lang + L".001");
        EXPECT_EQ(fixture::MakeCabinet(pack, {{fixture::BinDir() + lang + L".lng",
                                               "Languages\\" + fixture::Narrow(lang) + ".lng"}}),
                  0u);
        return fixture::Narrow(pack);
    }

    // The outer cabinet as a BINARY resource of a module that stands in
    // for the program.
    // damagedPack: that pack of the language pack cut to half its size.
    void MakeProgram(const std::vector<std::wstring>& languages, bool neutral, bool trackingCopy,
                     const std::wstring& damagedPack = L"")
    {
        std::vector<fixture::Member> members;
        for (const std::wstring& lang : languages) {
            LanguageMember(lang);
            members.push_back({build_ / (lang + L".001"), fixture::Narrow(lang) + ".001"});
        }
        if (neutral) {
            Pack(L"Neutral.001", {{build_ / L"License.rtf", "License.rtf"},
                                  {build_ / L"readme.txt", "Docs\\readme.txt"}});
            members.push_back({build_ / L"Neutral.001", "Neutral.001"});
        }
        if (trackingCopy) {
            Pack(L"French_CT.001", {{build_ / L"tracking.txt", "tracking.txt"}});
            members.push_back({build_ / L"French_CT.001", "French_CT.001"});
        }
        if (!damagedPack.empty()) {
            std::string bytes = fixture::ReadBytes(build_ / damagedPack);
            fixture::WriteText(build_ / damagedPack, bytes.substr(0, bytes.size() / 2));
        }
        std::string binary = Pack(L"binary.cab", members);
        program_.reset(new fixture::ResourceModule(build_ / L"program.dll", {{L"BINARY", 130, binary}}));
        ASSERT_TRUE(program_->get());
        hInstance = program_->get();
    }

    void Use(const std::wstring& temp, const wchar_t* langFile, const wchar_t* licenseFile)
    {
        CreateDirectoryW(temp.c_str(), nullptr);
        StringCchCopyW(TestRun().szTempTRV, PATH_CCH, temp.c_str());
        StringCchCopyW(TestRun().project.szLangFileName, PATH_CCH, langFile);
        StringCchCopyW(TestRun().project.szLicenseFile, PATH_CCH, licenseFile);
    }

    ScratchDir root_{L"langpack"};
    ScratchDir build_{L"langpack_build"};
    std::unique_ptr<fixture::ResourceModule> program_;
    HINSTANCE savedInstance_ = nullptr;
    WCHAR savedTemp_[PATH_CCH] = L"";
};

TEST_F(LanguagePack, UnpacksOnlyTheChosenLanguageAndTheLicense)
{
    MakeProgram({L"EnglishUS", L"French", L"German", L"Italian", L"Spanish"}, true, false);
    struct Case {
        const wchar_t* langFile;
        const wchar_t* license;
        std::vector<std::wstring> files;
        BOOL bLicense;
    };
    const Case cases[] = {
        {L"French.lng", L"License.rtf", {L"French.lng", L"License.rtf", L"readme.txt"}, TRUE},
        {L"EnglishUS.lng", L"License.rtf", {L"EnglishUS.lng", L"License.rtf", L"readme.txt"}, TRUE},
        // only the file-name part of the configured names counts
        {L"sub\\Spanish.lng", L"C:\\any\\License.rtf", {L"License.rtf", L"Spanish.lng", L"readme.txt"}, TRUE},
        {L"", L"License.rtf", {L"License.rtf", L"readme.txt"}, TRUE},
        {L"Dutch.lng", L"Eula.rtf", {L"License.rtf", L"readme.txt"}, FALSE},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::wstring temp = root_ / (L"t" + std::to_wstring(n++));
        Use(temp, c.langFile, c.license);
        tracesink::Clear();
        EXPECT_EQ(ExtractBinaryRes(TestRun()), 0u);
        EXPECT_EQ(fixture::ListFiles(temp), c.files) << fixture::Narrow(c.langFile);
        EXPECT_EQ(TestRun().project.bLicense, static_cast<DWORD>(c.bLicense));
        std::wstring license = temp + L"\\" + PathFindFileNameW(c.license);
        EXPECT_EQ(std::wstring(TestRun().project.szLicenseFile), license);
        EXPECT_TRUE(tracesink::Contains(
            "ExtractBinaryRes()->License=" + std::to_string(c.bLicense) +
            " LicenseFile=" + fixture::Narrow(license)))
            << tracesink::Dump();
    }
    // The unpacked library is a usable language library.
    HMODULE lib = LoadLibraryExW((root_ / L"t0\\French.lng").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(lib);
    WCHAR text[64];
    EXPECT_TRUE(LoadStringEx(lib, IDS_HELP_CAPTION, text, ARRAYSIZE(text), 1036));
    EXPECT_STREQ(text, L"Aide");
    FreeLibrary(lib);
}

TEST_F(LanguagePack, WithoutNeutralPackTheLanguageStillComes)
{
    MakeProgram({L"EnglishUS", L"French"}, false, true);
    std::wstring temp = root_ / L"noneutral";
    Use(temp, L"French.lng", L"License.rtf");
    EXPECT_EQ(ExtractBinaryRes(TestRun()), 0u);
    EXPECT_EQ(fixture::ListFiles(temp), std::vector<std::wstring>{L"French.lng"});
    EXPECT_FALSE(TestRun().project.bLicense);
    // The tracking copy goes to its own folder.
    EXPECT_EQ(fixture::ListFiles(temp + L"\\CT"), std::vector<std::wstring>{L"tracking.txt"});
}

// A pack that can not be written out ends the run with its cause: the
// license or the install script would otherwise be silently missing.
TEST_F(LanguagePack, APackThatCannotBeUnpackedIsTheRunsEnd)
{
    struct Case {
        const char* what;
        const wchar_t* damaged;
        bool useMissingTemp;
        DWORD code;
        const char* trace;
    };
    const Case cases[] = {
        {"neutral pack cut short", L"Neutral.001", false, ERROR_INVALID_DATA,
         "ExtractBinaryRes()->Neutral.001 could not be unpacked (13)"},
        {"tracking copy cut short", L"French_CT.001", false, ERROR_INVALID_DATA,
         "ExtractBinaryRes()->French_CT.001 could not be unpacked (13)"},
        {"language's pack cut short", L"French.001", false, ERROR_INVALID_DATA,
         "ExtractBinaryRes()->French.001 could not be unpacked (13)"},
        {"temporary folder gone", L"", true, ERROR_PATH_NOT_FOUND, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        program_.reset();  // its file is written anew
        MakeProgram({L"EnglishUS", L"French"}, true, true, c.damaged);
        std::wstring temp = root_ / (L"damaged" + std::to_wstring(n++));
        Use(temp, L"French.lng", L"License.rtf");
        if (c.useMissingTemp) {
            RemoveDirectoryW(temp.c_str());
            StringCchCopyW(TestRun().szTempTRV, PATH_CCH, (temp + L"\\gone").c_str());
        }
        tracesink::Clear();
        EXPECT_EQ(ExtractBinaryRes(TestRun()), c.code) << c.what << "\n" << tracesink::Dump();
        std::string trace = c.trace ? std::string(c.trace)
                                    : "ExtractBinaryRes()->" + fixture::Narrow(temp) +
                                          "\\gone\\Binary.tmp could not be written (3)";
        EXPECT_TRUE(tracesink::Contains(trace)) << c.what << "\n" << tracesink::Dump();
        EXPECT_FALSE(TestRun().project.bLicense) << c.what;
        // Neither the language pack nor a pack of it stays behind.
        for (const wchar_t* name : {L"Binary.tmp", L"Neutral.001", L"French.001", L"French_CT.001"})
            EXPECT_EQ(GetFileAttributesW((temp + L"\\" + name).c_str()), INVALID_FILE_ATTRIBUTES)
                << c.what << " " << fixture::Narrow(name);
    }
}

TEST_F(LanguagePack, NoPackNoLanguageNoLicense)
{
    program_.reset(new fixture::ResourceModule(build_ / L"bare.dll", {{L"OTHER", 1, "x"}}));
    hInstance = program_->get();
    std::wstring temp = root_ / L"nopack";
    Use(temp, L"French.lng", L"License.rtf");
    tracesink::Clear();
    EXPECT_EQ(ExtractBinaryRes(TestRun()), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_TRUE(fixture::ListFiles(temp).empty());
    EXPECT_FALSE(TestRun().project.bLicense);
    EXPECT_STREQ(TestRun().project.szLicenseFile, L"License.rtf");
    EXPECT_FALSE(tracesink::ContainsPrefix("ExtractBinaryRes()"));
}

}  // namespace
