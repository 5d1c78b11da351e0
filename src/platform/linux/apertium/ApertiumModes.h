#pragma once

#include "platform/LanguageAvailability.h"
#include "platform/TextServices.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlaro::sys {

// One program of a translation pipeline with its arguments.
using ApertiumStage = std::vector<std::string>;

// Where a language pair stands on this computer, and what serves it.
struct ApertiumPair {
    LanguageAvailability::Status status = LanguageAvailability::Status::unsupported;
    std::string mode;     // the installed mode serving the pair, when installed
    std::string package;  // the Debian package providing the pair, when one is known
};

// The installed translation modes (one "<name>.mode" file per direction in
// the modes folder) and the Debian packages known to provide others.
class ApertiumModes {
public:
    static std::filesystem::path defaultFolder() { return "/usr/share/apertium/modes"; }

    ApertiumModes(const TextServices& text, std::filesystem::path folder = defaultFolder());

    // Installed when a mode for the pair is in the folder (one named for the
    // target's region first, "es-pt_BR", then the plain one), supported when
    // a known package would provide one, else unsupported.
    ApertiumPair resolve(const std::string& source, const std::string& target) const;

    // The stages of an installed mode, each started with its null-flush
    // option; nullopt when the mode cannot be read or has no stage.
    std::optional<std::vector<ApertiumStage>> stages(const std::string& mode) const;

    const std::filesystem::path& folder() const { return folder_; }

    // The stages of a mode file's pipeline. The generation option ($1) asks
    // for output without unknown-word marks; the tagger option ($2) is left
    // out; "-z" follows every program name.
    static std::vector<ApertiumStage> parseMode(std::string_view text);

private:
    std::vector<std::string> candidates(const std::string& source, const std::string& target) const;

    const TextServices& text_;
    std::filesystem::path folder_;
};

}  // namespace parlaro::sys
