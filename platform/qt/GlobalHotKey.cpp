#include "platform/qt/GlobalHotKey.h"

#include "platform/AsciiText.h"
#include "platform/qt/ShortcutPortal.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>

#if QRV_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

namespace qrv::platform {

std::uint16_t GlobalAddAtom(const std::string& name) {
    static std::mutex lock;
    static std::map<std::string, std::uint16_t> atoms;
    if (name.empty())
        return 0;
    std::string key = name;
    key = AsciiLower(key);
    std::lock_guard guard(lock);
    if (auto it = atoms.find(key); it != atoms.end())
        return it->second;
    const size_t next = 0xC000 + atoms.size();
    if (next > 0xFFFF)
        return 0; // the table is full
    atoms.emplace(key, static_cast<std::uint16_t>(next));
    return static_cast<std::uint16_t>(next);
}

bool TGlobalHotKey::RegisterThroughPortal(int id, unsigned modifiers, unsigned virtualKey) {
    if (QGuiApplication::platformName() == QLatin1String("offscreen") || PortalIds.count(id) != 0) {
        return false;
    }
    // The shortcuts notation: modifiers, then the key's symbol name.
    QString trigger;
    if (modifiers & MOD_CONTROL)
        trigger += QStringLiteral("CTRL+");
    if (modifiers & MOD_ALT)
        trigger += QStringLiteral("ALT+");
    if (modifiers & MOD_SHIFT)
        trigger += QStringLiteral("SHIFT+");
    if (modifiers & MOD_WIN)
        trigger += QStringLiteral("LOGO+");
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        trigger += QChar(static_cast<char16_t>(virtualKey - 'A' + 'a'));
    else if (virtualKey >= '0' && virtualKey <= '9')
        trigger += QChar(static_cast<char16_t>(virtualKey));
    else if (virtualKey >= 0x70 && virtualKey <= 0x7B)
        trigger += QStringLiteral("F%1").arg(virtualKey - 0x70 + 1);
    else
        return false;
    if (Portal == nullptr) {
        if (!TShortcutPortal::Available())
            return false;
        Portal = new TShortcutPortal(this);
        connect(Portal, &TShortcutPortal::Activated, this, &TGlobalHotKey::HotKeyPressed);
    }
    Portal->Bind(id, trigger, QStringLiteral("Show or hide the Quorvane window"));
    PortalIds.insert(id);
    return true;
}

#if QRV_HAVE_XCB

namespace {

// NumLock (Mod2 on every common layout) and CapsLock must not decide whether the key works.
constexpr std::uint16_t LockVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                          XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr std::uint16_t ModifierBits = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 |
                                       XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

xcb_connection_t* Connection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_window_t RootWindow(xcb_connection_t* connection) {
    const xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    return it.rem > 0 ? it.data->root : xcb_window_t{XCB_WINDOW_NONE};
}

std::optional<xcb_keysym_t> KeySymOf(unsigned virtualKey) {
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        return virtualKey - 'A' + 'a'; // the unshifted symbol of the letter key
    if (virtualKey >= '0' && virtualKey <= '9')
        return virtualKey;
    if (virtualKey >= 0x70 && virtualKey <= 0x7B)
        return 0xFFBE + (virtualKey - 0x70); // F1..F12
    return std::nullopt;
}

std::optional<xcb_keycode_t> KeyCodeOf(xcb_connection_t* connection, xcb_keysym_t sym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_keycode_t first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, first, static_cast<std::uint8_t>(count)),
        nullptr);
    if (reply == nullptr)
        return std::nullopt;
    std::optional<xcb_keycode_t> found;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int length = xcb_get_keyboard_mapping_keysyms_length(reply);
    const int perCode = reply->keysyms_per_keycode;
    for (int i = 0; perCode > 0 && i < length && !found; ++i)
        if (syms[i] == sym)
            found = static_cast<xcb_keycode_t>(first + i / perCode);
    std::free(reply);
    return found;
}

