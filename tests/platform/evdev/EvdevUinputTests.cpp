#include "platform/linux/evdev/EvdevGlobalKeys.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

using namespace parlaro;
using namespace std::chrono_literals;

namespace {

// A virtual keyboard made through /dev/uinput.
class VirtualKeyboard {
public:
    VirtualKeyboard()
    {
        fd_ = ::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return;
        ioctl(fd_, UI_SET_EVBIT, EV_KEY);
        for (int code = KEY_ESC; code <= KEY_MICMUTE; ++code)
            ioctl(fd_, UI_SET_KEYBIT, code);
        uinput_setup setup{};
        setup.id.bustype = BUS_VIRTUAL;
        std::strncpy(setup.name, "parlaro test keyboard", UINPUT_MAX_NAME_SIZE - 1);
        if (ioctl(fd_, UI_DEV_SETUP, &setup) < 0 || ioctl(fd_, UI_DEV_CREATE) < 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~VirtualKeyboard()
    {
        if (fd_ >= 0) {
            ioctl(fd_, UI_DEV_DESTROY);
            ::close(fd_);
        }
    }
    bool ok() const { return fd_ >= 0; }
    void key(std::uint16_t code, std::int32_t value)
    {
        input_event events[2]{};
        events[0].type = EV_KEY;
        events[0].code = code;
        events[0].value = value;
        events[1].type = EV_SYN;
        events[1].code = SYN_REPORT;
        [[maybe_unused]] auto written = ::write(fd_, events, sizeof events);
    }

private:
    int fd_ = -1;
};

void pumpUntil(rt::ManualRuntime& runtime, const std::function<bool()>& done)
{
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        runtime.runUntilIdle();
        std::this_thread::sleep_for(2ms);
    }
}

}  // namespace

TEST(EvdevGlobalKeys, VirtualKeyboardDrivesACombination)
{
    if (::access("/dev/uinput", W_OK) != 0)
        GTEST_SKIP() << "/dev/uinput is not writable here, so only the decoding is tested";
    rt::ManualRuntime runtime;
    VirtualKeyboard keyboard;
    ASSERT_TRUE(keyboard.ok());
    sys::EvdevGlobalKeys keys;
    int downs = 0;
    int ups = 0;
    keys.setHandlers({[&](bool pressed) { ++(pressed ? downs : ups); }, {}});
    // The device node appears once udev has made it.
    bool registered = false;
    pumpUntil(runtime, [&] { return registered = keys.registerCombination(49, 0x800); });
    ASSERT_TRUE(registered);
    std::this_thread::sleep_for(100ms);
    keyboard.key(KEY_LEFTALT, 1);
    keyboard.key(KEY_SPACE, 1);
    keyboard.key(KEY_SPACE, 2);
    keyboard.key(KEY_SPACE, 0);
    keyboard.key(KEY_LEFTALT, 0);
    pumpUntil(runtime, [&] { return ups == 1; });
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
}
