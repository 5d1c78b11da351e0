#include "support/ScratchMount.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>

namespace parlaro::test {

namespace {

std::string& lastWhy()
{
    static std::string why;
    return why;
}

std::string sizeOption(std::size_t bytes)
{
    return "size=" + std::to_string(bytes) + ",mode=0755";
}

}  // namespace

std::unique_ptr<ScratchMount> ScratchMount::make(const std::filesystem::path& folder, std::size_t bytes)
{
    std::filesystem::create_directories(folder);
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, sizeOption(bytes).c_str()) != 0) {
        lastWhy() = "cannot mount a tmpfs over " + folder.string() + " (" + std::strerror(errno)
            + "); that takes root, as in CI";
        return nullptr;
    }
    return std::unique_ptr<ScratchMount>(new ScratchMount(folder, bytes));
}

const std::string& ScratchMount::why()
{
    return lastWhy();
}

ScratchMount::ScratchMount(std::filesystem::path folder, std::size_t bytes) : folder_(std::move(folder)), bytes_(bytes)
{
}

ScratchMount::~ScratchMount()
{
    ::umount2(folder_.c_str(), MNT_DETACH);
}

void ScratchMount::fill() const
{
    std::ofstream filler(folder_ / ".filler", std::ios::binary);
    const std::vector<char> block(4096, 'x');
    // A tmpfs refuses the first block it has no page for.
    for (std::size_t written = 0; written <= bytes_ && filler.write(block.data(), block.size());
         written += block.size())
        filler.flush();
}

void ScratchMount::setReadOnly(bool readOnly) const
{
    const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0UL);
    ::mount("tmpfs", folder_.c_str(), "tmpfs", flags, sizeOption(bytes_).c_str());
}

ReadOnlyFolder::ReadOnlyFolder(std::filesystem::path folder)
    : folder_(std::move(folder)), mount_(ScratchMount::make(folder_, 1 << 20))
{
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    setReadOnly(false);
}

void ReadOnlyFolder::setReadOnly(bool readOnly) const
{
    if (mount_)
        mount_->setReadOnly(readOnly);
    else
        ::chmod(folder_.c_str(), readOnly ? 0555 : 0755);
}

std::string ReadOnlyFolder::reason() const
{
    return std::strerror(mount_ ? EROFS : EACCES);
}

}  // namespace parlaro::test
