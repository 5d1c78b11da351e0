#pragma once

#include "platform/ProcessActivity.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace parlaro::sys {

// Keeps the session from idling by holding a login-manager idle inhibitor
// while any activity lasts. The inhibitor is held by a helper process
// (systemd-inhibit, running a command that waits for its standard input to
// close), so no bus library is needed and the inhibitor ends with the pipe
// even when this process dies. Where the helper is missing or the login
// manager cannot be reached, activities are recorded and nothing else
// happens: the machine may then idle as it would anyway.
class IdleInhibitorActivity final : public ProcessActivity {
public:
    // The helper's command line for the first activity's reason. It must
    // hold the inhibitor until its standard input reaches end of file.
    using Command = std::function<std::vector<std::string>(const std::string& reason)>;
    static std::vector<std::string> systemdInhibit(const std::string& reason);

    explicit IdleInhibitorActivity(Command command = systemdInhibit);
    ~IdleInhibitorActivity() override;
    IdleInhibitorActivity(const IdleInhibitorActivity&) = delete;
    IdleInhibitorActivity& operator=(const IdleInhibitorActivity&) = delete;

    Token begin(const std::string& reason) override;

    // True while a helper was started and not yet ended.
    bool isHoldingHelper() const;
    std::size_t activeCount() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace parlaro::sys
