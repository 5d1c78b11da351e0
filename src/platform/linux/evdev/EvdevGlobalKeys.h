#pragma once

#include "platform/GlobalKeys.h"
#include "platform/linux/evdev/EvdevKeyDecoder.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace parlaro::sys {

class XkbKeymap;

// Global keys read straight from the keyboards under /dev/input, where the
// display server gives no client a global view (Wayland). Listen only: the
// devices are never grabbed, so the keys also reach the focused window. A
// reader thread runs only while something is registered or watched, notices
// keyboards coming and going, and posts what it reads to the main executor.
class EvdevGlobalKeys : public GlobalKeys {
public:
    explicit EvdevGlobalKeys(std::filesystem::path folder = "/dev/input");
    ~EvdevGlobalKeys() override;

    void setHandlers(Handlers handlers) override;
    bool registerCombination(std::uint32_t keyCode, std::uint32_t modifiers) override;
    void unregisterCombination() override;
    // True when at least one keyboard can be read.
    bool listenAccess() const override;
    void requestListenAccess() override {}
    bool startModifierWatch() override;
    void stopModifierWatch() override;
    void reenableModifierWatch() override {}
    bool startKeyWatch() override;
    void stopKeyWatch() override;
    std::optional<std::string> keyCharacter(std::uint32_t keyCode) const override;

private:
    struct Device {
        int fd;
        int id;
        std::string path;
    };

    void updateReader();
    void read(std::uint64_t generation);
    void rescan(std::vector<Device>& devices, int& nextId) const;
    void deliver(const std::vector<EvdevKeyDecoder::Output>& outputs);

    std::filesystem::path folder_;
    std::unique_ptr<XkbKeymap> keymap_;
    Handlers handlers_;
    EvdevKeyDecoder decoder_;
    std::shared_ptr<EvdevGlobalKeys*> self_;
    // Bumped each time the reader stops, so events it posted before that
    // are dropped instead of marking keys held that nobody will release.
    std::uint64_t readerGeneration_ = 0;

    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread reader_;
};

}  // namespace parlaro::sys
