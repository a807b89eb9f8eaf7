// The messages of a failed run: which code says what, each message in every
// language library, and no box that shows nothing but the system's words.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "common/errors.h"
#include "res/resource.h"
#include "state/languages.h"
#include "state/projectinfo.h"
#include "state/state.h"
#include "support/uitest_util.h"
#include "engine/errortext.h"
#include "support/testrun.h"

using uitest::Utf8;

namespace {

const wchar_t kProduct[] = L"Sample Product";

struct Library {
    const wchar_t* file;
    DWORD langId;
};

const Library kLibraries[] = {
    {L"EnglishUS.lng", 1033}, {L"French.lng", 1036}, {L"German.lng", 1031},
    {L"Italian.lng", 1040},   {L"Spanish.lng", 1034},
};

// The run's strings come from hLibrary, the program's own from launcher.exe.
class ErrorTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedInstance = hInstance;
        hInstance = uitest::LauncherResources();
        hInstRes = hInstance;
        TestRun().languages.clear();
        TestRun().project.uiLanguageDefault = 1033;
        lstrcpyW(TestRun().szTitle, kProduct);
    }
    void TearDown() override
    {
        for (HMODULE h : m_loaded)
            FreeLibrary(h);
        hInstance = m_savedInstance;
        hInstRes = nullptr;
    }
    void UseLibrary(const Library& lib)
    {
        HMODULE h = LoadLibraryExW((uitest::BinDir() + L"\\" + lib.file).c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(h) << Utf8(lib.file);
        m_loaded.push_back(h);
        hInstRes = h;
        TestRun().project.uiLanguageDefault = lib.langId;
    }
    static std::wstring Text(ERRORKIND kind, DWORD code, LPCWSTR path, ULONGLONG need)
    {
        FAILUREINFO failure = {code, path, need};
        WCHAR szText[MESSAGE_TEXT_CCH];
        BuildErrorText(kind, failure, TestRun(), szText, ARRAYSIZE(szText));
        return szText;
    }

    HINSTANCE m_savedInstance = nullptr;
    std::vector<HMODULE> m_loaded;
};

TEST_F(ErrorTextTest, EachCodeHasTheMessageThatSaysWhatToDo)
{
    const struct {
        DWORD code;
        BOOL download;
        ERRORKIND kind;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, FALSE, ERRORKIND_DAMAGED},  // a part of the package is missing
        {ERROR_BAD_FORMAT, FALSE, ERRORKIND_DAMAGED},
        {ERROR_INVALID_DATA, FALSE, ERRORKIND_DAMAGED},
        {ERROR_CRC, FALSE, ERRORKIND_DAMAGED},
        {323, FALSE, ERRORKIND_DAMAGED},  // an item's bytes are not the package's
        {323, TRUE, ERRORKIND_SERVER},    // the server's file is not the package's
        {ERROR_FILE_NOT_FOUND, TRUE, ERRORKIND_SERVER},
        {ERROR_ACCESS_DENIED, TRUE, ERRORKIND_SERVER},
        {12152, TRUE, ERRORKIND_SERVER},
        {12156, TRUE, ERRORKIND_SERVER},
        {ERROR_ACCESS_DENIED, FALSE, ERRORKIND_ACCESS},
        {ERROR_SHARING_VIOLATION, FALSE, ERRORKIND_ACCESS},
        {ERROR_DISK_FULL, FALSE, ERRORKIND_DISK_FULL},
        {ERROR_DISK_FULL, TRUE, ERRORKIND_DISK_FULL},
        {ERROR_HANDLE_DISK_FULL, FALSE, ERRORKIND_DISK_FULL},
        {1230, TRUE, ERRORKIND_NO_CONNECTION},
        {1236, TRUE, ERRORKIND_CONNECTION_LOST},
        {12002, TRUE, ERRORKIND_CONNECTION_LOST},
        {ERROR_CANCELLED, FALSE, ERRORKIND_CANCELLED},
        // 80: a file of the user's is in the way, or a ZIP's names collide
        {ERROR_FILE_EXISTS, FALSE, ERRORKIND_OTHER},
        {1920, FALSE, ERRORKIND_OTHER},
        {1113, FALSE, ERRORKIND_OTHER},  // a path the PAC unpacker cannot take
        {ERROR_NOT_ENOUGH_MEMORY, FALSE, ERRORKIND_MEMORY},
        {ERROR_OUTOFMEMORY, FALSE, ERRORKIND_MEMORY},
        {ERROR_OUTOFMEMORY, TRUE, ERRORKIND_MEMORY},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.kind, ErrorKindOf(c.code, c.download)) << c.code << " " << c.download;
}

