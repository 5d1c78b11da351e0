#include "platform/ProgramFolder.h"

#include "runtime/Log.h"

namespace parlaro {

namespace fs = std::filesystem;

namespace {

bool present(const fs::path& path)
{
    std::error_code error;
    // A dangling link counts: it is something of the user's.
    return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

}  // namespace

fs::path programPath(const fs::path& base, const fs::path& entry)
{
    return programPath(base, entry, [](const fs::path& from, const fs::path& to, std::error_code& error) {
        fs::rename(from, to, error);
    });
}

fs::path programPath(const fs::path& base, const fs::path& entry, const FolderRename& rename)
{
    const fs::path current = base / programFolderName / entry;
    const fs::path legacyFolder = base / legacyProgramFolderName;
    const fs::path legacy = legacyFolder / entry;
    if (present(current) || !present(legacy))
        return current;
    std::error_code error;
    fs::create_directories(current.parent_path(), error);
    if (!error)
        rename(legacy, current, error);
    if (error) {
        rt::logMessage("Parlaro: could not move " + legacy.string() + " to " + current.string() + " (" + error.message()
                       + "); it stays there and is used from there.");
        return legacy;
    }
    // Removes the earlier folder only when nothing is left in it.
    fs::remove(legacyFolder, error);
    return current;
}

}  // namespace parlaro
