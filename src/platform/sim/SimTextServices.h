#pragma once

#include "platform/TextServices.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace parlaro::sim {

// Real text services (ICU by default) with answers a test can pin: display
// names and likely subtags, looked up by the exact strings passed in.
// Pinned likely subtags also steer preferredLocalizations().
class SimTextServices : public TextServices {
public:
    SimTextServices();
    explicit SimTextServices(std::shared_ptr<const TextServices> base);

    void pinDisplayName(std::string tagOrLocale, std::string inLocale, std::string name);
    void pinMaximalIdentifier(std::string tag, std::string maximal);

    std::string maximalIdentifier(std::string_view tag) const override;
    std::string displayName(std::string_view tagOrLocale, std::string_view inLocale) const override;
    std::string listFormat(const std::vector<std::string>& items, std::string_view locale) const override;
    CharacterDirection characterDirection(std::string_view locale) const override;
    std::string transliterate(std::string_view text, std::string_view transformId) const override;
    std::size_t graphemeCount(std::string_view text) const override;
    std::string lowercase(std::string_view text, std::string_view locale) const override;

private:
    std::shared_ptr<const TextServices> base_;
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::string> displayNames_;
    std::map<std::string, std::string, std::less<>> maximalIdentifiers_;
};

}  // namespace parlaro::sim
