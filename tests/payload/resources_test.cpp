// The DATA payload resource and the skin pack.
#include <gtest/gtest.h>
#include <windows.h>
#include "state/languages_fixture.h"
#include <strsafe.h>
#include <memory>
#include <string>
#include <vector>
#include "state/config.h"
#include "state/projectinfo.h"
#include "state/state.h"
#include "payload/resources.h"
#include "support/tracesink.h"
#include "support/testrun.h"

using fixture::ScratchDir;

namespace {

class DataResource : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitProjectInfo(TestRun());
        g_bCancel = 0;
        StringCchCopyW(savedData_, PATH_CCH, TestRun().szDataPath);
        StringCchCopyW(TestRun().szDataPath, PATH_CCH, data_.path().c_str());
        StringCchCopyW(TestRun().project.szTgdFolder, PATH_CCH, (target_ / L"out\\deeper").c_str());
    }
    void TearDown() override
    {
        StringCchCopyW(TestRun().szDataPath, PATH_CCH, savedData_);
        g_bCancel = 0;
    }
    ScratchDir data_{L"datares"};
    ScratchDir target_{L"datares_target"};
    WCHAR savedData_[PATH_CCH] = L"";
};

// Resource data handles of a loaded image are plain pointers to the bytes.
HGLOBAL AsResource(const void* p)
{
    return reinterpret_cast<HGLOBAL>(const_cast<void*>(p));
}

