#pragma once

#include "platform/GlobalKeys.h"
#include "platform/linux/evdev/EvdevKeyDecoder.h"

#include <atomic>
#include <filesystem>
#include <functional>
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
    // Opens a device node read-only and non-blocking: a descriptor, or -1
    // with errno set, as open(2).
    using Opener = std::function<int(const std::filesystem::path&)>;

    explicit EvdevGlobalKeys(std::filesystem::path folder = "/dev/input", Opener opener = {});
    ~EvdevGlobalKeys() override;

    void setHandlers(Handlers handlers) override;
    bool registerCombination(std::uint32_t keyCode, std::uint32_t modifiers) override;
    void unregisterCombination() override;
    // True when at least one keyboard can be read.
    bool listenAccess() const override;
    Method method() const override { return Method::inputDevices; }
    // Nodes this account may not open are taken for keyboards: what they
    // are cannot be asked without opening them, and on a desktop they
    // usually are. With none of those and no keyboard: noKeyboards.
    Obstacle obstacle() const override;
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

    enum class Access { readable, unreadable, absent };
    Access access() const;
    int openKeyboard(const std::filesystem::path& path) const;
    void updateReader();
    void read(std::uint64_t generation);
    void rescan(std::vector<Device>& devices, int& nextId) const;
    void deliver(const std::vector<EvdevKeyDecoder::Output>& outputs);

    std::filesystem::path folder_;
    Opener opener_;
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
