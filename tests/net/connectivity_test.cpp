#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "net/connectivity.h"
#include "support/tracesink.h"

namespace {

// A name the resolver refuses without asking any server: a label may not
// be longer than 63 characters.
const std::wstring kUnresolvable = std::wstring(64, L'n') + L".invalid";

class Connectivity : public testing::Test {};

TEST_F(Connectivity, WinsockLevelFollowsTheSystemVersion)
{
    const struct {
        DWORD major, minor, level;
    } cases[] = {
        {3, 51, 0}, {4, 0, 0}, {4, 10, 1}, {4, 90, 1}, {5, 0, 1}, {5, 1, 1}, {5, 2, 1}, {6, 0, 2}, {6, 1, 2},
        {10, 0, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WinsockLevelForVersion(c.major, c.minor), c.level) << c.major << "." << c.minor;
    // This system reports a Windows version of the NT 6 family or later.
    EXPECT_EQ(GetWinsockLevel(), 2u);
}

TEST_F(Connectivity, ResultBitsFromTheLookups)
{
    const struct {
        const wchar_t* host;  // null: the local machine
        BOOL skipPublic;
        std::wstring publicHost;
        DWORD result;
        std::string pingLine;  // "" when no lookup answers
    } cases[] = {
        {L"localhost", TRUE, kUnresolvable, 3, "GetInternetConnectedState > Ping OK: localhost"},
        {L"127.0.0.1", TRUE, kUnresolvable, 3, "GetInternetConnectedState > Ping OK: 127.0.0.1"},
        // Addresses as such, IPv6 in brackets too, need no name service.
        {L"[::1]", TRUE, kUnresolvable, 3, "GetInternetConnectedState > [::1] is an address: no look-up"},
        {L"::1", TRUE, kUnresolvable, 3, "GetInternetConnectedState > Ping OK: ::1"},
        {L"[2001:db8::7]", TRUE, kUnresolvable, 3, "GetInternetConnectedState > Ping OK: [2001:db8::7]"},
        {nullptr, TRUE, kUnresolvable, 3, "GetInternetConnectedState > Ping OK: (null)"},
        {kUnresolvable.c_str(), TRUE, L"localhost", 1, ""},
        // The host does not resolve but the public host does.
        {kUnresolvable.c_str(), FALSE, L"localhost", 3, "GetInternetConnectedState > Ping OK: localhost"},
        {kUnresolvable.c_str(), FALSE, kUnresolvable, 1, ""},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(GetInternetConnectedState(c.host, c.skipPublic ? nullptr : c.publicHost.c_str()),
                  c.result);
        std::string dump = tracesink::Dump();
        EXPECT_TRUE(tracesink::Contains("GetInternetConnectedState-> Test cnx Internet")) << dump;
        // Wine reports a configured LAN.
        EXPECT_TRUE(tracesink::Contains(
            "GetInternetConnectedState > InternetGetConnectedState returns TRUE with dwFlags = 0x12"))
            << dump;
        if (c.pingLine.empty())
            EXPECT_FALSE(tracesink::ContainsPrefix("GetInternetConnectedState > Ping OK")) << dump;
        else
            EXPECT_TRUE(tracesink::Contains(c.pingLine)) << dump;
        EXPECT_TRUE(tracesink::Contains("GetInternetConnectedState > Return " + std::to_string(c.result) +
                                        " with 1=CONNECTION_CONFIGURED and 2=CONNECTION_ACTIVED"))
            << dump;
        EXPECT_TRUE(tracesink::Contains("GetInternetConnectedState > End cnx Internet")) << dump;
    }
}

TEST_F(Connectivity, InternetActiveAsksForTheLocalMachine)
{
    // A null host resolves to the machine itself, whatever the public host.
    EXPECT_TRUE(GetInternetConnectedState(nullptr, kUnresolvable.c_str()) & CONNECTION_ACTIVED);
}

size_t CountLines(const std::string& message)
{
    size_t n = 0;
    for (const std::string& line : tracesink::Lines())
        n += line == message;
    return n;
}

size_t IndexOf(const std::string& prefix)
{
    std::vector<std::string> lines = tracesink::Lines();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(prefix, 0) == 0)
            return i;
    }
    return lines.size();
}

// A run checks once, beside its start; every later question gets that answer
// after the check's own lines. Without a run's check each question checks.
TEST_F(Connectivity, ARunChecksOnceAndEveryQuestionWaitsForThatCheck)
{
    const struct {
        const char* what;
        const wchar_t* runHost;  // null: no run's check
        DWORD result;
        size_t checks;
        const char* answerLine;
    } cases[] = {
        {"the run's check, for the package's host", L"localhost", 3, 1,
         "GetRunConnectionState(127.0.0.1)->3, from the run's check for localhost"},
        {"the run's check, for the local machine", nullptr, 3, 1,
         "GetRunConnectionState(127.0.0.1)->3, from the run's check for (null)"},
        {"no run's check: each question checks", L"", 3, 3, nullptr},
    };
    for (const auto& c : cases) {
        ForgetConnectionCheck();
        tracesink::Clear();
        bool bRunCheck = !c.runHost || c.runHost[0];
        if (bRunCheck)
            StartConnectionCheck(c.runHost, kUnresolvable.c_str());
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(GetRunConnectionState(L"127.0.0.1", kUnresolvable.c_str()), c.result) << c.what;
        std::string dump = tracesink::Dump();
        EXPECT_EQ(CountLines("GetInternetConnectedState-> Test cnx Internet"), c.checks)
            << c.what << "\n" << dump;
        if (c.answerLine) {
            EXPECT_EQ(CountLines(c.answerLine), 3u) << c.what << "\n" << dump;
            // The check's result is traced before anything uses it.
            EXPECT_LT(IndexOf("GetInternetConnectedState > End cnx Internet"),
                      IndexOf("GetRunConnectionState("))
                << c.what << "\n" << dump;
            EXPECT_TRUE(tracesink::ContainsPrefix("StartConnectionCheck(")) << c.what;
        } else {
            EXPECT_FALSE(tracesink::ContainsPrefix("GetRunConnectionState(")) << c.what;
        }
    }
    ForgetConnectionCheck();
}

}  // namespace
