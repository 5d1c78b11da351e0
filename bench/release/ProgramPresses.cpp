// From the release of a press to the first audible sample of its translated
// speech on the virtual microphone, pressed on the built program itself, as
// a user holds its shortcut: bench/program-presses.sh starts the program on
// a private X server and sound server with right Control as its hold
// shortcut and a 48 kHz microphone (the sink bench_voice) as the default
// input, then runs this beside it:
//   parlaro_program_presses <presses> [--pauses]
// It confirms the microphone check the program opens at its start (a click
// where PARLARO_BENCH_CONFIRM_AT="<x> <y>" says its button is, on the
// screen), reads the virtual microphone as the call
// application, and for each press holds right Control through XTest while
// pacat plays the reply into the microphone; the key goes up 0.3 s after
// the recording ends. Prints "press <n> <seconds>" per press, the first
// being the program's first. The program's own voice is on, as it turns it
// on at the microphone's confirmation: the reply's quiet reaches the virtual
// microphone too, its noise above -40 dBFS at times, so the translated
// speech is told by its first sample above -20 dBFS, a few milliseconds
// into its first sound. With no presses it only confirms the check. Every press speaks pocketsphinx's dense "go
// forward ten meters", or with --pauses the reply file PARLARO_BENCH_REPLY_FILE
// names (a 16-bit mono WAVE file). Ends with 1 when a press brought no speech.

#include "release/VirtualMicReader.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using namespace parlaro::bench;
using Clock = std::chrono::steady_clock;

namespace {

// X keycodes on the X server's default map.
constexpr std::uint8_t rightControl = 105;
// About -20 dBFS.
constexpr int loud = 3200;

class XKeys {
public:
    XKeys() : connection_(xcb_connect(nullptr, nullptr)) {}
    ~XKeys() { xcb_disconnect(connection_); }
    XKeys(const XKeys&) = delete;
    XKeys& operator=(const XKeys&) = delete;

    bool connected() const { return xcb_connection_has_error(connection_) == 0; }
    void down(std::uint8_t key) { fake(XCB_KEY_PRESS, key); }
    void up(std::uint8_t key) { fake(XCB_KEY_RELEASE, key); }
    void click(int x, int y)
    {
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen->root,
                            static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 0);
        fake(XCB_BUTTON_PRESS, 1);
        fake(XCB_BUTTON_RELEASE, 1);
    }

private:
    void fake(std::uint8_t type, std::uint8_t key)
    {
        xcb_test_fake_input(connection_, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        sync();
    }
    void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    xcb_connection_t* connection_;
};

void wait(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

}  // namespace

int main(int argc, char** argv)
{
    const int presses = argc > 1 ? std::max(0, std::atoi(argv[1])) : 10;
    const bool pauses = argc > 2 && std::strcmp(argv[2], "--pauses") == 0;
    const char* replyFile = std::getenv("PARLARO_BENCH_REPLY_FILE");
    if (pauses && !replyFile) {
        std::fprintf(stderr, "parlaro_program_presses: --pauses needs PARLARO_BENCH_REPLY_FILE\n");
        return 2;
    }
    const std::string play = pauses
        ? std::string("pacat --file-format=wav --latency-msec=20 -d bench_voice ") + replyFile
        : std::string("pacat --raw --format=s16le --rate=16000 --channels=1 "
                      "--latency-msec=20 -d bench_voice "
                      "/usr/share/pocketsphinx/test/data/goforward.raw");
    XKeys keys;
    if (!keys.connected()) {
        std::fprintf(stderr, "parlaro_program_presses: no X server on DISPLAY\n");
        return 1;
    }
    int x = 0;
    int y = 0;
    if (const char* at = std::getenv("PARLARO_BENCH_CONFIRM_AT"); at && std::sscanf(at, "%d %d", &x, &y) == 2)
        keys.click(x, y);
    if (presses == 0)
        return 0;
    VirtualMicReader reader(loud);
    if (!reader.running()) {
        std::fprintf(stderr, "parlaro_program_presses: parec could not read the virtual microphone\n");
        return 1;
    }
    // The call starts once a reader is on the virtual microphone.
    wait(2);
    for (int press = 1; press <= presses; ++press) {
        keys.down(rightControl);
        if (std::system((play + " >/dev/null 2>&1").c_str()) != 0) {
            keys.up(rightControl);
            std::fprintf(stderr, "parlaro_program_presses: pacat could not play the reply\n");
            return 1;
        }
        wait(0.3);
        reader.arm();
        const auto released = Clock::now();
        keys.up(rightControl);
        while (!reader.firstAudible() && Clock::now() - released < std::chrono::seconds(30))
            wait(0.005);
        const auto first = reader.firstAudible();
        if (!first) {
            std::fprintf(stderr, "parlaro_program_presses: press %d brought no speech\n", press);
            return 1;
        }
        std::printf("press %d %.3f\n", press, std::chrono::duration<double>(*first - released).count());
        std::fflush(stdout);
        // Until the speech has been quiet for a second, then a pause between
        // two replies.
        for (double heard = -1; reader.heardSeconds() > heard;) {
            heard = reader.heardSeconds();
            wait(1);
        }
        reader.disarm();
        wait(0.5);
    }
    return 0;
}