TEST_F(DataResource, ChunkSizeFollowsTheResourceSize)
{
    struct Case {
        DWORD size;
        DWORD chunk;
        size_t writes;  // chunk lines
    };
    const Case cases[] = {
        {150u * 1048576u, 1572864u, 100},
        {50u * 1048576u, 1048576u, 50},
        {512u * 1024u, 1048576u, 0},  // one write, no chunk lines
        {100u * 1048576u + 1, 1048576u, 101},
    };
    for (const Case& c : cases) {
        // Not an archive: the writing is what is watched here.
        void* p = VirtualAlloc(nullptr, c.size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        ASSERT_TRUE(p);
        tracesink::Clear();
        DWORD code = ExtractDATARes(TestRun(), AsResource(p), c.size);
        VirtualFree(p, 0, MEM_RELEASE);
        EXPECT_EQ(code, 11u) << c.size;
        std::vector<std::string> lines = tracesink::Lines();
        EXPECT_TRUE(
            tracesink::Contains("ExtractDATARes()->LgData=" + std::to_string(c.size) +
                                " oct MaxDataRead=" + std::to_string(c.chunk) + " oct"));
        std::vector<std::string> writes =
            fixture::LinesWithPrefix(lines, "ExtractDATARes()->dwLgRemain=");
        ASSERT_EQ(writes.size(), c.writes) << c.size;
        if (!writes.empty()) {
            EXPECT_EQ(writes.front(),
                      "ExtractDATARes()->dwLgRemain=" + std::to_string(c.size) +
                          " dwNbOfBytesToWrite=" + std::to_string(c.chunk) +
                          " Bytes Write=" + std::to_string(c.chunk) + " oct");
            DWORD last = c.size - c.chunk * static_cast<DWORD>(c.writes - 1);
            EXPECT_EQ(writes.back(),
                      "ExtractDATARes()->dwLgRemain=" + std::to_string(last) +
                          " dwNbOfBytesToWrite=" + std::to_string(last) +
                          " Bytes Write=" + std::to_string(last) + " oct");
        }
        // The staged archive is gone, the target folder exists.
        EXPECT_FALSE(fixture::FileExists(data_ / L"SETUPZK.CAB"));
        EXPECT_NE(GetFileAttributesW(TestRun().project.szTgdFolder), INVALID_FILE_ATTRIBUTES);
    }
}

TEST_F(DataResource, UnpacksACabinetIntoTheTargetFolder)
{
    ScratchDir build(L"datares_build");
    fixture::WriteText(build / L"setup.exe", "MZ pretend program");
    fixture::WriteText(build / L"data.bin", std::string(70000, 'd'));
    ASSERT_EQ(fixture::MakeCabinet(build / L"payload.cab", {{build / L"setup.exe", "setup.exe"},
                                                           {build / L"data.bin", "sub\\data.bin"}}),
              0u);
    std::string cab = fixture::ReadBytes(build / L"payload.cab");
    struct Case { DWORD restore; const wchar_t* dataPath; };
    const Case cases[] = {{1, L"sub\\data.bin"}, {0, L"data.bin"}};
    for (const Case& c : cases) {
        fixture::RemoveTree(TestRun().project.szTgdFolder);
        TestRun().project.bRestoreTree = c.restore;
        EXPECT_EQ(ExtractDATARes(TestRun(), AsResource(cab.data()), static_cast<DWORD>(cab.size())),
                  0u);
        std::wstring target = TestRun().project.szTgdFolder;
        EXPECT_EQ(fixture::ReadBytes(target + L"\\setup.exe"), "MZ pretend program");
        EXPECT_EQ(fixture::ReadBytes(target + L"\\" + c.dataPath), std::string(70000, 'd'));
        EXPECT_FALSE(fixture::FileExists(data_ / L"SETUPZK.CAB"));
    }
}

TEST_F(DataResource, NoDataOrNoBytes)
{
    EXPECT_EQ(ExtractDATARes(TestRun(), nullptr, 10), 13u);
    char byte = 0;
    tracesink::Clear();
    EXPECT_EQ(ExtractDATARes(TestRun(), AsResource(&byte), 0), 0u);
    EXPECT_TRUE(tracesink::Lines().empty());
    EXPECT_EQ(GetFileAttributesW(TestRun().project.szTgdFolder), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DataResource, StagingFolderMissingIsAWriteFailure)
{
    StringCchCopyW(TestRun().szDataPath, PATH_CCH, (data_ / L"no\\such").c_str());
    char bytes[16] = {};
    EXPECT_EQ(ExtractDATARes(TestRun(), AsResource(bytes), sizeof(bytes)), 23u);
}

// ---- the skin ----

class SkinPack : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedInstance_ = hInstance;
        StringCchCopyW(savedTemp_, PATH_CCH, TestRun().szTempTRV);
        g_bCancel = 0;
        fixture::WriteText(build_ / L"Corvel.thm", "[Dialog]\r\nFrameShape=Frame.inf\r\n");
        fixture::WriteText(build_ / L"Frame.inf", "[FrameWork]\r\nTopLeft=0,0,320,68\r\n");
        fixture::WriteText(build_ / L"Dialog.inf", "[FrameWork]\r\nTopLeft=0,10,320,40\r\n");
        fixture::WriteText(build_ / L"NoFrame.thm", "[Colors]\r\nx=1\r\n");
    }
    void TearDown() override
    {
        hInstance = savedInstance_;
        StringCchCopyW(TestRun().szTempTRV, PATH_CCH, savedTemp_);
    }

    void MakeProgram(const std::vector<fixture::Member>& members, int n)
    {
        std::wstring cab = build_ / (L"skin" + std::to_wstring(n) + L".cab");
        ASSERT_EQ(fixture::MakeCabinet(cab, members), 0u);
        program_.reset(new fixture::ResourceModule(build_ / (L"program" + std::to_wstring(n) + L".dll"),
                                                   {{L"CORVEL", 135, fixture::ReadBytes(cab)}}));
        ASSERT_TRUE(program_->get());
        hInstance = program_->get();
    }

    ScratchDir root_{L"skin"};
    ScratchDir build_{L"skin_build"};
    std::unique_ptr<fixture::ResourceModule> program_;
    HINSTANCE savedInstance_ = nullptr;
    WCHAR savedTemp_[PATH_CCH] = L"";
};

using PFN_CALLS = const char*(WINAPI*)();

