// Shared pieces of the script tests: a fixture that resets the script's
// state, scratch folders, small files and text conversions.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "script/fields.h"
#include "support/tracesink.h"

namespace scripttest {

std::string Narrow(const std::wstring& text);
std::wstring Wide(const std::string& text);

// Folder of the test program (the helper programs are built beside it).
std::wstring BinDir();
// A fresh, empty scratch folder under the temporary folder.
std::wstring FreshDir(const std::wstring& name);
// Removes a folder tree (read-only items included).
void RemoveTree(const std::wstring& path);
void WriteFile(const std::wstring& path, const std::string& content);
std::string ReadFile(const std::wstring& path);
bool Exists(const std::wstring& path);
// The script the tests' lines belong to, on the test program's run context.
SCRIPTRUN& Script();
// The last result, <FUNCTIONRETCODE>.
std::string LastResult();
// Runs one command line through the dispatcher as the script would.
void RunLine(const std::wstring& name, const std::wstring& params);
// "expected" must be among the trace lines.
testing::AssertionResult Traced(const std::string& expected);

// Bounded copy into a fixed buffer.
template <size_t N>
void Copy(wchar_t (&dst)[N], const wchar_t* src)
{
    lstrcpynW(dst, src, static_cast<int>(N));
}

// The script's state and the process-wide flags back to a run's start; the
// trace is cleared.
class ScriptTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace scripttest
