#pragma once

#include <filesystem>
#include <string>

namespace parlaro::test {

// A fresh folder under the system temporary folder, removed with everything
// in it when the object goes away.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& child) const { return path_ / child; }

    // Creates the parent folders as needed and replaces any existing file.
    void write(const std::filesystem::path& relative, const std::string& contents) const;
    // The whole file; empty when it cannot be read.
    std::string read(const std::filesystem::path& relative) const;

private:
    std::filesystem::path path_;
};

}  // namespace parlaro::test
