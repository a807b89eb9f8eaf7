// The launcher's command line: split as the system splits one, options as
// whole arguments, values that stay values.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <string>
#include <vector>
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
    {L"\t/FD\t", L"/FD", TRUE},
    // Whole arguments only: a short option inside a longer one does not count.
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
    {L"\"/SMALLSTATUS\"", L"/S", FALSE},
    // "" inside a quoted part is a quote: these are one argument each.
    {L"\"/X:C:\\a b\"\"/S\"", L"/S", FALSE},
    {L"\"-s\"\"-nolicense\"", L"-S", FALSE},
    // After a language number another option may follow at once.
    {L"/LANG:1036/S", L"/S", TRUE},
    {L"-LANG:1036-S", L"-S", TRUE},
    {L"/X:C:\\v2/S", L"/S", FALSE},
    {L"/X:D:2024-S", L"-S", FALSE},
    {L"/FOO:/S", L"/S", FALSE},
    // Text inside another option's value is never an option.
    {L"/S /CMDLINE:\"/X:C:\\Dest\"", L"/X:", FALSE},
    {L"/CMDLINE:\"/qn /S\"", L"/S", FALSE},
    {L"/X:\"C:\\out /NOLICENSE\"", L"/NOLICENSE", FALSE},
    {L"/CMDLINE:\"INSTALLDIR=C:\\App /LOG:C:\\inst.log\"", L"/LOG:", FALSE},
    // Nor is anything after /CMDLINE: and a blank: that is all the value.
    {L"/CMDLINE: /qn /S", L"/S", FALSE},
    {L"/S /CMDLINE: /qn", L"/S", TRUE},
};

TEST(SearchParams, FindsOptionsAsWholeArguments)
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
    BOOL found;
    const wchar_t* value;
};

const ValueCase kValueCases[] = {
    // A blank right after the colon: the whole rest of the line, as written.
    {L"-CMDLINE: /q /v", L"-CMDLINE:", TRUE, L"/q /v"},
    {L"/S /CMDLINE: \"C:\\Program Files\\MyApp\"", L"/CMDLINE:", TRUE,
     L"\"C:\\Program Files\\MyApp\""},
    {L"/S /CMDLINE: \"C:\\a b\" \"C:\\c d\"", L"/CMDLINE:", TRUE, L"\"C:\\a b\" \"C:\\c d\""},
    {L"/CMDLINE:   ", L"/CMDLINE:", TRUE, L""},
    // Otherwise the argument's text, unquoted as the system unquotes it.
    {L"-CMDLINE:/q /v", L"-CMDLINE:", TRUE, L"/q"},
    {L"/S -cmdline:/a", L"-CMDLINE:", TRUE, L"/a"},
    {L"/CMDLINE:\"/q /v\"", L"/CMDLINE:", TRUE, L"/q /v"},
    {L"\"/CMDLINE:/q /v\" /S", L"/CMDLINE:", TRUE, L"/q /v"},
    {L"/CMDLINE:\"/qn INSTALLDIR=\\\"C:\\Program Files\\X\\\"\"", L"/CMDLINE:", TRUE,
     L"/qn INSTALLDIR=\"C:\\Program Files\\X\""},
    {L"/S /CMDLINE:\"/X:C:\\Dest\"", L"/CMDLINE:", TRUE, L"/X:C:\\Dest"},
    {L"-LANG:1036 -S", L"-LANG:", TRUE, L"1036"},
    {L"/lang:1031", L"/LANG:", TRUE, L"1031"},
    {L"/LANG:1036/S", L"/LANG:", TRUE, L"1036"},
    {L"/X:sub", L"/X:", TRUE, L"sub"},
    {L"/X:\"C:\\My Folder\\out\"", L"/X:", TRUE, L"C:\\My Folder\\out"},
    {L"/X:\"C:\\out dir\" /S", L"/X:", TRUE, L"C:\\out dir"},
    {L"/X:C:\\my-app", L"/X:", TRUE, L"C:\\my-app"},
    {L"/X:C:\\a/b", L"/X:", TRUE, L"C:\\a/b"},
    {L"/X:\"C:\\out /NOLICENSE\"", L"/X:", TRUE, L"C:\\out /NOLICENSE"},
    {L"\"/X:C:\\xo ut\\b\" /S", L"/X:", TRUE, L"C:\\xo ut\\b"},
    {L"/X:\" spaced \"", L"/X:", TRUE, L"spaced"},
    // A bare value option takes the next argument, unless it is an option.
    {L"/X: \"C:\\my app\" /S", L"/X:", TRUE, L"C:\\my app"},
    {L"/X: /S", L"/X:", TRUE, L""},
    {L"/X:", L"/X:", TRUE, L""},
    {L"/X:\"\"", L"/X:", TRUE, L""},
    {L"/X:\"unclosed -b", L"/X:", TRUE, L"unclosed -b"},
    {L"/S", L"/X:", FALSE, L""},
    {L"", L"/X:", FALSE, L""},
    // Not an option where it does not stand as one.
    {L"/A/X:out", L"/X:", FALSE, L""},
    {L"/LANG:1031/X:out", L"/X:", TRUE, L"out"},
    {L"/CMDLINE:\"INSTALLDIR=C:\\App /LOG:C:\\inst.log\"", L"/LOG:", FALSE, L""},
    {L"/LOG:\"C:\\my logs\\a-b.log\" /S", L"/LOG:", TRUE, L"C:\\my logs\\a-b.log"},
};

