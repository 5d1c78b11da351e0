#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace parlaro::sys::voicewire {

// What the program and its voice process say to each other over a stream
// socket: a kind byte, a 32-bit length, then that many bytes.
enum Kind : std::uint8_t {
    // To the voice process.
    listVoices = 'L',  // (language, sentence) pairs, the reading checks
    render = 'R',      // words per minute, voice name (empty: the default), text
    cancel = 'C',      // the render under way, if any
    // From it.
    hello = 'H',   // the sample rate, 0 when the engine has no data
    voices = 'V',  // count, then (identifier, name, language, system) each
    audio = 'A',   // 16-bit samples
    end = 'E',     // the render ended
};

struct Message {
    Kind kind{};
    std::string payload;
};

// Builds and takes apart payloads; a reader past the end reports failure.
class Writer {
public:
    void u32(std::uint32_t value);
    void text(std::string_view value);
    void bytes(const void* data, std::size_t size);
    const std::string& payload() const { return payload_; }

private:
    std::string payload_;
};

class Reader {
public:
    explicit Reader(std::string_view payload) : rest_(payload) {}
    bool u32(std::uint32_t& value);
    bool text(std::string& value);
    std::string_view rest() const { return rest_; }

private:
    std::string_view rest_;
};

// Marks the second entry of a voice that serves a second locale
// ("<voice>#zh-TW"): the engine knows the voice by what stands before it.
constexpr char localeSuffix = '#';

// The largest message each side takes; one larger is malformed. The
// program's texts may be long. What the voice process says (a piece of
// sound of a fraction of a second, the list of voices) is far smaller, and
// a process gone wrong must not make the program allocate more.
constexpr std::uint32_t largestRequest = 64u << 20;
constexpr std::uint32_t largestReply = 1u << 20;

// Whole messages; false when the other side has gone. Never raises SIGPIPE.
bool send(int fd, Kind kind, std::string_view payload = {});
// Blocks until a whole message is in; none at the end of the stream or on a
// malformed one, or one larger than `largest`.
std::optional<Message> receive(int fd, std::uint32_t largest);

}  // namespace parlaro::sys::voicewire
