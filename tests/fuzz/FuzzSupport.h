#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

// A broken promise found while fuzzing: say which and stop, so that the
// input is kept as a crash.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, #condition);                    \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

namespace parlaro::fuzz {

// A folder of the run's own, in memory where there is such a place (every
// run writes files), removed when the run ends.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name)
    {
        const std::filesystem::path base =
            std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        path_ = base / ("parlaro-fuzz-" + name + "-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace parlaro::fuzz
