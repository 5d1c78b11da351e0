#pragma once

#include "platform/GlobalKeys.h"

namespace parlaro {

// Where no way to read keys exists: every registration and watch is refused
// and keys are named by their codes.
class UnavailableGlobalKeys : public GlobalKeys {
public:
    void setHandlers(Handlers) override {}
    bool registerCombination(std::uint32_t, std::uint32_t) override { return false; }
    void unregisterCombination() override {}
    bool listenAccess() const override { return false; }
    void requestListenAccess() override {}
    bool startModifierWatch() override { return false; }
    void stopModifierWatch() override {}
    void reenableModifierWatch() override {}
    bool startKeyWatch() override { return false; }
    void stopKeyWatch() override {}
    std::optional<std::string> keyCharacter(std::uint32_t) const override { return std::nullopt; }
};

}  // namespace parlaro
