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
    // Quotes around an option are no part of it.
    {L"\"/S\" \"/NOLICENSE\"", L"/S", TRUE},
    {L"\"/S\" \"/NOLICENSE\"", L"/NOLICENSE", TRUE},
    {L"\"/X:C:\\a b\"\"/S\"", L"/S", TRUE},
    {L"\"/SMALLSTATUS\"", L"/S", FALSE},
    // A number ends the value before it: the next option starts there.
    {L"/LANG:1036/S", L"/S", TRUE},
    {L"-LANG:1036-S", L"-S", TRUE},
    {L"/X:C:\\v2/S", L"/S", FALSE},
    {L"/FOO:/S", L"/S", FALSE},
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
    // A quoted value is taken whole, "-" and "/" included.
    {L"/X:\"C:\\my-app\\a/b\" /S", L"/X:", L"/-", TRUE, L"C:\\my-app\\a/b"},
    {L"\"/X:C:\\xo ut\\b\" /S", L"/X:", L"/-", TRUE, L"C:\\xo ut\\b"},
    {L"\"/CMDLINE:/q /v\" /S", L"/CMDLINE:", L" ", TRUE, L"/q /v"},
    {L"/CMDLINE:\"/q /v\"", L"/CMDLINE:", L" ", TRUE, L"/q /v"},
    {L"/X:\"unclosed -b", L"/X:", L"/-", TRUE, L"unclosed -b"},
    {L"/X:\"\"", L"/X:", L"/-", TRUE, L""},
    // Not an option where it does not stand as one.
    {L"/A/X:out", L"/X:", L"/-", FALSE, L""},
    {L"/LANG:1031/X:out", L"/X:", L"/-", TRUE, L"out"},
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

// The command lines that deployment tools write, and what the launcher
// reads from them: its switches (in its own test order) and its values.
struct FormCase {
    const wchar_t* cmdLine;
    const char* switches;  // the switches found, blank-separated
    const wchar_t* x;      // nullptr: no /X:
    const wchar_t* lang;
    const wchar_t* cmdline;
};

const FormCase kForms[] = {
    {L"/S /NOLICENSE", "S NOLICENSE", nullptr, nullptr, nullptr},
    {L"\"/S\" \"/NOLICENSE\"", "S NOLICENSE", nullptr, nullptr, nullptr},
    {L"\"-s\"\"-nolicense\"", "S NOLICENSE", nullptr, nullptr, nullptr},
    {L"/S /SUPPRESSMSGBOXES", "SUPPRESSMSGBOXES S", nullptr, nullptr, nullptr},
    {L"-SUPPRESSMSGBOXES", "SUPPRESSMSGBOXES", nullptr, nullptr, nullptr},
    {L"/SMALLSTATUS /SUPPRESS", "SMALLSTATUS", nullptr, nullptr, nullptr},
    {L"/LANG:1036/S", "S", nullptr, L"1036", nullptr},
    {L"-LANG:1036 -S", "S", nullptr, L"1036", nullptr},
    {L"\"/LANG:1034\" \"/S\"", "S", nullptr, L"1034", nullptr},
    {L"/S /X:C:\\my-app", "S", L"C:\\my", nullptr, nullptr},
    {L"/S /X:\"C:\\my-app\"", "S", L"C:\\my-app", nullptr, nullptr},
    {L"\"/S\" \"/X:C:\\xo ut\\b\"", "S", L"C:\\xo ut\\b", nullptr, nullptr},
    {L"/X:\"C:/xfs/d\" /S", "S", L"C:/xfs/d", nullptr, nullptr},
    {L"/X:\"C:\\a b\"/S", "S", L"C:\\a b", nullptr, nullptr},
    {L"-CMDLINE: /q /v", "", nullptr, nullptr, L"/q /v"},
    {L"-CMDLINE:/q /v", "", nullptr, nullptr, L"/q"},
    {L"/S /CMDLINE:\"/q /v\"", "S", nullptr, nullptr, L"/q /v"},
    {L"\"/CMDLINE:/q /v\" \"/S\"", "S", nullptr, nullptr, L"/q /v"},
    {L"/NORMALSTATUS /SMALLSTATUS /FULLSILENT", "FULLSILENT NORMALSTATUS SMALLSTATUS", nullptr,
     nullptr, nullptr},
    {L"/X:", "", L"", nullptr, nullptr},
};

const wchar_t* const kSwitches[] = {L"SUPPRESSMSGBOXES", L"WITHPROGRESS", L"S",
                                    L"NOBALLOON", L"FULLSILENT", L"FD", L"NOLICENSE",
                                    L"NOTOOLBAR", L"NORMALSTATUS", L"SMALLSTATUS"};

std::string ValueOf(LPCWSTR szCmdLine, LPCWSTR szName, LPCWSTR szDelims)
{
    std::wstring value(8000, L'\0');
    if (!GetOptionValue(szCmdLine, szName, szDelims, &value[0], value.size()))
        return "(none)";
    return support::Utf8(value.c_str());
}

TEST(CommandLineForms, QuotedAndUnquotedOptionsAndValues)
{
    for (const FormCase& c : kForms) {
        SCOPED_TRACE(support::Utf8(c.cmdLine));
        std::string found;
        for (const wchar_t* name : kSwitches) {
            if (HasOption(c.cmdLine, name))
                found += (found.empty() ? "" : " ") + support::Utf8(name);
        }
        EXPECT_EQ(c.switches, found);
        EXPECT_EQ(c.x ? support::Utf8(c.x) : "(none)",
                  ValueOf(c.cmdLine, L"X:", VALUE_ENDS_AT_OPTION));
        EXPECT_EQ(c.lang ? support::Utf8(c.lang) : "(none)",
                  ValueOf(c.cmdLine, L"LANG:", VALUE_ENDS_AT_OPTION));
        EXPECT_EQ(c.cmdline ? support::Utf8(c.cmdline) : "(none)",
                  ValueOf(c.cmdLine, L"CMDLINE:", VALUE_ENDS_AT_BLANK));
    }
}

TEST(FindOptionValue, FindsWithoutTracing)
{
    tracesink::Clear();
    WCHAR szValue[260];
    EXPECT_TRUE(FindOptionValue(L"/S /LOG:\"C:\\my logs\\a-b.log\"", L"/LOG:", L" ", szValue, 260));
    EXPECT_STREQ(L"C:\\my logs\\a-b.log", szValue);
    EXPECT_FALSE(FindOptionValue(L"/S", L"/LOG:", L" ", szValue, 260));
    EXPECT_STREQ(L"", szValue);
    EXPECT_TRUE(tracesink::Lines().empty()) << tracesink::Dump();
}

}  // namespace
