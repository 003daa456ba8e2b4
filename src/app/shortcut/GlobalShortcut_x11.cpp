#include "shortcut/GlobalShortcut.h"

#include <QGuiApplication>
#include <QLoggingCategory>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {
Q_LOGGING_CATEGORY(lcShortcut, "quorral.shortcut")
} // namespace

namespace quorral::app {

namespace {

constexpr std::uint16_t wanted = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
// NumLock is Mod2 on every common layout; CapsLock is Lock. A grab matches its modifiers
// exactly, so each combination of the two is grabbed as well.
constexpr std::uint16_t ignored[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

xcb_connection_t *x11Connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The key that carries "m" or "M" in the current keyboard mapping.
xcb_keycode_t keycodeForM(xcb_connection_t *connection)
{
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, FreeDeleter> mapping(xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr));
    if (!mapping)
        return 0;
    const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perKey = mapping->keysyms_per_keycode;
    for (int key = 0; key < count; ++key)
        for (int i = 0; i < perKey; ++i)
            if (const xcb_keysym_t sym = keysyms[key * perKey + i]; sym == 0x006d || sym == 0x004d)
                return static_cast<xcb_keycode_t>(setup->min_keycode + key);
    return 0;
}

} // namespace

GlobalShortcut::GlobalShortcut(QObject *parent) : QObject(parent)
{
    xcb_connection_t *connection = x11Connection();
    if (connection == nullptr) {
        qCWarning(lcShortcut).noquote() << "no global shortcut outside X11 (" << QGuiApplication::platformName()
                                        << "): bind `quorral --quick-input` to Ctrl+Shift+M in the desktop's keyboard settings";
        return;
    }
    m_keycode = keycodeForM(connection);
    if (m_keycode == 0) {
        qCWarning(lcShortcut) << "the keyboard layout has no M key; Ctrl+Shift+M is not grabbed";
        return;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    bool refused = false;
    for (const std::uint16_t extra : ignored) {
        const auto cookie = xcb_grab_key_checked(connection, 1, root, wanted | extra, static_cast<xcb_keycode_t>(m_keycode),
                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (std::unique_ptr<xcb_generic_error_t, FreeDeleter> error(xcb_request_check(connection, cookie)); error)
            refused = true;
    }
    if (refused) {
        qCWarning(lcShortcut) << "Ctrl+Shift+M is held by another program; bind `quorral --quick-input` to another key "
                                 "in the desktop's keyboard settings";
        for (const std::uint16_t extra : ignored)
            xcb_ungrab_key(connection, static_cast<xcb_keycode_t>(m_keycode), root, wanted | extra);
        xcb_flush(connection);
        return;
    }
    m_active = true;
    QCoreApplication::instance()->installNativeEventFilter(this);
}

GlobalShortcut::~GlobalShortcut()
{
    if (!m_active)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    if (xcb_connection_t *connection = x11Connection()) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        for (const std::uint16_t extra : ignored)
            xcb_ungrab_key(connection, static_cast<xcb_keycode_t>(m_keycode), root, wanted | extra);
        xcb_flush(connection);
    }
}

bool GlobalShortcut::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto *key = static_cast<const xcb_key_press_event_t *>(message);
    if (key->detail != m_keycode || (key->state & wanted) != wanted)
        return false;
    Q_EMIT activated();
    return true;
}

} // namespace quorral::app
