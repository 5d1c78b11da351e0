#include "platform/linux/evdev/EvdevGlobalKeys.h"

#include "platform/KeyCodes.h"
#include "platform/linux/xkb/XkbKeymap.h"
#include "runtime/Runtime.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <pthread.h>

namespace parlaro::sys {
namespace {

bool testBit(const std::array<unsigned char, KEY_MAX / 8 + 1>& bits, int bit)
{
    return (bits[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1;
}

bool isEventNode(const std::filesystem::path& path)
{
    return path.filename().string().rfind("event", 0) == 0;
}

}  // namespace

EvdevGlobalKeys::EvdevGlobalKeys(std::filesystem::path folder, Opener opener)
    : folder_(std::move(folder)), opener_(opener ? std::move(opener) : Opener([](const std::filesystem::path& path) {
          return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      })),
      keymap_(XkbKeymap::fromDefaults()), self_(std::make_shared<EvdevGlobalKeys*>(this))
{
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

EvdevGlobalKeys::~EvdevGlobalKeys()
{
    *self_ = nullptr;
    decoder_.setCombination(std::nullopt);
    decoder_.setModifierWatch(false);
    updateReader();
    ::close(wakeFd_);
}

void EvdevGlobalKeys::setHandlers(Handlers handlers)
{
    handlers_ = std::move(handlers);
}

// An open keyboard (letters and a space bar), or -1 with errno as the open
// left it (0 when the node opened but is no keyboard).
int EvdevGlobalKeys::openKeyboard(const std::filesystem::path& path) const
{
    int fd = opener_(path);
    if (fd < 0)
        return -1;
    std::array<unsigned char, KEY_MAX / 8 + 1> keys{};
    if (ioctl(fd, EVIOCGBIT(EV_KEY, keys.size()), keys.data()) < 0 || !testBit(keys, KEY_A)
        || !testBit(keys, KEY_SPACE)) {
        ::close(fd);
        errno = 0;
        return -1;
    }
    return fd;
}

EvdevGlobalKeys::Access EvdevGlobalKeys::access() const
{
    bool unreadable = false;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder_, error), end; !error && entry != end;
         entry.increment(error)) {
        if (!isEventNode(entry->path()))
            continue;
        int fd = openKeyboard(entry->path());
        if (fd >= 0) {
            ::close(fd);
            return Access::readable;
        }
        if (errno == EACCES || errno == EPERM)
            unreadable = true;
    }
    // A folder this account may not even list hides its keyboards too.
    if (error == std::errc::permission_denied)
        unreadable = true;
    return unreadable ? Access::unreadable : Access::absent;
}

bool EvdevGlobalKeys::listenAccess() const
{
    return access() == Access::readable;
}

GlobalKeys::Obstacle EvdevGlobalKeys::obstacle() const
{
    switch (access()) {
    case Access::readable:
        return Obstacle::none;
    case Access::unreadable:
        return Obstacle::keyboardsUnreadable;
    case Access::absent:
        break;
    }
    return Obstacle::noKeyboards;
}

bool EvdevGlobalKeys::registerCombination(std::uint32_t keyCode, std::uint32_t modifiers)
{
    auto evdev = keycodes::toEvdev(keyCode);
    if (!evdev || !listenAccess())
        return false;
    decoder_.setCombination(evdev, modifiers);
    updateReader();
    return true;
}

void EvdevGlobalKeys::unregisterCombination()
{
    decoder_.setCombination(std::nullopt);
    updateReader();
}

bool EvdevGlobalKeys::startModifierWatch()
{
    if (!listenAccess())
        return false;
    decoder_.setModifierWatch(true);
    updateReader();
    return true;
}

void EvdevGlobalKeys::stopModifierWatch()
{
    decoder_.setModifierWatch(false);
    decoder_.setKeyWatch(false);
    updateReader();
}

bool EvdevGlobalKeys::startKeyWatch()
{
    decoder_.setKeyWatch(true);
    return true;
}

void EvdevGlobalKeys::stopKeyWatch()
{
    decoder_.setKeyWatch(false);
}

std::optional<std::string> EvdevGlobalKeys::keyCharacter(std::uint32_t keyCode) const
{
    return keymap_->character(keyCode);
}

void EvdevGlobalKeys::updateReader()
{
    bool wanted = decoder_.listening();
    if (wanted && !reader_.joinable()) {
        stopping_ = false;
        reader_ = std::thread([this, generation = readerGeneration_] { read(generation); });
    } else if (!wanted && reader_.joinable()) {
        stopping_ = true;
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
        reader_.join();
        std::uint64_t count = 0;
        [[maybe_unused]] auto drained = ::read(wakeFd_, &count, sizeof count);
        ++readerGeneration_;
        decoder_.forgetKeys();
    }
}

void EvdevGlobalKeys::rescan(std::vector<Device>& devices, int& nextId) const
{
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder_, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string path = entry->path().string();
        if (!isEventNode(entry->path())
            || std::any_of(devices.begin(), devices.end(), [&](const Device& d) { return d.path == path; }))
            continue;
        int fd = openKeyboard(entry->path());
        if (fd >= 0)
            devices.push_back({fd, nextId++, path});
    }
}

void EvdevGlobalKeys::deliver(const std::vector<EvdevKeyDecoder::Output>& outputs)
{
    for (const auto& output : outputs) {
        if (output.kind == EvdevKeyDecoder::Output::Kind::hotKey) {
            if (handlers_.hotKey)
                handlers_.hotKey(output.pressed);
        } else if (handlers_.tap) {
            handlers_.tap(output.type, output.keyCode, output.flags);
        }
    }
}

void EvdevGlobalKeys::read(std::uint64_t generation)
{
    pthread_setname_np(pthread_self(), "evdev-keys");
    std::vector<Device> devices;
    int nextId = 0;
    int notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify >= 0)
        inotify_add_watch(notify, folder_.c_str(), IN_CREATE | IN_ATTRIB);
    rescan(devices, nextId);
    std::weak_ptr<EvdevGlobalKeys*> weak = self_;
    auto post = [weak, generation](std::function<void(EvdevGlobalKeys&)> job) {
        rt::mainExecutor().post([weak, generation, job = std::move(job)] {
            if (auto self = weak.lock(); self && *self && (*self)->readerGeneration_ == generation)
                job(**self);
        });
    };

