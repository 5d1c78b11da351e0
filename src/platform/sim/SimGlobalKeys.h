#pragma once

#include "platform/GlobalKeys.h"

#include <map>
#include <string>
#include <vector>

namespace parlaro::sim {

// Global keys for tests: records each call, refuses any step on demand and
// delivers injected events through the main executor.
class SimGlobalKeys : public GlobalKeys {
public:
    void setHandlers(Handlers handlers) override;
    bool registerCombination(std::uint32_t keyCode, std::uint32_t modifiers) override;
    void unregisterCombination() override;
    bool listenAccess() const override;
    void requestListenAccess() override;
    bool startModifierWatch() override;
    void stopModifierWatch() override;
    void reenableModifierWatch() override;
    bool startKeyWatch() override;
    void stopKeyWatch() override;
    std::optional<std::string> keyCharacter(std::uint32_t keyCode) const override;
    Method method() const override { return keysMethod; }
    Obstacle obstacle() const override { return keysObstacle; }

    // Each call as a line: "register 49 2048", "unregister", "request",
    // "startModifierWatch", "stopModifierWatch", "reenable", "startKeyWatch",
    // "stopKeyWatch".
    std::vector<std::string> calls;
    bool refuseRegistration = false;
    bool hasListenAccess = true;
    bool refuseModifierWatch = false;
    bool refuseKeyWatch = false;
    std::map<std::uint32_t, std::string> characters;
    Method keysMethod = Method::displayServer;
    Obstacle keysObstacle = Obstacle::none;

    bool combinationRegistered() const { return registered_; }
    bool modifierWatchRunning() const { return modifierWatch_; }
    bool keyWatchRunning() const { return keyWatch_; }
    int count(const std::string& call) const;

    // Posted to the main executor, as a backend's reader does.
    void hotKey(bool pressed);
    void tap(std::uint32_t type, std::uint16_t keyCode, std::uint64_t flags);
    // Tells the handlers, as a backend whose access changed does.
    void accessChanged();

private:
    Handlers handlers_;
    bool registered_ = false;
    bool modifierWatch_ = false;
    bool keyWatch_ = false;
};

}  // namespace parlaro::sim