TEST(GetDataParams, ValuesBelongToTheirOptionsArgument)
{
    for (const ValueCase& c : kValueCases) {
        SCOPED_TRACE(support::Utf8(std::wstring(c.cmdLine) + L" | " + c.option));
        tracesink::Clear();
        WCHAR szValue[260] = L"junk";
        EXPECT_EQ(c.found, GetDataParams(c.cmdLine, c.option, szValue, 260));
        EXPECT_STREQ(c.value, szValue);
        if (*c.cmdLine) {
            std::string line = "GetDataParams(" + support::Utf8(c.cmdLine) + ", " +
                               support::Utf8(c.option) + ", " + support::Utf8(c.value) + ")->" +
                               (c.found ? "1" : "0");
            EXPECT_TRUE(tracesink::Contains(line)) << tracesink::Dump();
        }
    }
}

TEST(GetDataParams, LongValuesAreCutToTheBuffer)
{
    std::wstring longValue(400, L'a');
    std::wstring cmdLine = L"/CMDLINE:" + longValue;
    WCHAR szSmall[260];
    EXPECT_TRUE(GetDataParams(cmdLine.c_str(), L"/CMDLINE:", szSmall, 260));
    EXPECT_EQ(std::wstring(259, L'a'), szSmall);

    // A caller with a command-line sized buffer gets all of it.
    std::wstring big(8000, L'\0');
    EXPECT_TRUE(GetDataParams(cmdLine.c_str(), L"/CMDLINE:", &big[0], big.size()));
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
    {L"\"-s\" \"-nolicense\"", "S NOLICENSE", nullptr, nullptr, nullptr},
    {L"/S /SUPPRESSMSGBOXES", "SUPPRESSMSGBOXES S", nullptr, nullptr, nullptr},
    {L"-SUPPRESSMSGBOXES", "SUPPRESSMSGBOXES", nullptr, nullptr, nullptr},
    {L"/SMALLSTATUS /SUPPRESS", "SMALLSTATUS", nullptr, nullptr, nullptr},
    {L"/LANG:1036/S", "S", nullptr, L"1036", nullptr},
    {L"-LANG:1036 -S", "S", nullptr, L"1036", nullptr},
    {L"\"/LANG:1034\" \"/S\"", "S", nullptr, L"1034", nullptr},
    {L"/S /X:C:\\my-app", "S", L"C:\\my-app", nullptr, nullptr},
    {L"/S /X:\"C:\\my-app\"", "S", L"C:\\my-app", nullptr, nullptr},
    {L"\"/S\" \"/X:C:\\xo ut\\b\"", "S", L"C:\\xo ut\\b", nullptr, nullptr},
    {L"/X:\"C:/xfs/d\" /S", "S", L"C:/xfs/d", nullptr, nullptr},
    {L"/X:\"C:\\out /NOLICENSE\"", "", L"C:\\out /NOLICENSE", nullptr, nullptr},
    {L"-CMDLINE: /q /v", "", nullptr, nullptr, L"/q /v"},
    {L"-CMDLINE:/q /v", "", nullptr, nullptr, L"/q"},
    {L"/S /CMDLINE:\"/q /v\"", "S", nullptr, nullptr, L"/q /v"},
    {L"\"/CMDLINE:/q /v\" \"/S\"", "S", nullptr, nullptr, L"/q /v"},
    {L"/S /CMDLINE:\"/X:C:\\Dest\"", "S", nullptr, nullptr, L"/X:C:\\Dest"},
    {L"/CMDLINE:\"/qn /S\"", "", nullptr, nullptr, L"/qn /S"},
    {L"/NORMALSTATUS /SMALLSTATUS /FULLSILENT", "FULLSILENT NORMALSTATUS SMALLSTATUS", nullptr,
     nullptr, nullptr},
    {L"/X:", "", L"", nullptr, nullptr},
};

