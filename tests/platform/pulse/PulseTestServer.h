#pragma once

#include "support/Patience.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace parlaro::test {

// The sound servers the backend is tested on; ctest runs the tests once
// per server, the server's folder saying which (PulseAudio unless it is
// the PipeWire fixture's).
enum class SoundServer { pulseaudio, pipewire };
SoundServer testSoundServer();
const char* soundServerName(SoundServer server);

// The private server the fixture runs: its folder, address and the script
// that starts and stops it.
std::string pulseTestDir();
inline std::string pulseTestServer()
{
    return "unix:" + pulseTestDir() + "/pulse/native";
}
std::string daemonScript();

// The programs that make the server under test; empty when all are there.
std::string missingServerProgram();

// Skips when the server's programs are missing; fails when the test would
// talk to any server but the fixture's, so a desktop server is never touched.
#define PARLARO_REQUIRE_TEST_SERVER()                                                                                  \
    do {                                                                                                               \
        if (const std::string missing = ::parlaro::test::missingServerProgram(); !missing.empty())                     \
            GTEST_SKIP() << missing << " is not installed; the backend is not tested on "                              \
                         << ::parlaro::test::soundServerName(::parlaro::test::testSoundServer());                      \
        const char* server = std::getenv("PULSE_SERVER");                                                              \
        ASSERT_TRUE(server&& ::parlaro::test::pulseTestServer() == server)                                             \
            << "refusing to run against " << (server ? server : "the default server")                                  \
            << "; the tests run only against " << ::parlaro::test::pulseTestServer();                                  \
    } while (0)

// Runs a shell command against the test server; its standard output.
std::string pactl(const std::string& arguments);

// A child process with its standard input or output on a pipe; killed and
// reaped when it goes.
class Child {
public:
    enum class Pipe { input, output };
    Child(const std::vector<std::string>& argv, Pipe pipe);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // Ends the child now; reads and writes fail from then on.
    void stop();
    // Reads exactly `count` floats (false at the end of the stream).
    bool read(float* data, std::size_t count);
    // Writes all of it (false when the child has gone).
    bool write(const float* data, std::size_t count);

private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

// The frequency of the strongest component between `low` and `high` Hz.
double measuredFrequency(const std::vector<float>& samples, double rate, double low = 300, double high = 600);
// Amplitude of the component at `frequency` (Goertzel).
double amplitudeAt(const std::vector<float>& samples, double rate, double frequency);

}  // namespace parlaro::test