std::uint16_t X11Modifiers(unsigned modifiers) {
    std::uint16_t mask = 0;
    if (modifiers & MOD_ALT)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & MOD_CONTROL)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & MOD_SHIFT)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & MOD_WIN)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

} // namespace

TGlobalHotKey::TGlobalHotKey(QObject* parent) : QObject(parent) {}

TGlobalHotKey::~TGlobalHotKey() {
    for (const auto& [id, key] : Registered)
        Ungrab(key);
    Registered.clear();
    if (FilterInstalled && QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool TGlobalHotKey::RegisterHotKey(int id, unsigned modifiers, unsigned virtualKey) {
    if (Registered.count(id) != 0)
        return false;
    xcb_connection_t* connection = Connection();
    if (connection == nullptr)
        return RegisterThroughPortal(id, modifiers, virtualKey);
    const std::optional<xcb_keysym_t> sym = KeySymOf(virtualKey);
    if (!sym)
        return false;
    const xcb_window_t root = RootWindow(connection);
    const std::optional<xcb_keycode_t> code = KeyCodeOf(connection, *sym);
    if (root == XCB_WINDOW_NONE || !code)
        return false;
    const THotKey key{*code, X11Modifiers(modifiers)};
    for (const auto& [otherId, other] : Registered)
        if (other.KeyCode == key.KeyCode && other.Modifiers == key.Modifiers)
            return false; // one key, one registration

    xcb_void_cookie_t cookies[std::size(LockVariants)];
    for (size_t i = 0; i < std::size(LockVariants); ++i)
        cookies[i] = xcb_grab_key_checked(connection, 0, root, key.Modifiers | LockVariants[i],
                                          key.KeyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    bool granted = true;
    // Checked requests deliver their errors here, so another client's grab (BadAccess)
    // never reaches Qt's error handler.
    for (xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            granted = false;
            std::free(error);
        }
    }
    if (!granted) {
        Ungrab(key); // the variants we did get
        return false;
    }
    if (!FilterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        FilterInstalled = true;
    }
    Registered.emplace(id, key);
    return true;
}

bool TGlobalHotKey::UnregisterHotKey(int id) {
    if (PortalIds.erase(id) != 0) {
        Portal->Unbind(id);
        return true;
    }
    const auto it = Registered.find(id);
    if (it == Registered.end())
        return false;
    Ungrab(it->second);
    Registered.erase(it);
    return true;
}

void TGlobalHotKey::Ungrab(const THotKey& key) {
    xcb_connection_t* connection = Connection();
    if (connection == nullptr)
        return;
    const xcb_window_t root = RootWindow(connection);
    for (std::uint16_t variant : LockVariants)
        xcb_ungrab_key(connection, key.KeyCode, root, key.Modifiers | variant);
    // A round trip: once we return, the server has let go and another program may take the key.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

bool TGlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || message == nullptr)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
    const std::uint16_t state = press->state & ModifierBits;
    for (const auto& [id, key] : Registered) {
        if (key.KeyCode == press->detail && key.Modifiers == state) {
            // Delivered from the event loop, not from inside Qt's X event handling.
            QMetaObject::invokeMethod(
                this, [this, hotKeyId = id] { Q_EMIT HotKeyPressed(hotKeyId); },
                Qt::QueuedConnection);
            return true;
        }
    }
    return false;
}

#else // no xcb: nothing can be grabbed

TGlobalHotKey::TGlobalHotKey(QObject* parent) : QObject(parent) {}
TGlobalHotKey::~TGlobalHotKey() = default;
bool TGlobalHotKey::RegisterHotKey(int id, unsigned modifiers, unsigned virtualKey) {
    return RegisterThroughPortal(id, modifiers, virtualKey);
}
bool TGlobalHotKey::UnregisterHotKey(int id) {
    if (PortalIds.erase(id) != 0) {
        Portal->Unbind(id);
        return true;
    }
    return false;
}
void TGlobalHotKey::Ungrab(const THotKey&) {}
bool TGlobalHotKey::nativeEventFilter(const QByteArray&, void*, qintptr*) {
    return false;
}

#endif

} // namespace qrv::platform
