// Option matching on the launcher's command line.
#include <gtest/gtest.h>
#include <string>
#include "launcher/cmdline.h"
#include "support/tracesink.h"
#include "support/strings.h"

namespace {

struct SearchCase {
    const wchar_t* cmdLine;
    const wchar_t* option;
    BOOL found;
};

const SearchCase kSearchCases[] = {
    {L"/S", L"/S", TRUE},
    {L"/s", L"/S", TRUE},
    {L"-S /X:out", L"-S", TRUE},
    {L"/X:out /S", L"/S", TRUE},
    {L"/NORMALSTATUS /SMALLSTATUS", L"/SMALLSTATUS", TRUE},
    {L"/info", L"/INFO", TRUE},
    {L"  /FD  ", L"/FD", TRUE},
    // Whole words only: a short option inside a longer one does not count.
    {L"/SMALLSTATUS", L"/S", FALSE},
    {L"/SMALLSTATUS /X:out", L"/S", FALSE},
    {L"/SMALLSTATUS /S", L"/S", TRUE},
    {L"/X:C:\\a-s b", L"-S", FALSE},
    {L"/FULLSILENT", L"/S", FALSE},
    {L"", L"/S", FALSE},
    {L"/S", L"", FALSE},
    {L"-S", L"/S", FALSE},
};

TEST(SearchParams, MatchesWholeOptionsWithoutRegardToCase)
{
    for (const SearchCase& c : kSearchCases) {
        SCOPED_TRACE(support::Utf8(std::wstring(c.cmdLine) + L" | " + c.option));
        tracesink::Clear();
        EXPECT_EQ(c.found, SearchParams(c.cmdLine, c.option));
        std::string line = "SearchParams(" + support::Utf8(c.cmdLine) + ", " +
                           support::Utf8(c.option) + ")->FOUND!";
        EXPECT_EQ(c.found != FALSE, tracesink::Contains(line)) << tracesink::Dump();
    }
}

TEST(SearchParams, NullTextsAreAbsent)
{
    EXPECT_FALSE(SearchParams(nullptr, L"/S"));
    EXPECT_FALSE(SearchParams(L"/S", nullptr));
}

struct ValueCase {
    const wchar_t* cmdLine;
    const wchar_t* option;
    const wchar_t* delims;
    BOOL found;
    const wchar_t* value;
};

const ValueCase kValueCases[] = {
    // A blank right after the colon: the whole rest of the line.
    {L"-CMDLINE: /q /v", L"-CMDLINE:", L" ", TRUE, L"/q /v"},
    {L"-CMDLINE:/q /v", L"-CMDLINE:", L" ", TRUE, L"/q"},
    {L"/S -cmdline:/a", L"-CMDLINE:", L" ", TRUE, L"/a"},
    {L"-LANG:1036 -S", L"-LANG:", L"/-", TRUE, L"1036"},
    {L"/lang:1031", L"/LANG:", L"/-", TRUE, L"1031"},
    {L"/X:sub", L"/X:", L"/-", TRUE, L"sub"},
    {L"/X:\"C:\\My Folder\\out\"", L"/X:", L"/-", TRUE, L"C:\\My Folder\\out"},
    {L"/X:\"C:\\out dir\" /S", L"/X:", L"/-", TRUE, L"C:\\out dir"},
    {L"/X:C:\\a-b", L"/X:", L"/-", TRUE, L"C:\\a"},
    {L"/X:  spaced  ", L"/X:", L"/-", TRUE, L"spaced"},
    // A delimiter in first place cuts nothing.
    {L"/LANG:-5", L"/LANG:", L"/-", TRUE, L"-5"},
    {L"/X:", L"/X:", L"/-", TRUE, L""},
    {L"/S", L"/X:", L"/-", FALSE, L""},
    {L"", L"/X:", L"/-", FALSE, L""},
};

TEST(GetDataParams, CutsTheValueAtTheFirstDelimiter)
{
    for (const ValueCase& c : kValueCases) {
        SCOPED_TRACE(support::Utf8(std::wstring(c.cmdLine) + L" | " + c.option));
        tracesink::Clear();
        WCHAR szValue[260] = L"junk";
        EXPECT_EQ(c.found, GetDataParams(c.cmdLine, c.option, c.delims, szValue, 260));
        EXPECT_STREQ(c.value, szValue);
        if (*c.cmdLine) {
            std::string line = "GetDataParams(" + support::Utf8(c.cmdLine) + ", " +
                               support::Utf8(c.option) + ", " + support::Utf8(c.delims) + ", " +
                               support::Utf8(c.value) + ")->" + (c.found ? "1" : "0");
            EXPECT_TRUE(tracesink::Contains(line)) << tracesink::Dump();
        }
    }
}

TEST(GetDataParams, LongValuesAreCutToTheBuffer)
{
    std::wstring longValue(400, L'a');
    std::wstring cmdLine = L"/CMDLINE:" + longValue;
    WCHAR szSmall[260];
    EXPECT_TRUE(GetDataParams(cmdLine.c_str(), L"/CMDLINE:", L" ", szSmall, 260));
    EXPECT_EQ(std::wstring(259, L'a'), szSmall);

    // A caller with a command-line sized buffer gets all of it.
    std::wstring big(8000, L'\0');
    EXPECT_TRUE(GetDataParams(cmdLine.c_str(), L"/CMDLINE:", L" ", &big[0], big.size()));
    EXPECT_EQ(longValue, big.c_str());
}

}  // namespace
