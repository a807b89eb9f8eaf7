// A package built the packer's way: every resource written into a copy of
// the launcher, then read back by the launcher's own start-up steps.
#include <gtest/gtest.h>
#include <windows.h>
#include "state/languages_fixture.h"
#include <strsafe.h>
#include <memory>
#include <string>
#include <vector>
#include "state/config.h"
#include "state/languages.h"
#include "state/pathvar.h"
#include "state/projectinfo.h"
#include "state/state.h"
#include "payload/resources.h"
#include "packer/resources_embed.h"
#include "support/tracesink.h"
#include "res/resource.h"
#include "support/testrun.h"

using fixture::ScratchDir;

namespace {

class Packaging : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedInstance_ = hInstance;
        StringCchCopyW(savedTemp_, PATH_CCH, TestRun().szTempTRV);
        g_bCancel = 0;
        InitPathVar(TestRun());
        fixture::WriteText(in_ / L"License.rtf", "{\\rtf1\\ansi The license.}");
        fixture::WriteText(in_ / L"Corvel.thm", "[Dialog]\r\nFrameShape=Dialog.inf\r\n");
        fixture::WriteText(in_ / L"Dialog.inf", "[FrameWork]\r\nTopLeft=0,0,320,68\r\n");
        fixture::WriteText(in_ / L"payload.bin", std::string(5000, 'p'));
        fixture::WriteText(in_ / L"setup.ini",
                           "[General]\r\nGuid={0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\r\nProductName=Demo\r\n"
                           "[Runtime]\r\nLanguageDefault=2057\r\nWebDownloadUrl=http://127.0.0.1:8123/web/\r\n"
                           "[Dialogs]\r\nLicenseFile=License.rtf\r\n"
                           "[Languages]\r\n2057=EnglishUS.lng\r\n1036=French.lng\r\n1031=German.lng\r\n"
                           "1040=Italian.lng\r\n1034=Spanish.lng\r\n");
        exe_ = out_ / L"package.exe";
        ASSERT_TRUE(CopyFileW((fixture::BinDir() + L"launcher.exe").c_str(), exe_.c_str(), FALSE));
    }
    void TearDown() override
    {
        hInstance = savedInstance_;
        StringCchCopyW(TestRun().szTempTRV, PATH_CCH, savedTemp_);
    }

    PACKAGERESOURCES Full()
    {
        PACKAGERESOURCES res;
        res.configFile = in_ / L"setup.ini";
        for (const wchar_t* lang : {L"EnglishUS", L"French", L"German", L"Italian", L"Spanish"})
            res.languages.push_back(fixture::BinDir() + lang + L".lng");
        res.neutralFiles = {in_ / L"License.rtf"};
        res.dataArchive = in_ / L"payload.bin";
        res.skinFiles = {fixture::BinDir() + L"Corvel.dll", in_ / L"Corvel.thm", in_ / L"Dialog.inf"};
        return res;
    }

    ScratchDir in_{L"pack_in"};
    ScratchDir out_{L"pack_out"};
    std::wstring exe_;
    HINSTANCE savedInstance_ = nullptr;
    WCHAR savedTemp_[PATH_CCH] = L"";
};

