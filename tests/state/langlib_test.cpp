// A language library is checked before any dialog or string is taken from
// it; a damaged or foreign one is refused and the program's own English
// serves.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "languages_fixture.h"
#include "res/resource.h"
#include "state/langlib.h"
#include "state/languages.h"
#include "support/tracesink.h"

namespace {

std::vector<BYTE> ReadAll(const std::wstring& path)
{
    std::vector<BYTE> bytes;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(h, nullptr));
    DWORD cb = 0;
    ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cb, nullptr);
    CloseHandle(h);
    return bytes;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// A copy of German.lng with one resource replaced, through the system's
// resource update.
std::wstring Edited(const fixture::ScratchDir& dir, const std::wstring& name, LPCWSTR type,
                    WORD id, const std::vector<BYTE>& bytes)
{
    std::wstring path = dir / name;
    CopyFileW((fixture::BinDir() + L"German.lng").c_str(), path.c_str(), FALSE);
    HANDLE hUpdate = BeginUpdateResourceW(path.c_str(), FALSE);
    EXPECT_NE(hUpdate, nullptr);
    WORD lang = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
    EXPECT_TRUE(UpdateResourceW(hUpdate, type, MAKEINTRESOURCEW(id), lang,
                                const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())));
    EXPECT_TRUE(EndUpdateResourceW(hUpdate, FALSE));
    return path;
}

}  // namespace

TEST(LanguageLibraryCheck, EveryBuiltLibraryPasses)
{
    for (const wchar_t* name :
         {L"EnglishUS.lng", L"French.lng", L"German.lng", L"Italian.lng", L"Spanish.lng"}) {
        std::wstring path = fixture::BinDir() + name;
        tracesink::Clear();
        EXPECT_TRUE(CheckLanguageLibrary(path.c_str())) << Narrow(name) << tracesink::Dump();
        HMODULE hLib = LoadCheckedLanguageLibrary(path.c_str());
        ASSERT_NE(hLib, nullptr) << Narrow(name);
        WCHAR szText[256];
        EXPECT_TRUE(LoadStringEx(hLib, IDS_ERROR_CAPTION, szText, 256, 0)) << Narrow(name);
        EXPECT_TRUE(FindResourceW(hLib, MAKEINTRESOURCEW(IDD_STATUS_NORMAL), RT_DIALOG))
            << Narrow(name);
        FreeLibrary(hLib);
    }
}

// Damaged and foreign files: refused with the reason, never loaded.
TEST(LanguageLibraryCheck, DamagedOrForeignLibrariesAreRefused)
{
    fixture::ScratchDir dir(L"langlib");
    const std::vector<BYTE> german = ReadAll(fixture::BinDir() + L"German.lng");
    ASSERT_GT(german.size(), 4096u);
    std::vector<BYTE> noise(4000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<BYTE>(i * 7919 + 13);
    const std::vector<BYTE> garbageDialog(noise.begin(), noise.begin() + 300);
    // The license dialog's first bytes: a template that ends in its header.
    HMODULE hGerman = LoadLibraryExW((fixture::BinDir() + L"German.lng").c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hGerman, nullptr);
    HRSRC hLicense = FindResourceW(hGerman, MAKEINTRESOURCEW(IDD_LICENSE), RT_DIALOG);
    ASSERT_NE(hLicense, nullptr);
    const BYTE* pLicense = static_cast<const BYTE*>(LockResource(LoadResource(hGerman, hLicense)));
    const std::vector<BYTE> cutDialog(pLicense, pLicense + 40);
    FreeLibrary(hGerman);
    // Sixteen strings of no characters.
    const std::vector<BYTE> emptyBlock(32, 0);

    auto write = [&](const std::wstring& name, const std::vector<BYTE>& bytes) {
        std::wstring path = dir / name;
        fixture::WriteBytes(path, bytes.data(), static_cast<DWORD>(bytes.size()));
        return path;
    };
    const struct {
        const char* what;
        std::wstring path;
        const char* reason;
    } cases[] = {
        {"truncated", write(L"truncated.lng", std::vector<BYTE>(german.begin(),
                                                               german.begin() + german.size() / 2)),
         nullptr},
        {"random bytes", write(L"random.lng", noise), "not a Windows image"},
        {"empty", write(L"empty.lng", {}), "not a Windows image"},
        {"missing", dir / L"missing.lng", "not readable"},
        {"a library of another kind", fixture::BinDir() + L"QELTRON.dll", "no resources"},
        {"a dialog scrambled", Edited(dir, L"scrambled.lng", RT_DIALOG, IDD_STATUS_NORMAL, garbageDialog),
         "dialog 200 damaged"},
        {"a dialog cut short", Edited(dir, L"cut.lng", RT_DIALOG, IDD_LICENSE, cutDialog),
         "dialog 189 damaged"},
        {"the strings of the errors emptied",
         Edited(dir, L"nostrings.lng", RT_STRING, IDS_ERROR_CAPTION / 16 + 1, emptyBlock),
         "string 600 missing"},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_FALSE(CheckLanguageLibrary(c.path.c_str())) << c.what;
        EXPECT_TRUE(tracesink::ContainsPrefix("CheckLanguageLibrary(" + Narrow(c.path) + ")->"))
            << c.what << "\n" << tracesink::Dump();
        if (c.reason) {
            EXPECT_TRUE(tracesink::Contains("CheckLanguageLibrary(" + Narrow(c.path) + ")->" +
                                            c.reason))
                << c.what << "\n" << tracesink::Dump();
        }
        EXPECT_EQ(LoadCheckedLanguageLibrary(c.path.c_str()), nullptr) << c.what;
    }
}
