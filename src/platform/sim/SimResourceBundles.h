#pragma once

#include "platform/ResourceBundles.h"

#include <map>
#include <mutex>

namespace parlaro::sim {

// String tables set by the test.
class SimResourceBundles : public ResourceBundles {
public:
    SimResourceBundles() = default;
    explicit SimResourceBundles(std::map<std::string, StringTable> tables);

    void setTable(std::string code, StringTable table);
    void removeTable(std::string_view code);

    std::vector<std::string> localizations() const override;
    std::shared_ptr<const StringTable> openTable(std::string_view code) const override;

private:
    mutable std::mutex mutex_;
    std::map<std::string, StringTable, std::less<>> tables_;
};

}  // namespace parlaro::sim
