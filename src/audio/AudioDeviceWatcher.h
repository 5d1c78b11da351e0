#pragma once

#include "audio/AudioDevice.h"
#include "platform/AudioSystem.h"
#include "runtime/SerialQueue.h"
#include "runtime/Time.h"

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace parlaro {

// Watches the device list and the two system defaults. A burst of changes
// within 0.3 s gives one read of the list, on the watcher's own queue, and one
// delivery on the main actor with the continuous-clock instant just before
// the read.
class AudioDeviceWatcher : public std::enable_shared_from_this<AudioDeviceWatcher> {
public:
    using List = std::function<std::vector<AudioDevice>()>;
    using OnChange = std::function<void(std::vector<AudioDevice> devices, rt::Instant instant)>;

    static constexpr const char* queueLabel = "com.parlaro.device-watch";
    static constexpr double debounceSeconds = 0.3;
    static constexpr std::array<AudioSelector, 3> selectors{AudioSelectors::devices, AudioSelectors::defaultInputDevice,
                                                            AudioSelectors::defaultOutputDevice};

    static std::shared_ptr<AudioDeviceWatcher> make(List list, OnChange onChange);
    ~AudioDeviceWatcher();
    AudioDeviceWatcher(const AudioDeviceWatcher&) = delete;
    AudioDeviceWatcher& operator=(const AudioDeviceWatcher&) = delete;

    // Watching already: nothing happens.
    void start();
    // Removes exactly the registrations start() added. A delivery already
    // scheduled still arrives.
    void stop();
    bool isWatching() const { return listening_; }
    const std::shared_ptr<rt::SerialQueue>& queue() const { return queue_; }

private:
    AudioDeviceWatcher(List list, OnChange onChange);
    void changed();

    List list_;
    OnChange onChange_;
    std::shared_ptr<rt::SerialQueue> queue_;
    bool listening_ = false;
    std::vector<AudioListenerToken> registrations_;
    // Touched only on queue_.
    bool pending_ = false;
};

}  // namespace parlaro
