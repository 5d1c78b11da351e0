#pragma once

#include <QPoint>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace parlaro::test {

// Another X client on the test's display: reads the server's state and acts
// as the user would, pressing keys and buttons through XTest.
class XUser {
public:
    explicit XUser(const std::string& display) : connection_(xcb_connect(display.c_str(), nullptr))
    {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~XUser() { xcb_disconnect(connection_); }
    XUser(const XUser&) = delete;
    XUser& operator=(const XUser&) = delete;

    xcb_window_t focus()
    {
        auto* reply = xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr);
        const xcb_window_t window = reply ? reply->focus : XCB_NONE;
        std::free(reply);
        return window;
    }

    // Keys by X keycode, pressed in order and released in reverse.
    void press(std::initializer_list<std::uint8_t> keys)
    {
        for (std::uint8_t key : keys)
            fake(XCB_KEY_PRESS, key, {});
        for (auto key = std::rbegin(keys); key != std::rend(keys); ++key)
            fake(XCB_KEY_RELEASE, *key, {});
    }

    void click(QPoint at)
    {
        fake(XCB_MOTION_NOTIFY, 0, at);
        fake(XCB_BUTTON_PRESS, 1, at);
        fake(XCB_BUTTON_RELEASE, 1, at);
    }

protected:
    // Returns once the server has handled every request sent before.
    void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    xcb_atom_t atom(const char* name)
    {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        return atom;
    }

    // A 32-bit property's values; none when it is absent or of another form.
    std::vector<std::uint32_t> values(xcb_window_t window, const char* property, xcb_atom_t type)
    {
        auto* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, atom(property), type, 0, 64), nullptr);
        std::vector<std::uint32_t> result;
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
            result.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return result;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_;

private:
    void fake(std::uint8_t type, std::uint8_t detail, QPoint at)
    {
        xcb_test_fake_input(connection_, type, detail, XCB_CURRENT_TIME, root_, static_cast<std::int16_t>(at.x()),
                            static_cast<std::int16_t>(at.y()), 0);
        sync();
    }
};

}  // namespace parlaro::test
