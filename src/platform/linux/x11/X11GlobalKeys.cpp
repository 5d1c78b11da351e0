#include "platform/linux/x11/X11GlobalKeys.h"

#include "platform/KeyCodes.h"
#include "platform/linux/evdev/EvdevKeyDecoder.h"
#include "platform/linux/xkb/XkbKeymap.h"
#include "runtime/Runtime.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>
// The XKB protocol header names a member "explicit".
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#pragma clang diagnostic pop
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <pthread.h>

namespace parlaro::sys {
namespace {

constexpr std::uint16_t lockMask = XCB_MOD_MASK_LOCK;
// Num Lock sits on Mod2 in every standard keymap.
constexpr std::uint16_t numLockMask = XCB_MOD_MASK_2;
constexpr std::array<std::uint16_t, 4> lockVariants{0, lockMask, numLockMask, lockMask | numLockMask};

std::uint16_t xMask(std::uint32_t modifiers)
{
    std::uint16_t mask = 0;
    if (modifiers & 0x100)
        mask |= XCB_MOD_MASK_4;
    if (modifiers & 0x200)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & 0x800)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & 0x1000)
        mask |= XCB_MOD_MASK_CONTROL;
    return mask;
}

bool checked(xcb_connection_t* connection, xcb_void_cookie_t cookie)
{
    xcb_generic_error_t* error = xcb_request_check(connection, cookie);
    if (!error)
        return true;
    std::free(error);
    return false;
}

}  // namespace

std::unique_ptr<X11GlobalKeys> X11GlobalKeys::connect(const char* display)
{
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display, &screen);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11GlobalKeys>(new X11GlobalKeys(connection, screen));
}

X11GlobalKeys::X11GlobalKeys(xcb_connection_t* connection, int screen)
    : connection_(connection), self_(std::make_shared<X11GlobalKeys*>(this))
{
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screen && screens.rem; ++i)
        xcb_screen_next(&screens);
    root_ = screens.data->root;
    setUpExtensions();
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    reader_ = std::thread([this] { readEvents(); });
}

X11GlobalKeys::~X11GlobalKeys()
{
    *self_ = nullptr;
    stopping_ = true;
    wakeReader();
    reader_.join();
    close(wakeFd_);
    xcb_disconnect(connection_);
}

void X11GlobalKeys::setUpExtensions()
{
    // Without detectable autorepeat X pairs every repeat with a release,
    // which would end a hold in mid-sentence.
    xcb_xkb_use_extension_reply_t* xkb =
        xcb_xkb_use_extension_reply(connection_, xcb_xkb_use_extension(connection_, 1, 0), nullptr);
    if (xkb && xkb->supported) {
        auto flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        xcb_xkb_per_client_flags_reply_t* flags = xcb_xkb_per_client_flags_reply(
            connection_, xcb_xkb_per_client_flags(connection_, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0), nullptr);
        detectableAutorepeat_ = flags && (flags->value & flag);
        std::free(flags);
    }
    std::free(xkb);

    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(connection_, &xcb_input_id);
    if (xinput && xinput->present) {
        xcb_input_xi_query_version_reply_t* version =
            xcb_input_xi_query_version_reply(connection_, xcb_input_xi_query_version(connection_, 2, 2), nullptr);
        rawKeys_ =
            version && (version->major_version > 2 || (version->major_version == 2 && version->minor_version >= 2));
        xinputOpcode_ = xinput->major_opcode;
        std::free(version);
    }

    // Key names follow the layout: the server says when its keymap changes.
    const xcb_query_extension_reply_t* xkbExtension = xcb_get_extension_data(connection_, &xcb_xkb_id);
    if (xkbExtension && xkbExtension->present) {
        xkbFirstEvent_ = xkbExtension->first_event;
        std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
        std::uint16_t parts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP;
        xkbEvents_ = checked(connection_,
                             xcb_xkb_select_events_checked(connection_, XCB_XKB_ID_USE_CORE_KBD, events, 0, events,
                                                           parts, parts, nullptr));
    }
    loadKeymap();
}