TEST_F(Packaging, ThePackageCarriesWhatTheLauncherReads)
{
    WCHAR message[EMBED_MESSAGE_CCH];
    ASSERT_EQ(EmbedResources(exe_.c_str(), Full(), message, EMBED_MESSAGE_CCH), 0u) << fixture::Narrow(message);
    HMODULE package = LoadLibraryExW(exe_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(package);
    hInstance = package;

    // The launcher's own program resources are still there.
    WCHAR text[64];
    EXPECT_TRUE(LoadStringEx(package, IDS_HELP_CAPTION, text, ARRAYSIZE(text), 2057));
    HRSRC data = FindResourceW(package, MAKEINTRESOURCEW(IDR_DATA), L"DATA");
    ASSERT_TRUE(data);
    EXPECT_EQ(SizeofResource(package, data), 5000u);

    struct Case { WORD param; const wchar_t* library; const wchar_t* help; };
    const Case cases[] = {
        {1031, L"German.lng", L"Hilfe"},
        {1034, L"Spanish.lng", L"Ayuda"},
        {2057, L"EnglishUS.lng", L"Help"},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::wstring temp = out_ / (L"temp" + std::to_wstring(n++));
        CreateDirectoryW(temp.c_str(), nullptr);
        StringCchCopyW(TestRun().szTempTRV, PATH_CCH, temp.c_str());
        std::wstring cfg = temp + L"\\setup.cfg";
        ASSERT_EQ(ExtractRes(package, IDR_CFG, L"CFG", cfg.c_str()), 0u);
        InitProjectInfo(TestRun());
        ASSERT_TRUE(ReadConfigFile(TestRun(), cfg.c_str(), c.param));
        EXPECT_STREQ(TestRun().project.szLangFileName, c.library);
        EXPECT_STREQ(TestRun().project.szWebDownloadUrl, L"http://127.0.0.1:8123/web/");
        EXPECT_STREQ(TestRun().project.szGuid, L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
        EXPECT_EQ(TestRun().languages.size(), 5u);

        ASSERT_EQ(ExtractBinaryRes(TestRun()), 0u);
        // Only the chosen library, flat, and the license.
        std::vector<std::wstring> expected = {L"License.rtf", c.library, L"setup.cfg"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(fixture::ListFiles(temp), expected);
        EXPECT_TRUE(TestRun().project.bLicense);
        HMODULE lib = LoadLibraryExW((temp + L"\\" + c.library).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(lib);
        EXPECT_TRUE(LoadStringEx(lib, IDS_HELP_CAPTION, text, ARRAYSIZE(text), c.param));
        EXPECT_STREQ(text, c.help);
        FreeLibrary(lib);
    }

    int frameTop = 0;
    HMODULE skin = SetCorvelThm(TestRun(), nullptr, &frameTop);
    EXPECT_TRUE(skin);
    EXPECT_EQ(frameTop, 66);
    FreeCorvelThm(skin);
    FreeLibrary(package);
}

TEST_F(Packaging, BadInputLeavesTheLauncherCopyUntouched)
{
    const std::string before = fixture::ReadBytes(exe_);
    fixture::WriteText(in_ / L"long.ini", "[Runtime]\r\nWebDownloadUrl=http://127.0.0.1/" + std::string(300, 'a') + "\r\n");
    fixture::WriteText(in_ / L"Other.dll", "not a language");
    fixture::WriteText(in_ / L"empty.cab", "");
    struct Case {
        const char* name;
        void (*change)(PACKAGERESOURCES&, const ScratchDir&);
        const char* message;  // start of the message
    };
    const Case cases[] = {
        {"missing language", [](PACKAGERESOURCES& r, const ScratchDir& d) { r.languages.push_back(d / L"Dutch.lng"); },
         "Language library not found: "},
        {"not a .lng", [](PACKAGERESOURCES& r, const ScratchDir& d) { r.languages.push_back(d / L"Other.dll"); },
         "Language library without the .lng extension: "},
        {"language twice", [](PACKAGERESOURCES& r, const ScratchDir&) { r.languages.push_back(r.languages[1]); },
         "Language named twice: French"},
        {"missing configuration", [](PACKAGERESOURCES& r, const ScratchDir& d) { r.configFile = d / L"none.ini"; },
         "Configuration file not found: "},
        {"web location too long", [](PACKAGERESOURCES& r, const ScratchDir& d) { r.configFile = d / L"long.ini"; },
         "WebDownloadUrl is longer than 259 characters"},
        {"missing DATA", [](PACKAGERESOURCES& r, const ScratchDir& d) { r.dataArchive = d / L"none.cab"; },
         "DATA archive not found: "},
        {"empty DATA", [](PACKAGERESOURCES& r, const ScratchDir& d) { r.dataArchive = d / L"empty.cab"; },
         "The DATA resource would be empty"},
        {"skin without theme", [](PACKAGERESOURCES& r, const ScratchDir&) { r.skinFiles.erase(r.skinFiles.begin() + 1); },
         "The skin pack needs Corvel.dll and Corvel.thm"},
        {"missing neutral file", [](PACKAGERESOURCES& r, const ScratchDir& d) { r.neutralFiles.push_back(d / L"Readme.txt"); },
         "Neutral file not found: "},
    };
    for (const Case& c : cases) {
        PACKAGERESOURCES res = Full();
        c.change(res, in_);
        WCHAR message[EMBED_MESSAGE_CCH];
        EXPECT_NE(EmbedResources(exe_.c_str(), res, message, EMBED_MESSAGE_CCH), 0u) << c.name;
        EXPECT_EQ(fixture::Narrow(message).rfind(c.message, 0), 0u) << c.name << ": " << fixture::Narrow(message);
        EXPECT_TRUE(fixture::ReadBytes(exe_) == before) << c.name;
    }
    WCHAR message[EMBED_MESSAGE_CCH];
    EXPECT_EQ(EmbedResources((out_ / L"none.exe").c_str(), Full(), message, EMBED_MESSAGE_CCH),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

DWORD RunPacker(const std::wstring& args)
{
    std::wstring cmd = L"\"" + fixture::BinDir() + L"packer.exe\" " + args;
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &si, &pi))
        return static_cast<DWORD>(-1);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

std::wstring Quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

// The packer's command line reaches the same resources.
TEST_F(Packaging, PackerEmbedsTheLanguagesAndTheConfiguration)
{
    std::wstring pkg = out_ / L"pkg.exe";
    std::wstring args = L"build --launcher " + Quoted(fixture::BinDir() + L"launcher.exe") + L" --out " +
                        Quoted(pkg) + L" --config " + Quoted(in_ / L"setup.ini") +
                        L" --stored " + Quoted(in_ / L"payload.bin") + L" --neutral " +
                        Quoted(in_ / L"License.rtf");
    for (const wchar_t* lang : {L"EnglishUS", L"French", L"German", L"Italian", L"Spanish"})
        args += L" --language " + Quoted(fixture::BinDir() + lang + L".lng");

    // A missing library stops the build and leaves nothing behind.
    EXPECT_NE(RunPacker(args + L" --language " + Quoted(in_ / L"Dutch.lng")), 0u);
    EXPECT_FALSE(fixture::FileExists(pkg));

    ASSERT_EQ(RunPacker(args), 0u);
    EXPECT_FALSE(fixture::FileExists(out_ / L"pkg.cfg"));  // embedded by default, not beside
    HMODULE package = LoadLibraryExW(pkg.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(package);
    hInstance = package;
    std::wstring temp = out_ / L"run";
    CreateDirectoryW(temp.c_str(), nullptr);
    StringCchCopyW(TestRun().szTempTRV, PATH_CCH, temp.c_str());
    std::wstring cfg = temp + L"\\setup.cfg";
    ASSERT_EQ(ExtractRes(package, IDR_CFG, L"CFG", cfg.c_str()), 0u);
    InitProjectInfo(TestRun());
    ASSERT_TRUE(ReadConfigFile(TestRun(), cfg.c_str(), 1036));
    EXPECT_STREQ(TestRun().project.szWebDownloadUrl, L"http://127.0.0.1:8123/web/");
    ASSERT_EQ(ExtractBinaryRes(TestRun()), 0u);
    EXPECT_EQ(fixture::ListFiles(temp),
              (std::vector<std::wstring>{L"French.lng", L"License.rtf", L"setup.cfg"}));
    EXPECT_TRUE(TestRun().project.bLicense);
    FreeLibrary(package);

    // With --config-beside the configuration lies beside, its web location
    // scrambled; the package carries its name, and the product's name and
    // languages for the message that says when it is missing (and none of
    // the files the configuration names, which this package is told it may
    // lack).
    std::wstring pkg2 = out_ / L"pkg2.exe";
    std::wstring args2 = L"build --launcher " + Quoted(fixture::BinDir() + L"launcher.exe") + L" --out " +
                         Quoted(pkg2) + L" --config " + Quoted(in_ / L"setup.ini") + L" --stored " +
                         Quoted(in_ / L"payload.bin") + L" --config-beside" +
                         L" --allow-missing LicenseFile --allow-missing Languages";
    ASSERT_EQ(RunPacker(args2), 0u);
    std::wstring beside = out_ / L"pkg2.cfg";
    ASSERT_TRUE(fixture::FileExists(beside));
    EXPECT_EQ(fixture::ReadBytes(beside).find("127.0.0.1"), std::string::npos);
    InitProjectInfo(TestRun());
    ASSERT_TRUE(ReadConfigFile(TestRun(), beside.c_str(), 0));
    EXPECT_STREQ(TestRun().project.szWebDownloadUrl, L"http://127.0.0.1:8123/web/");
    package = LoadLibraryExW(pkg2.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(package);
    std::wstring named = temp + L"\\named.cfg";
    ASSERT_EQ(ExtractRes(package, IDR_CFG, L"CFG", named.c_str()), 0u);
    FreeLibrary(package);
    WCHAR szName[PATH_CCH] = L"";
    GetPrivateProfileStringW(L"Package", L"ConfigFile", L"", szName, PATH_CCH, named.c_str());
    EXPECT_STREQ(szName, L"pkg2.cfg");
    InitProjectInfo(TestRun());
    ASSERT_TRUE(ReadConfigFile(TestRun(), named.c_str(), 0));
    EXPECT_STREQ(TestRun().project.szProductName, L"Demo");
    EXPECT_EQ(TestRun().project.uiLanguageDefault, 2057u);
    EXPECT_EQ(TestRun().languages.size(), 5u);
    std::string marker = fixture::ReadBytes(named);
    for (const char* absent : {"127.0.0.1", "WebDownloadUrl", "Guid", "LicenseFile"})
        EXPECT_EQ(marker.find(absent), std::string::npos) << absent;
}

// A configuration shipped beside the package gets the same treatment.
TEST_F(Packaging, ConfigurationBesideThePackage)
{
    std::wstring beside = out_ / L"package.cfg";
    WCHAR message[EMBED_MESSAGE_CCH];
    ASSERT_EQ(PrepareConfigFile((in_ / L"setup.ini").c_str(), beside.c_str(), message, EMBED_MESSAGE_CCH), 0u);
    InitProjectInfo(TestRun());
    ASSERT_TRUE(ReadConfigFile(TestRun(), beside.c_str(), 0));
    EXPECT_STREQ(TestRun().project.szWebDownloadUrl, L"http://127.0.0.1:8123/web/");
    // Preparing it again keeps the scrambled value as it is.
    std::string once = fixture::ReadBytes(beside);
    std::wstring twice = out_ / L"again.cfg";
    ASSERT_EQ(PrepareConfigFile(beside.c_str(), twice.c_str(), message, EMBED_MESSAGE_CCH), 0u);
    EXPECT_EQ(fixture::ReadBytes(twice), once);
    // And in place.
    std::wstring inPlace = out_ / L"inplace.cfg";
    ASSERT_TRUE(CopyFileW((in_ / L"setup.ini").c_str(), inPlace.c_str(), FALSE));
    ASSERT_EQ(PrepareConfigFile(inPlace.c_str(), inPlace.c_str(), message, EMBED_MESSAGE_CCH), 0u);
    InitProjectInfo(TestRun());
    ASSERT_TRUE(ReadConfigFile(TestRun(), inPlace.c_str(), 0));
    EXPECT_STREQ(TestRun().project.szWebDownloadUrl, L"http://127.0.0.1:8123/web/");
}

}  // namespace
