#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace parlaro::sys {

// The cycle logic of a far-end capture, apart from the server: each member
// (a stream some other program plays) fills a ring with the sound the server
// hands over, and a clock on the monotonic time line says when a cycle of
// the mix falls due. Both the clock and the sound run late when the process
// does (they share one loop thread), and the server's sound comes in bursts,
// so the mixer never trades sound for punctuality:
// - a cycle falls due at a fixed instant (start + n cycles); a cycle that
//   went out late does not move the next one, so the cycles owed after a
//   stall go out back to back until the clock has caught up;
// - a cycle that falls due while a playing member has less than a cycle
//   waits up to `holdCycles` (from when the wait began, since after a stall
//   the sound arrives just after the clock wakes) for the rest of that
//   sound rather than play a gap into the middle of it;
// - a member plays once `primeCycles` wait, and after running dry (a stream
//   that paused or stopped) it waits again;
// - when every playing member holds more than `highCycles` (their clock runs
//   ahead of ours), a cycle goes out early, so the delay stays bounded with
//   nothing lost;
// - the backlog is bounded by `backlogMicros`: a ring keeps that much sound
//   and drops the oldest beyond it, and a clock further behind than that
//   while nothing plays skips the silence it owes beyond it. Both are
//   counted (droppedFrames(), skippedFrames()), for the caller to report off
//   the real-time path.
// Times are monotonic microseconds. Joining and leaving allocate; write()
// and pull() never do. One thread at a time (the stream loop's).
class PulseTapMixer {
public:
    static constexpr std::uint32_t rate = 48000;
    static constexpr std::uint32_t channels = 2;
    static constexpr std::size_t primeCycles = 2;
    static constexpr std::size_t holdCycles = 4;
    static constexpr std::size_t highCycles = 8;
    static constexpr std::uint64_t backlogMicros = 1'000'000;

    struct Member {
        std::vector<float> ring;
        std::size_t read = 0;  // floats, monotonic
        std::size_t written = 0;
        bool primed = false;
        std::size_t available() const { return written - read; }
    };

    explicit PulseTapMixer(std::uint32_t frames);

    std::uint32_t frames() const { return frames_; }
    // Starts the clock: the first cycle falls due a cycle after `now`.
    void start(std::uint64_t nowMicros) noexcept;

    Member& join();
    void leave(const Member& member);
    std::size_t memberCount() const { return members_.size(); }

    // Sound the server handed over for a member; null samples are silence.
    void write(Member& member, const float* samples, std::size_t floats) noexcept;

    // Whether a cycle goes out at `now`; when it does, it is in mix() with
    // its time stamps below.
    bool pull(std::uint64_t nowMicros) noexcept;
    std::span<float> mix() { return mix_; }
    // The mixed cycle's first frame: its sample time and when it was played
    // (the clock's time for it; a cycle that went out early follows the one
    // before, never later than a period before the pull).
    double sampleTime() const { return sampleTime_; }
    std::uint64_t startMicros() const { return startMicros_; }
    // When pull() may next give a cycle if no more sound comes.
    std::uint64_t wakeMicros() const noexcept;

    std::uint64_t droppedFrames() const { return dropped_.load(std::memory_order_relaxed); }
    std::uint64_t skippedFrames() const { return skipped_.load(std::memory_order_relaxed); }

private:
    std::uint64_t due(std::uint64_t cycle) const noexcept;
    bool waitingForSound() const noexcept;
    bool playing() const noexcept;
    bool backlogged() const noexcept;
    void mixCycle() noexcept;

    std::uint32_t frames_;
    std::vector<float> mix_;
    std::vector<std::unique_ptr<Member>> members_;
    std::uint64_t origin_ = 0;
    // Cycles of the clock gone by.
    std::uint64_t ticks_ = 0;
    // When a due cycle began waiting for a member's sound; 0 when none.
    std::uint64_t holdSince_ = 0;
    double sample_ = 0;
    double sampleTime_ = 0;
    std::uint64_t startMicros_ = 0;
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> skipped_{0};
};

}  // namespace parlaro::sys