TEST_F(SkinPack, LoadsAndStartsTheSkinFromTheTemporaryFolder)
{
    const std::wstring full = fixture::BinDir() + L"Corvel.dll";
    const std::wstring partial = fixture::BinDir() + L"corvel_partial\\Corvel.dll";
    struct Case {
        const char* name;
        std::wstring library;
        const wchar_t* theme;  // stored as Corvel.thm
        bool loaded;
        int frameTop;
        std::vector<std::string> failures;
        bool allCalls;
    };
    const Case cases[] = {
        {"full skin", full, L"Corvel.thm", true, 66, {}, true},
        {"theme without frame name uses Dialog.inf", full, L"NoFrame.thm", true, 28, {}, true},
        {"missing exports are skipped",
         partial,
         L"Corvel.thm",
         true,
         66,
         {"SetCorvelThm()->Function 'LoadColorScheme' failed!",
          "SetCorvelThm()->Function 'GlobalSubclassDialog' failed!"},
         false},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::wstring temp = root_ / (L"t" + std::to_wstring(n));
        CreateDirectoryW(temp.c_str(), nullptr);
        StringCchCopyW(TestRun().szTempTRV, PATH_CCH, temp.c_str());
        MakeProgram({{c.library, "Corvel.dll"}, {build_ / c.theme, "Corvel.thm"},
                     {build_ / L"Frame.inf", "Frame.inf"}, {build_ / L"Dialog.inf", "Dialog.inf"}}, n++);
        int frameTop = -1;
        tracesink::Clear();
        HMODULE h = SetCorvelThm(TestRun(), nullptr, &frameTop);
        ASSERT_EQ(h != nullptr, c.loaded) << c.name << tracesink::Dump();
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(h, path, MAX_PATH);
        EXPECT_EQ(_wcsicmp(path, (temp + L"\\Corvel.dll").c_str()), 0) << c.name;
        char loaded[64];
        snprintf(loaded, sizeof(loaded), "SetCorvelThm()->Corvel loaded! (%x)",
                 static_cast<unsigned>(reinterpret_cast<UINT_PTR>(h)));
        EXPECT_TRUE(tracesink::Contains(loaded)) << c.name;
        EXPECT_EQ(fixture::LinesWithPrefix(tracesink::Lines(), "SetCorvelThm()->Function"),
                  c.failures)
            << c.name;
        EXPECT_EQ(frameTop, c.frameTop) << c.name;
        EXPECT_FALSE(fixture::FileExists(temp + L"\\Corvel.tmp"));
        auto calls = reinterpret_cast<PFN_CALLS>(GetProcAddress(h, "CorvelCalls"));
        ASSERT_TRUE(calls);
        std::string expected = "IScrvStartup(0)\n";
        if (c.allCalls)
            expected += "ISLoadColorsScheme(" + fixture::Narrow(temp) + "\\Corvel.thm,0)\nISGlobalSubclassDialog()\n";
        EXPECT_EQ(std::string(calls()), expected) << c.name;
        if (c.allCalls) {
            // Shutdown goes through the library's own export.
            std::string before = calls();
            HMODULE again = LoadLibraryW(path);  // keep it mapped to read the record
            FreeCorvelThm(h);
            EXPECT_EQ(std::string(calls()), before + "IScrvShutdown()\n") << c.name;
            FreeLibrary(again);
        } else {
            FreeCorvelThm(h);
        }
    }
}

TEST_F(SkinPack, StaysUnskinnedWithoutPackOrTheme)
{
    // No pack at all.
    program_.reset(new fixture::ResourceModule(build_ / L"bare.dll", {{L"OTHER", 1, "x"}}));
    hInstance = program_->get();
    StringCchCopyW(TestRun().szTempTRV, PATH_CCH, root_.path().c_str());
    EXPECT_EQ(SetCorvelThm(TestRun()), nullptr);

    // A pack without its theme file.
    std::wstring temp = root_ / L"notheme";
    CreateDirectoryW(temp.c_str(), nullptr);
    StringCchCopyW(TestRun().szTempTRV, PATH_CCH, temp.c_str());
    MakeProgram({{fixture::BinDir() + L"Corvel.dll", "Corvel.dll"}}, 10);
    tracesink::Clear();
    EXPECT_EQ(SetCorvelThm(TestRun()), nullptr);
    EXPECT_TRUE(tracesink::Contains("SetCorvelThm()->'" + fixture::Narrow(temp) +
                                    "\\Corvel.dll' doesn't exist!"))
        << tracesink::Dump();

    // A pack that is no archive.
    program_.reset(new fixture::ResourceModule(build_ / L"junk.dll", {{L"CORVEL", 135, "not a cabinet"}}));
    hInstance = program_->get();
    EXPECT_EQ(SetCorvelThm(TestRun()), nullptr);
    EXPECT_FALSE(fixture::FileExists(temp + L"\\Corvel.tmp"));
}

}  // namespace