const wchar_t* const kSwitches[] = {L"SUPPRESSMSGBOXES", L"WITHPROGRESS", L"S",
                                    L"NOBALLOON", L"FULLSILENT", L"FD", L"NOLICENSE",
                                    L"NOTOOLBAR", L"NORMALSTATUS", L"SMALLSTATUS"};

std::string ValueOf(LPCWSTR szCmdLine, LPCWSTR szName)
{
    std::wstring value(8000, L'\0');
    if (!GetOptionValue(szCmdLine, szName, &value[0], value.size()))
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
        EXPECT_EQ(c.x ? support::Utf8(c.x) : "(none)", ValueOf(c.cmdLine, L"X:"));
        EXPECT_EQ(c.lang ? support::Utf8(c.lang) : "(none)", ValueOf(c.cmdLine, L"LANG:"));
        EXPECT_EQ(c.cmdline ? support::Utf8(c.cmdline) : "(none)", ValueOf(c.cmdLine, L"CMDLINE:"));
    }
}

TEST(FindOptionValue, FindsWithoutTracing)
{
    tracesink::Clear();
    WCHAR szValue[260];
    EXPECT_TRUE(FindOptionValue(L"/S /LOG:\"C:\\my logs\\a-b.log\"", L"/LOG:", szValue, 260));
    EXPECT_STREQ(L"C:\\my logs\\a-b.log", szValue);
    EXPECT_FALSE(FindOptionValue(L"/S", L"/LOG:", szValue, 260));
    EXPECT_STREQ(L"", szValue);
    EXPECT_TRUE(tracesink::Lines().empty()) << tracesink::Dump();
}

struct Split {
    std::vector<std::wstring> args;
    std::vector<BOOL> known;
};

void Collect(void* pContext, LPCWSTR szText, size_t cchText, BOOL bKnown)
{
    auto* pSplit = static_cast<Split*>(pContext);
    pSplit->args.emplace_back(szText, cchText);
    pSplit->known.push_back(bKnown);
}

// The system's own splitting of the same line, after a program name.
std::vector<std::wstring> SystemSplit(const std::wstring& line)
{
    std::wstring full = L"x.exe " + line;
    int n = 0;
    LPWSTR* argv = CommandLineToArgvW(full.c_str(), &n);
    std::vector<std::wstring> out;
    for (int i = 1; argv && i < n; ++i)
        out.push_back(argv[i]);
    LocalFree(argv);
    return out;
}

TEST(SplitCommandLine, SplitsAsTheSystemDoes)
{
    const wchar_t* const lines[] = {
        L"/S /NOLICENSE",
        L"  \"/S\"   \"/X:C:\\a b\"  ",
        L"\"a\"\"b\" c",
        L"\"a b\"\"c d\"",
        L"\"\"\"a\"",
        L"a\"\"b",
        L"\"a\"\"\"b",
        L"\"a\"\"\"\"b\" c",
        L"\\\\\"a b\"",
        L"a\\\\b \"a\\\"b\"",
        L"\\\\\\\"x\\\\\\\\\" y",
        L"\"-s\"\"-nolicense\"",
        L"/CMDLINE:\"/qn INSTALLDIR=\\\"C:\\Program Files\\X\\\"\" /S",
        L"\tx\ty\t",
        L"\"\"",
        L"\"unclosed rest",
        L"trailing\\",
    };
    for (const wchar_t* line : lines) {
        SCOPED_TRACE(support::Utf8(line));
        Split split;
        SplitCommandLine(line, Collect, &split);
        EXPECT_EQ(SystemSplit(line), split.args);
    }
}

TEST(SplitCommandLine, TellsTheLaunchersOptionsFromOtherArguments)
{
    struct Case {
        const wchar_t* line;
        std::vector<std::wstring> args;
        std::vector<BOOL> known;
    };
    const Case cases[] = {
        {L"/S -nolicense \"/X:C:\\a b\"", {L"/S", L"-nolicense", L"/X:C:\\a b"}, {1, 1, 1}},
        {L"/LANG:1036/S /bogus extra", {L"/LANG:1036/S", L"/bogus", L"extra"}, {1, 0, 0}},
        {L"/X: \"C:\\my app\" /S", {L"/X:", L"C:\\my app", L"/S"}, {1, 1, 1}},
        {L"/SMALLSTATUSX", {L"/SMALLSTATUSX"}, {0}},
        {L"/S /CMDLINE: /qn \"C:\\a b\" /S", {L"/S", L"/CMDLINE:", L"/qn \"C:\\a b\" /S"}, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(support::Utf8(c.line));
        Split split;
        SplitCommandLine(c.line, Collect, &split);
        EXPECT_EQ(c.args, split.args);
        EXPECT_EQ(c.known, split.known);
    }
}

}  // namespace
