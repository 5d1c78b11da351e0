#include "platform/sim/SimGlobalKeys.h"

#include "runtime/Runtime.h"

#include <algorithm>

namespace parlaro::sim {

void SimGlobalKeys::setHandlers(Handlers handlers)
{
    handlers_ = std::move(handlers);
}

bool SimGlobalKeys::registerCombination(std::uint32_t keyCode, std::uint32_t modifiers)
{
    calls.push_back("register " + std::to_string(keyCode) + " " + std::to_string(modifiers));
    registered_ = !refuseRegistration && hasListenAccess;
    return registered_;
}

void SimGlobalKeys::unregisterCombination()
{
    calls.push_back("unregister");
    registered_ = false;
}

bool SimGlobalKeys::listenAccess() const
{
    return hasListenAccess;
}

void SimGlobalKeys::requestListenAccess()
{
    calls.push_back("request");
}

bool SimGlobalKeys::startModifierWatch()
{
    calls.push_back("startModifierWatch");
    modifierWatch_ = !refuseModifierWatch;
    return modifierWatch_;
}

void SimGlobalKeys::stopModifierWatch()
{
    calls.push_back("stopModifierWatch");
    modifierWatch_ = false;
}

void SimGlobalKeys::reenableModifierWatch()
{
    calls.push_back("reenable");
}

bool SimGlobalKeys::startKeyWatch()
{
    calls.push_back("startKeyWatch");
    keyWatch_ = !refuseKeyWatch;
    return keyWatch_;
}

void SimGlobalKeys::stopKeyWatch()
{
    calls.push_back("stopKeyWatch");
    keyWatch_ = false;
}

std::optional<std::string> SimGlobalKeys::keyCharacter(std::uint32_t keyCode) const
{
    auto found = characters.find(keyCode);
    if (found == characters.end())
        return std::nullopt;
    return found->second;
}

int SimGlobalKeys::count(const std::string& call) const
{
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

void SimGlobalKeys::hotKey(bool pressed)
{
    rt::mainExecutor().post([this, pressed] {
        if (handlers_.hotKey)
            handlers_.hotKey(pressed);
    });
}

void SimGlobalKeys::tap(std::uint32_t type, std::uint16_t keyCode, std::uint64_t flags)
{
    rt::mainExecutor().post([this, type, keyCode, flags] {
        if (handlers_.tap)
            handlers_.tap(type, keyCode, flags);
    });
}

void SimGlobalKeys::accessChanged()
{
    rt::mainExecutor().post([this] {
        if (handlers_.accessChanged)
            handlers_.accessChanged();
    });
}

}  // namespace parlaro::sim
