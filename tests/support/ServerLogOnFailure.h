#pragma once

#include <filesystem>
#include <functional>

namespace parlaro::test {

// After each failed test, the end of every log of the private server in
// `folder()` goes to standard output beside the failure: what the server
// said is often why the test saw nothing. Call once, before the tests run
// (a static initializer will do).
bool showServerLogsOnFailure(std::function<std::filesystem::path()> folder);

}  // namespace parlaro::test