// Every message is in every library, in its own words: not the program's
// English (but for the English library), with the product, the place it
// names, and the code below it.
TEST_F(ErrorTextTest, EveryMessageIsInEveryLanguage)
{
    std::vector<std::wstring> english(ERRORKIND_COUNT);
    for (DWORD k = 0; k < ERRORKIND_COUNT; ++k)
        english[k] = Text(static_cast<ERRORKIND>(k), 13, L"D:\\Setup\\data", 1);
    for (const Library& lib : kLibraries) {
        UseLibrary(lib);
        for (DWORD k = 0; k < ERRORKIND_COUNT; ++k) {
            ERRORKIND kind = static_cast<ERRORKIND>(k);
            SCOPED_TRACE(Utf8(lib.file) + " kind " + std::to_string(k));
            WCHAR szOwn[MESSAGE_TEXT_CCH] = L"";
            ASSERT_GT(LoadStringW(hInstRes, ErrorMessageId(kind), szOwn, ARRAYSIZE(szOwn)), 0)
                << "the library lacks the message";
            std::wstring text = Text(kind, 13, L"D:\\Setup\\data", 1);
            EXPECT_NE(std::wstring::npos, text.find(kProduct)) << Utf8(text);
            if (lib.langId != 1033) {
                EXPECT_NE(english[k], text) << Utf8(text);
            }
            bool namesPlace = kind == ERRORKIND_ACCESS || kind == ERRORKIND_NO_CONFIG ||
                              kind == ERRORKIND_TARGET || kind == ERRORKIND_FOLDER;
            if (namesPlace) {
                EXPECT_NE(std::wstring::npos, text.find(L"D:\\Setup\\data")) << Utf8(text);
            }
            if (kind == ERRORKIND_DISK_FULL) {
                EXPECT_NE(std::wstring::npos, text.find(L"D:")) << Utf8(text);
                EXPECT_EQ(std::wstring::npos, text.find(L"D:\\")) << Utf8(text);
            }
            if (kind == ERRORKIND_CANCELLED) {
                EXPECT_EQ(std::wstring::npos, text.find(L"13")) << Utf8(text);
            } else {
                // The code stands apart, on the last line.
                size_t last = text.rfind(L"\n\n");
                ASSERT_NE(std::wstring::npos, last) << Utf8(text);
                EXPECT_NE(std::wstring::npos, text.find(L" 13", last)) << Utf8(text);
            }
            EXPECT_EQ(std::wstring::npos, text.find(L'\r')) << Utf8(text);
        }
    }
}

// Whatever code a run ends with, its box says more than the system's own
// text for it: the message comes first, under the product's name.
TEST_F(ErrorTextTest, NoBoxIsOnlyTheSystemsText)
{
    const DWORD codes[] = {2,   3,   5,   11,   13,   14,   16,   23,   32,    80,    112,
                           123, 161, 203, 206,  267,  323,  1113, 1223, 1230, 1236, 1920,
                           12002, 12152, 12156};
    for (const Library& lib : kLibraries) {
        UseLibrary(lib);
        for (DWORD code : codes) {
            for (BOOL download : {FALSE, TRUE}) {
                SCOPED_TRACE(Utf8(lib.file) + " " + std::to_string(code));
                std::wstring text = Text(ErrorKindOf(code, download), code, L"C:\\Target", 1 << 20);
                WCHAR szSystem[MESSAGE_TEXT_CCH];
                SystemErrorText(code, szSystem, ARRAYSIZE(szSystem));
                EXPECT_NE(L"(" + std::to_wstring(code) + L") " + szSystem, text);
                EXPECT_NE(L'(', text[0]) << Utf8(text);
                EXPECT_NE(std::wstring::npos, text.find(kProduct)) << Utf8(text);
                EXPECT_GT(text.find(L"\n"), 20u) << Utf8(text);
            }
        }
    }
}

// The amount a full disk needs is in whole megabytes, rounded up, written
// as the language writes numbers; the drive is named without its slash.
TEST_F(ErrorTextTest, DiskFullNamesTheDriveAndTheAmount)
{
    const struct {
        const wchar_t* path;
        ULONGLONG need;
        const wchar_t* drive;
        const wchar_t* amount;
    } cases[] = {
        {L"C:\\Program Files\\Demo", 1, L"drive C:", L"1 MB"},
        {L"E:\\", 5 * 1048576ull, L"drive E:", L"5 MB"},
        {L"C:\\x", 5 * 1048576ull + 1, L"drive C:", L"6 MB"},
        {L"C:\\x", 1234567ull * 1048576, L"drive C:", L"1,234,567 MB"},
    };
    for (const auto& c : cases) {
        std::wstring text = Text(ERRORKIND_DISK_FULL, ERROR_DISK_FULL, c.path, c.need);
        EXPECT_NE(std::wstring::npos, text.find(c.drive)) << Utf8(text);
        EXPECT_NE(std::wstring::npos, text.find(c.amount)) << Utf8(text);
    }
    UseLibrary(kLibraries[1]);
    std::wstring french = Text(ERRORKIND_DISK_FULL, ERROR_DISK_FULL, L"C:\\x", 1234567ull * 1048576);
    EXPECT_NE(std::wstring::npos, french.find(L"lecteur C:")) << Utf8(french);
    EXPECT_NE(std::wstring::npos, french.find(L" Mo")) << Utf8(french);
    EXPECT_EQ(std::wstring::npos, french.find(L"1,234,567")) << Utf8(french);
}

// A library older than the program lacks the newest messages: the
// program's own English serves, never an empty box.
TEST_F(ErrorTextTest, AMessageTheLibraryLacksComesFromTheProgram)
{
    WCHAR szText[MESSAGE_TEXT_CCH];
    hInstRes = GetModuleHandleW(nullptr);  // the test program: no strings at all
    LPCWSTR args[] = {kProduct};
    ASSERT_TRUE(FormatUiText(IDS_CONFIRM_CANCEL, szText, ARRAYSIZE(szText), args, 1));
    EXPECT_STREQ(L"Are you sure you want to cancel the installation of Sample Product?", szText);
}

}  // namespace
