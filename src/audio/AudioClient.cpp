#include "audio/AudioClient.h"

#include <algorithm>

namespace parlaro {

namespace {
bool lists(const std::vector<AudioObjectId>& devices, AudioObjectId device)
{
    return std::find(devices.begin(), devices.end(), device) != devices.end();
}
}  // namespace

bool AudioClient::isForeign() const
{
    if (!bundleID || !bundleID->starts_with(ownApplicationID))
        return true;
    const std::size_t length = std::char_traits<char>::length(ownApplicationID);
    return bundleID->size() != length && (*bundleID)[length] != '.';
}

std::vector<AudioClient> outputClients(const std::vector<AudioClient>& clients, AudioObjectId device,
                                       const std::set<std::int32_t>& excluding)
{
    std::vector<AudioClient> playing;
    for (const AudioClient& client : clients)
        if (client.runningOutput && lists(client.outputDevices, device) && !excluding.contains(client.pid)
            && client.isForeign())
            playing.push_back(client);
    return playing;
}

CallMicrophoneRoute microphoneRoute(const std::vector<AudioClient>& clients, std::optional<AudioObjectId> device,
                                    std::int32_t excludingPID)
{
    if (!device)
        return CallMicrophoneRoute::idle;
    for (const AudioClient& client : clients)
        if (client.runningInput && !client.inputDevices.empty() && client.pid != excludingPID && client.isForeign()
            && lists(client.inputDevices, *device))
            return CallMicrophoneRoute::connected;
    return CallMicrophoneRoute::idle;
}

CallMicrophoneRoute otherInputClients(const std::vector<AudioClient>& clients, std::optional<AudioObjectId> device,
                                      std::int32_t excludingPID)
{
    return microphoneRoute(clients, device, excludingPID);
}

}  // namespace parlaro