void X11GlobalKeys::loadKeymap()
{
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = nullptr;
    if (context
        && xkb_x11_setup_xkb_extension(connection_, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                       XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
        std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection_);
        if (device >= 0)
            keymap = xkb_x11_keymap_new_from_device(context, connection_, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    if (keymap) {
        keymap_ = std::make_unique<XkbKeymap>(context, keymap);
    } else {
        if (context)
            xkb_context_unref(context);
        if (!keymap_)
            keymap_ = XkbKeymap::fromDefaults();
    }
}

void X11GlobalKeys::setHandlers(Handlers handlers)
{
    handlers_ = std::move(handlers);
}

bool X11GlobalKeys::listenAccess() const
{
    return !xcb_connection_has_error(connection_);
}

bool X11GlobalKeys::registerCombination(std::uint32_t keyCode, std::uint32_t modifiers)
{
    unregisterCombination();
    auto evdev = keycodes::toEvdev(keyCode);
    if (!evdev || !detectableAutorepeat_ || !listenAccess())
        return false;
    auto keycode = static_cast<std::uint8_t>(*evdev + keycodes::xKeycodeOffset);
    std::uint16_t mask = xMask(modifiers);
    int made = 0;
    for (std::uint16_t variant : lockVariants) {
        auto cookie = xcb_grab_key_checked(connection_, 1, root_, mask | variant, keycode, XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_ASYNC);
        if (!checked(connection_, cookie)) {
            // Another client holds it: keep nothing half made.
            ungrab(keycode, mask, made);
            wakeReader();
            return false;
        }
        ++made;
    }
    grabbedKeycode_ = keycode;
    grabbedMask_ = mask;
    wakeReader();
    return true;
}

void X11GlobalKeys::ungrab(std::uint8_t keycode, std::uint16_t mask, int variants)
{
    for (int i = 0; i < variants; ++i)
        checked(connection_, xcb_ungrab_key_checked(connection_, keycode, root_, mask | lockVariants[i]));
}

void X11GlobalKeys::unregisterCombination()
{
    if (!grabbedKeycode_)
        return;
    ungrab(*grabbedKeycode_, grabbedMask_, static_cast<int>(lockVariants.size()));
    grabbedKeycode_.reset();
    wakeReader();
}

bool X11GlobalKeys::selectRawKeys(bool on)
{
    if (!rawKeys_)
        return false;
    if (on == rawSelected_)
        return true;
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           on ? std::uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE) : 0u};
    bool ok = checked(connection_, xcb_input_xi_select_events_checked(connection_, root_, 1, &mask.head));
    wakeReader();
    if (ok)
        rawSelected_ = on;
    return ok;
}

bool X11GlobalKeys::startModifierWatch()
{
    heldFlags_ = 0;
    modifierWatch_ = selectRawKeys(true);
    return modifierWatch_;
}

void X11GlobalKeys::stopModifierWatch()
{
    modifierWatch_ = false;
    keyWatch_ = false;
    selectRawKeys(false);
}

void X11GlobalKeys::reenableModifierWatch()
{
    if (modifierWatch_)
        modifierWatch_ = selectRawKeys(true);
}

bool X11GlobalKeys::startKeyWatch()
{
    keyWatch_ = modifierWatch_ || selectRawKeys(true);
    return keyWatch_;
}

void X11GlobalKeys::stopKeyWatch()
{
    keyWatch_ = false;
    if (!modifierWatch_)
        selectRawKeys(false);
}

std::optional<std::string> X11GlobalKeys::keyCharacter(std::uint32_t keyCode) const
{
    return keymap_->character(keyCode);
}

void X11GlobalKeys::wakeReader()
{
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
}

