#include "platform/sim/SimResourceBundles.h"

namespace parlaro::sim {

SimResourceBundles::SimResourceBundles(std::map<std::string, StringTable> tables)
    : tables_(tables.begin(), tables.end())
{
}

void SimResourceBundles::setTable(std::string code, StringTable table)
{
    std::lock_guard lock(mutex_);
    tables_.insert_or_assign(std::move(code), std::move(table));
}

void SimResourceBundles::removeTable(std::string_view code)
{
    std::lock_guard lock(mutex_);
    if (auto found = tables_.find(code); found != tables_.end()) {
        tables_.erase(found);
    }
}

std::vector<std::string> SimResourceBundles::localizations() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> codes;
    for (const auto& entry : tables_) {
        if (isPlainCode(entry.first)) {
            codes.push_back(entry.first);
        }
    }
    return codes;
}

std::shared_ptr<const StringTable> SimResourceBundles::openTable(std::string_view code) const
{
    if (!isPlainCode(code)) {
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    auto found = tables_.find(code);
    if (found == tables_.end()) {
        return nullptr;
    }
    return std::make_shared<const StringTable>(found->second);
}

}  // namespace parlaro::sim
