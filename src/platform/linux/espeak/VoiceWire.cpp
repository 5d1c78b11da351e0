#include "platform/linux/espeak/VoiceWire.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace parlaro::sys::voicewire {

namespace {

// Moves all `size` bytes through `step` (one send or read), across short
// transfers and interrupted calls; false when the other side has gone or a
// receive timed out.
template <typename Buffer, typename Step>
bool transferAll(Buffer* data, std::size_t size, Step step)
{
    while (size > 0) {
        const ssize_t moved = step(data, size);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved <= 0) {
            return false;
        }
        data += moved;
        size -= std::size_t(moved);
    }
    return true;
}

bool sendAll(int fd, const char* data, std::size_t size)
{
    return transferAll(data, size,
                       [fd](const char* at, std::size_t left) { return ::send(fd, at, left, MSG_NOSIGNAL); });
}

bool receiveAll(int fd, char* data, std::size_t size)
{
    return transferAll(data, size, [fd](char* at, std::size_t left) { return ::read(fd, at, left); });
}

}  // namespace

void Writer::u32(std::uint32_t value)
{
    bytes(&value, sizeof value);
}

void Writer::text(std::string_view value)
{
    u32(static_cast<std::uint32_t>(value.size()));
    bytes(value.data(), value.size());
}

void Writer::bytes(const void* data, std::size_t size)
{
    payload_.append(static_cast<const char*>(data), size);
}

bool Reader::u32(std::uint32_t& value)
{
    if (rest_.size() < sizeof value) {
        return false;
    }
    std::memcpy(&value, rest_.data(), sizeof value);
    rest_.remove_prefix(sizeof value);
    return true;
}

bool Reader::text(std::string& value)
{
    std::uint32_t size = 0;
    if (!u32(size) || rest_.size() < size) {
        return false;
    }
    value.assign(rest_.substr(0, size));
    rest_.remove_prefix(size);
    return true;
}

bool send(int fd, Kind kind, std::string_view payload)
{
    char header[5];
    header[0] = static_cast<char>(kind);
    const auto size = static_cast<std::uint32_t>(payload.size());
    std::memcpy(header + 1, &size, sizeof size);
    return sendAll(fd, header, sizeof header) && sendAll(fd, payload.data(), payload.size());
}

std::optional<Message> receive(int fd, std::uint32_t largest)
{
    char header[5];
    if (!receiveAll(fd, header, sizeof header)) {
        return std::nullopt;
    }
    std::uint32_t size = 0;
    std::memcpy(&size, header + 1, sizeof size);
    if (size > largest) {
        return std::nullopt;
    }
    Message message{static_cast<Kind>(static_cast<std::uint8_t>(header[0])), std::string(size, '\0')};
    if (!receiveAll(fd, message.payload.data(), size)) {
        return std::nullopt;
    }
    return message;
}

}  // namespace parlaro::sys::voicewire