void X11GlobalKeys::readEvents()
{
    pthread_setname_np(pthread_self(), "x11-keys");
    std::array<pollfd, 2> fds{pollfd{xcb_get_file_descriptor(connection_), POLLIN, 0}, pollfd{wakeFd_, POLLIN, 0}};
    while (!stopping_) {
        // A request checked on the main thread may have read events into
        // xcb's queue; it then wakes this loop to drain them.
        bool post = false;
        {
            std::lock_guard lock(readMutex_);
            readAvailable();
            post = !read_.empty() && !deliveryPosted_;
            deliveryPosted_ = deliveryPosted_ || post;
        }
        if (post) {
            std::weak_ptr<X11GlobalKeys*> weak = self_;
            rt::mainExecutor().post([weak] {
                if (auto self = weak.lock(); self && *self)
                    (*self)->deliverRead(false);
            });
        }
        if (xcb_connection_has_error(connection_))
            return;
        if (poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto got = read(wakeFd_, &count, sizeof count);
        }
    }
}

void X11GlobalKeys::readAvailable()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        std::uint8_t type = event->response_type & 0x7F;
        Raw kind{};
        std::uint32_t keycode = 0;
        bool known = true;
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            kind = type == XCB_KEY_PRESS ? Raw::corePress : Raw::coreRelease;
            keycode = reinterpret_cast<xcb_key_press_event_t*>(event)->detail;
        } else if (type == XCB_GE_GENERIC
                   && reinterpret_cast<xcb_ge_generic_event_t*>(event)->extension == xinputOpcode_) {
            auto* raw = reinterpret_cast<xcb_input_raw_key_press_event_t*>(event);
            known = raw->event_type == XCB_INPUT_RAW_KEY_PRESS || raw->event_type == XCB_INPUT_RAW_KEY_RELEASE;
            kind = raw->event_type == XCB_INPUT_RAW_KEY_PRESS ? Raw::rawPress : Raw::rawRelease;
            keycode = raw->detail;
        } else if (xkbEvents_ && type == xkbFirstEvent_) {
            // XKB events share one code; the second byte tells them apart.
            std::uint8_t xkbType = reinterpret_cast<std::uint8_t*>(event)[1];
            known = (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
                && !keymapReloadPosted_.exchange(true);
            kind = Raw::keymapChanged;
        } else {
            known = false;
        }
        std::free(event);
        if (known)
            read_.emplace_back(kind, keycode);
    }
}

void X11GlobalKeys::catchUp()
{
    deliverRead(true);
}

void X11GlobalKeys::deliverRead(bool readFirst)
{
    std::vector<std::pair<Raw, std::uint32_t>> events;
    {
        std::lock_guard lock(readMutex_);
        if (readFirst && !xcb_connection_has_error(connection_))
            readAvailable();
        else
            deliveryPosted_ = false;
        events.swap(read_);
    }
    for (const auto& [kind, keycode] : events)
        deliver(kind, keycode);
}

void X11GlobalKeys::deliver(Raw kind, std::uint32_t xKeycode)
{
    if (kind == Raw::keymapChanged) {
        keymapReloadPosted_ = false;
        loadKeymap();
        wakeReader();
        return;
    }
    if (kind == Raw::corePress || kind == Raw::coreRelease) {
        if (grabbedKeycode_ && *grabbedKeycode_ == xKeycode && handlers_.hotKey)
            handlers_.hotKey(kind == Raw::corePress);
        return;
    }
    bool pressed = kind == Raw::rawPress;
    auto code = keycodes::fromEvdev(xKeycode - keycodes::xKeycodeOffset);
    if (keymap_->isModifier(xKeycode)) {
        if (!code)
            return;
        std::uint64_t bit =
            EvdevKeyDecoder::modifierFlag(static_cast<std::uint16_t>(xKeycode - keycodes::xKeycodeOffset));
        heldFlags_ = pressed ? (heldFlags_ | bit) : (heldFlags_ & ~bit);
        if (modifierWatch_ && handlers_.tap)
            handlers_.tap(flagsChangedType, *code, heldFlags_);
        return;
    }
    if (pressed && keyWatch_ && handlers_.tap)
        handlers_.tap(keyDownType, code.value_or(0xFFFF), 0);
}

}  // namespace parlaro::sys
