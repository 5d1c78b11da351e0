#include "support/TempDirectory.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace parlaro::test {

TempDirectory::TempDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "parlaro-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("Cannot create a temporary folder from " + pattern);
    }
    path_ = pattern;
}

TempDirectory::~TempDirectory()
{
    std::error_code error;
    // Tests may take permissions away; give them back so removal succeeds.
    for (auto entry = std::filesystem::recursive_directory_iterator(path_, error);
         !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
        std::filesystem::permissions(entry->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, error);
    }
    std::filesystem::remove_all(path_, error);
}

void TempDirectory::write(const std::filesystem::path& relative, const std::string& contents) const
{
    const std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream << contents;
    if (!stream) {
        throw std::runtime_error("Cannot write " + file.string());
    }
}

std::string TempDirectory::read(const std::filesystem::path& relative) const
{
    std::ifstream stream(path_ / relative, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

}  // namespace parlaro::test
