#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qrv::platform {

class TShortcutPortal;

// Modifier bits and virtual key codes as the hot key interface counts them.
inline constexpr unsigned MOD_ALT = 1;
inline constexpr unsigned MOD_CONTROL = 2;
inline constexpr unsigned MOD_SHIFT = 4;
inline constexpr unsigned MOD_WIN = 8;
inline constexpr unsigned VK_W = 0x57;

// Stand-in for the global atom table: the same name always gives the same atom during the
// process, numbered from 0xC000 in order of first use (names compare case-insensitively, as
// atoms do). An empty name gives 0.
std::uint16_t GlobalAddAtom(const std::string& name);

// System-wide hot keys through a passive key grab on the X11 root window. Every grab is made in
// the four NumLock/CapsLock variants, and the lock bits are masked off when a press is matched.
// Where Qt does not run on xcb (Wayland), the desktop's global-shortcuts portal stands in when the
// session offers it. Where neither can be had (offscreen, no portal) or another client holds the
// key, registration fails quietly and returns false. Create it after QApplication, on the
// user-interface thread. Keys: 'A'..'Z', '0'..'9' and F1..F12 (0x70..0x7B).
class TGlobalHotKey : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit TGlobalHotKey(QObject* parent = nullptr);
    ~TGlobalHotKey() override;

    // Grabs `modifiers` (MOD_* bits) + `virtualKey` under `id`. An id already registered is
    // refused. Returns whether the hot key now works.
    bool RegisterHotKey(int id, unsigned modifiers, unsigned virtualKey);

    // Releases the grab registered under `id`; false when there was none.
    bool UnregisterHotKey(int id);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

Q_SIGNALS:
    // A registered hot key went down (emitted on the user-interface thread).
    void HotKeyPressed(int id);

private:
    bool RegisterThroughPortal(int id, unsigned modifiers, unsigned virtualKey);

    struct THotKey {
        std::uint8_t KeyCode = 0;
        std::uint16_t Modifiers = 0; // X11 modifier mask
    };
    void Ungrab(const THotKey& key);

    std::map<int, THotKey> Registered;
    bool FilterInstalled = false;
    TShortcutPortal* Portal = nullptr;
    std::set<int> PortalIds;
};

} // namespace qrv::platform
