#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

namespace parlaro::test {

// A small tmpfs mounted over a folder for as long as the object lives, so a
// test can make the folder full or read-only as a disk would be; root alone
// may mount (CI runs as root), and make() gives null, with why() saying so,
// elsewhere. Unmounted (lazily, so an open file cannot keep it) on the way
// out.
class ScratchMount {
public:
    static std::unique_ptr<ScratchMount> make(const std::filesystem::path& folder, std::size_t bytes);
    // Why the last make() gave null.
    static const std::string& why();
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    // Fills every free byte with one file of its own.
    void fill() const;
    void setReadOnly(bool readOnly) const;

private:
    ScratchMount(std::filesystem::path folder, std::size_t bytes);
    std::filesystem::path folder_;
    std::size_t bytes_;
};

// The folder made read-only for this process, and writable again: by a
// read-only tmpfs over it when the process may mount, by its permissions
// otherwise (which root would ignore). The folder starts empty.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::filesystem::path folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    void setReadOnly(bool readOnly) const;
    // The words a write meets while it is read-only.
    std::string reason() const;

private:
    std::filesystem::path folder_;
    std::unique_ptr<ScratchMount> mount_;
};

}  // namespace parlaro::test
