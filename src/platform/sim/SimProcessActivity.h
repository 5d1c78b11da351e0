#pragma once

#include "platform/ProcessActivity.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace parlaro::sim {

// Records every activity begun and ended, with its reason. Main actor only.
class SimProcessActivity final : public ProcessActivity {
public:
    struct Event {
        enum class Kind { began, ended };
        Kind kind = Kind::began;
        std::string reason;
        bool operator==(const Event&) const = default;
    };

    SimProcessActivity();

    Token begin(const std::string& reason) override;

    std::vector<Event> events() const;
    // The reasons of the activities begun and not yet ended, oldest first.
    std::vector<std::string> activeReasons() const;
    // True while any activity keeps the machine from idling.
    bool isPreventingIdle() const { return !activeReasons().empty(); }

private:
    struct Record {
        std::vector<Event> events;
        std::vector<std::pair<std::uint64_t, std::string>> active;
        std::uint64_t next = 1;
    };
    std::shared_ptr<Record> record_;
};

}  // namespace parlaro::sim
