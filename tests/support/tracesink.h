// An in-process trace monitor for tests: a hidden "TMonitor" window and a
// "Dbs" window with list box 120, served by a thread of their own so that
// traces from any thread arrive. Created by the test main before the first
// trace call of the process (the trace caches its window lookup).
#pragma once
#include <string>
#include <vector>

namespace tracesink {

void Start();
void Stop();

// Forget every line received so far.
void Clear();
// Monitor messages received since the last Clear(), without the
// "[module] " prefix, as 8-bit text.
std::vector<std::string> Lines();
// Whole monitor lines ("[module] message").
std::vector<std::string> RawLines();
// Lines of the "Dbs" list box ("time> [module] message"), UTF-8.
std::vector<std::string> ListLines();
// True when some message equals the text exactly.
bool Contains(const std::string& message);
// True when some message starts with the text.
bool ContainsPrefix(const std::string& prefix);
// True when some message of the "Dbs" list equals the UTF-8 text exactly:
// for text that the monitor's 8-bit lines cannot hold.
bool ListContains(const std::string& message);
// Lines joined by "\n", for failure messages.
std::string Dump();

}  // namespace tracesink
