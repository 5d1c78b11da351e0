#include "platform/linux/espeak/VoiceWire.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace parlaro::sys::voicewire {

namespace {

bool sendAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= std::size_t(sent);
    }
    return true;
}

bool receiveAll(int fd, char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t got = ::read(fd, data, size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= std::size_t(got);
    }
    return true;
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

std::optional<Message> receive(int fd)
{
    char header[5];
    if (!receiveAll(fd, header, sizeof header)) {
        return std::nullopt;
    }
    std::uint32_t size = 0;
    std::memcpy(&size, header + 1, sizeof size);
    if (size > maxPayload) {
        return std::nullopt;
    }
    Message message{static_cast<Kind>(static_cast<std::uint8_t>(header[0])), std::string(size, '\0')};
    if (!receiveAll(fd, message.payload.data(), size)) {
        return std::nullopt;
    }
    return message;
}

}  // namespace parlaro::sys::voicewire