    while (!stopping_) {
        std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}, {notify, POLLIN, 0}};
        for (const Device& device : devices)
            fds.push_back({device.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (stopping_)
            break;
        bool changed = false;
        if (notify >= 0 && (fds[1].revents & POLLIN)) {
            std::array<char, 4096> buffer;
            while (::read(notify, buffer.data(), buffer.size()) > 0) {}
            changed = true;
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Device& device = devices[i - 2];
            std::array<input_event, 64> events;
            ssize_t got;
            std::vector<std::array<std::int32_t, 3>> batch;
            while ((got = ::read(device.fd, events.data(), sizeof events)) > 0) {
                for (std::size_t e = 0; e < static_cast<std::size_t>(got) / sizeof(input_event); ++e)
                    if (events[e].type == EV_KEY)
                        batch.push_back({events[e].type, events[e].code, events[e].value});
            }
            bool gone = got < 0 && errno != EAGAIN;
            int id = device.id;
            if (!batch.empty())
                post([id, batch](EvdevGlobalKeys& self) {
                    for (const auto& [type, code, value] : batch)
                        self.deliver(self.decoder_.feed(id, static_cast<std::uint16_t>(type),
                                                        static_cast<std::uint16_t>(code), value));
                });
            if (gone) {
                ::close(device.fd);
                device.fd = -1;
                post([id](EvdevGlobalKeys& self) { self.deliver(self.decoder_.deviceLost(id)); });
                changed = true;
            }
        }
        if (changed) {
            std::erase_if(devices, [](const Device& d) { return d.fd < 0; });
            rescan(devices, nextId);
        }
    }
    for (const Device& device : devices)
        ::close(device.fd);
    if (notify >= 0)
        ::close(notify);
}

}  // namespace parlaro::sys
