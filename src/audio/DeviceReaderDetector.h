#pragma once

#include "audio/ReaderDetecting.h"
#include "platform/AudioSystem.h"
#include "runtime/Time.h"

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace parlaro {

// Lists the processes doing audio from the process objects the audio system
// publishes, keeps the list for 0.1 s, and reports every change of the
// process list or of one process's running state or devices. Main actor only.
class DeviceReaderDetector final : public ReaderDetecting, public std::enable_shared_from_this<DeviceReaderDetector> {
public:
    struct Snapshot {
        rt::Instant time;
        std::vector<AudioClient> clients;
    };

    static constexpr double snapshotLifetime = 0.1;

    // The process-wide detector, made on first use.
    static DeviceReaderDetector& shared();
    // A detector of its own, for tests.
    static std::shared_ptr<DeviceReaderDetector> make();
    ~DeviceReaderDetector() override;

    // Nothing at all when the system has no process list; otherwise restarts
    // the watch with this callback.
    void start(std::function<void()> onChange) override;
    // Removes every registration; the callback stays stored.
    void stop();
    // None when the system has no process list.
    std::optional<std::vector<AudioClient>> clients() override;
    // Clears the detector's snapshot, then runs `then`.
    static void invalidate(const std::function<void()>& then, DeviceReaderDetector& detector);

    bool isStarted() const { return listener_.has_value(); }
    std::size_t watchedProcesses() const { return watched_.size(); }
    const std::optional<Snapshot>& snapshot() const { return snapshot_; }
    void clearSnapshot() { snapshot_.reset(); }

private:
    DeviceReaderDetector() = default;
    void synchronizeWatched();
    void changed();

    AudioObjectId system_ = audioSystemObject;
    std::map<AudioObjectId, std::vector<AudioListenerToken>> watched_;
    std::function<void()> onChange_;
    std::optional<AudioListenerToken> listener_;
    AudioPropertyListener callback_;
    std::optional<Snapshot> snapshot_;
};

// True when a process other than this one and the program's own lists the
// device among its input or output devices, running or not; true as well
// when the system offers no process list.
bool isDeviceUsedByOtherProcesses(AudioObjectId device, DeviceReaderDetector& detector);

}  // namespace parlaro
