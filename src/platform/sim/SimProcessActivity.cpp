#include "platform/sim/SimProcessActivity.h"

#include <algorithm>

namespace parlaro::sim {

SimProcessActivity::SimProcessActivity() : record_(std::make_shared<Record>())
{
}

ProcessActivity::Token SimProcessActivity::begin(const std::string& reason)
{
    const std::uint64_t id = record_->next++;
    record_->events.push_back({Event::Kind::began, reason});
    record_->active.emplace_back(id, reason);
    std::weak_ptr<Record> weak = record_;
    return Token([weak, id] {
        auto record = weak.lock();
        if (!record)
            return;
        auto found = std::find_if(record->active.begin(), record->active.end(),
                                  [id](const auto& entry) { return entry.first == id; });
        if (found == record->active.end())
            return;
        record->events.push_back({Event::Kind::ended, found->second});
        record->active.erase(found);
    });
}

std::vector<SimProcessActivity::Event> SimProcessActivity::events() const
{
    return record_->events;
}

std::vector<std::string> SimProcessActivity::activeReasons() const
{
    std::vector<std::string> reasons;
    for (const auto& entry : record_->active)
        reasons.push_back(entry.second);
    return reasons;
}

}  // namespace parlaro::sim
