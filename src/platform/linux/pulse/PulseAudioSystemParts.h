#pragma once

// The pieces of PulseAudioSystem that its source files share and nobody
// else sees.

#include "platform/linux/pulse/PulseAudioSystem.h"
#include "platform/linux/pulse/PulseDeviceIO.h"
#include "platform/linux/pulse/PulseTapIO.h"

#include <map>
#include <memory>
#include <mutex>
#include <span>

namespace parlaro::sys {

// One listener registration. `call` and `end` share a lock, so once `end`
// has returned on another thread the listener is not running and never
// runs again; a listener may end its own registration.
struct PulseAudioSystem::Registration {
    AudioObjectId object = 0;
    AudioPropertyAddress address;
    AudioCallbackQueue queue;
    AudioPropertyListener listener;
    std::recursive_mutex mutex;
    bool alive = true;

    void call(const AudioPropertyAddress& changed)
    {
        std::lock_guard lock(mutex);
        if (alive)
            listener(std::span<const AudioPropertyAddress>(&changed, 1));
    }
    void end()
    {
        std::lock_guard lock(mutex);
        alive = false;
    }
};

struct PulseAudioSystem::ListenerTable {
    std::mutex mutex;
    std::multimap<std::pair<AudioObjectId, AudioPropertyAddress>, std::shared_ptr<Registration>> entries;
};

struct PulseAudioSystem::Proc {
    AudioObjectId device = 0;
    AudioIOProc proc = nullptr;
    void* context = nullptr;
    bool inputOn = true;
    bool outputOn = true;
    bool started = false;
    std::unique_ptr<PulseDeviceIO> io;
    std::unique_ptr<PulseTapIO> tap;

    // Under the stream loop's lock: ends its streams.
    void stopStreams()
    {
        if (io)
            io->stop();
        if (tap)
            tap->stop();
    }
};

}  // namespace parlaro::sys
