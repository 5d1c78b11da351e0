#include "platform/ProgramFolder.h"

#include "runtime/Log.h"

#include <system_error>

namespace parlaro {

namespace fs = std::filesystem;

fs::path programFolder(const fs::path& base)
{
    return programFolder(
        base, [](const fs::path& from, const fs::path& to, std::error_code& error) { fs::rename(from, to, error); });
}

fs::path programFolder(const fs::path& base, const FolderRename& rename)
{
    const fs::path current = base / programFolderName;
    const fs::path legacy = base / legacyProgramFolderName;
    std::error_code error;
    // Anything at the new name, even a dangling link, is the user's: it is
    // used, never replaced.
    if (fs::symlink_status(current, error).type() != fs::file_type::not_found || !fs::is_directory(legacy, error))
        return current;
    rename(legacy, current, error);
    if (!error)
        return current;
    rt::logMessage("Parlaro: could not move " + legacy.string() + " to " + current.string() + " (" + error.message()
                   + "); its files stay there and are used from there.");
    return legacy;
}

}  // namespace parlaro
