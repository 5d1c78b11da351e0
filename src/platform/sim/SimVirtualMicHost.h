#pragma once

#include "platform/VirtualMicHost.h"

#include <mutex>

namespace parlaro::sim {

class SimAudioSystem;

// The sound server's modules in memory: the hash they carry (none: not
// loaded), the build's hash, and a failure the next ensure() reports. A
// successful ensure() loads them with the build's hash and, given an audio
// system, adds the virtual device when it is not there yet.
class SimVirtualMicHost final : public VirtualMicHost {
public:
    explicit SimVirtualMicHost(std::string builtInHash, SimAudioSystem* audio = nullptr);

    State state() const override;
    std::optional<std::string> ensure() override;

    void setLoadedHash(std::optional<std::string> hash);
    void failNextEnsure(std::string serverError);
    int ensureCount() const;

private:
    mutable std::mutex mutex_;
    std::string builtInHash_;
    SimAudioSystem* audio_;
    std::optional<std::string> loadedHash_;
    std::optional<std::string> failure_;
    int ensures_ = 0;
};

}  // namespace parlaro::sim
