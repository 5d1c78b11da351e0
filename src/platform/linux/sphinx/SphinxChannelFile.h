#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {
struct FilePlace;
}

namespace parlaro::sys {

// What a decoder learnt about the channel of one input: the mean of the
// cepstra it heard (what it normalises by) and how many frames that mean
// stands for; and how the input sounds, which the pauses between words do
// not move as they move the mean: the level of its loudest frames and the
// shape of its speech (the first number, then the other cepstra of its
// speech frames), none where that is not known.
struct ChannelMean {
    std::vector<float> mean;
    std::int32_t frames = 0;
    std::vector<float> sound;

    bool operator==(const ChannelMean&) const = default;
};

// What the decoders learnt about each input, kept between runs in a small
// file of the program's state folder, so that the first utterance of a run
// is heard with the channel of the microphone it comes from rather than the
// model's default. One entry per model and input, the most recently heard
// last; the oldest go beyond `inputsPerModel`.
//
// The file is a cache: one that was written by something else or holds
// values no decoder could have learnt is ignored (entry by entry where the
// rest is sound) and written over, and a failed write costs only the next
// run's first utterance; the first failure is said once on standard error.
// A link at the path is neither read nor written through: what it leads to
// may be anyone's, and the next write replaces the link.
// One that cannot be read is kept and the user told once (a note, see
// takeEarlierEntryNotes()): damaged contents (not JSON, larger than
// sizeLimit) are moved aside to "<file>.damaged" ("-2", "-3"... when that
// is taken) and the cache starts anew; anything else (a folder, a FIFO, no
// permission) stays where it is and is not written over. The file is read
// as the object is made. Thread-safe: every model's decoding thread shares
// it.
class SphinxChannelFile {
public:
    static constexpr std::size_t inputsPerModel = 16;
    // Larger than any file this program writes (16 inputs of 13 numbers):
    // anything bigger is not ours and is not read.
    static constexpr std::uintmax_t sizeLimit = 64 * 1024;

    // No file: nothing is kept between runs.
    explicit SphinxChannelFile(std::optional<std::filesystem::path> file);
    // Writes what was kept since the file was last written.
    ~SphinxChannelFile();
    SphinxChannelFile(const SphinxChannelFile&) = delete;
    SphinxChannelFile& operator=(const SphinxChannelFile&) = delete;

    // $XDG_STATE_HOME/parlaro/recognition-channels.json, or
    // ~/.local/state/... when that is not an absolute path; none when there
    // is no home either.
    static std::optional<std::filesystem::path> defaultPath(const std::optional<std::string>& stateHome,
                                                            const std::optional<std::string>& home);

    // The mean kept for the input under the model, when one of `length`
    // numbers is.
    std::optional<ChannelMean> find(const std::string& model, const std::string& input, std::size_t length);
    // Keeps the mean as the input's newest. The file is written when the
    // input is new to it or its mean moved by more than `worthWriting` in a
    // number since it was written (a decoder's estimate settles, and every
    // sentence of a call would otherwise cost a write), else at the latest
    // when this object goes.
    static constexpr float worthWriting = 0.5f;
    void keep(const std::string& model, const std::string& input, const ChannelMean& mean);

private:
    struct Entry {
        std::string model;
        std::string input;
        ChannelMean mean;
        // What the file holds for it.
        ChannelMean written;
    };

    void load();
    void read();
    void write();
    void leaveInPlace(const std::string& reason);
    void setAside(const FilePlace& place, const std::string& reason);

    const std::optional<std::filesystem::path> file_;
    std::mutex mutex_;
    bool loaded_ = false;
    bool failureSaid_ = false;
    // What is at the path could not be read and must not be written over.
    bool leftInPlace_ = false;
    bool unwritten_ = false;
    // Oldest first.
    std::vector<Entry> entries_;
};

}  // namespace parlaro::sys
