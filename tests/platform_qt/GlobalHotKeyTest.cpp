#include "X11Session.h"

#include "platform/Paths.h"
#include "platform/qt/GlobalHotKey.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#if QRV_HAVE_XCB
#include <xcb/xcb.h>
#endif

extern char** environ;

using namespace qrv::platform;

namespace {

// Runs a program to its end; its exit status, or -1.
int RunProgram(std::vector<std::string> args, const std::vector<std::string>& extraEnv = {}) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText(extraEnv);
    for (char** e = environ; *e != nullptr; ++e)
        envText.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Key(const std::string& keys) {
    ASSERT_EQ(RunProgram({"xdotool", "key", keys}), 0) << keys;
}

// Serves the event loop until `done` holds (bounded, so a lost key press fails, not hangs).
template <typename F> bool ServeUntil(F done) {
    for (int i = 0; i < 2000; ++i) {
        QCoreApplication::processEvents();
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST(GlobalAtom, OneAtomPerNameForTheWholeProcess) {
    const std::uint16_t show = GlobalAddAtom("HotkeyShow");
    struct {
        const char* Name;
        bool SameAsShow;
    } const rows[] = {
        {"HotkeyShow", true},  {"hotkeyshow", true},   {"HOTKEYSHOW", true},
        {"HotkeyHide", false}, {"HotkeyShow ", false},
    };
    EXPECT_GE(show, 0xC000);
    for (const auto& row : rows) {
        const std::uint16_t atom = GlobalAddAtom(row.Name);
        EXPECT_GE(atom, 0xC000) << row.Name;
        EXPECT_EQ(atom == show, row.SameAsShow) << row.Name;
    }
    EXPECT_NE(GlobalAddAtom("HotkeyHide"), GlobalAddAtom("HotkeyShow "));
    EXPECT_EQ(GlobalAddAtom(""), 0);
}

TEST(GlobalHotKeyWithoutX11, RegistrationFailsQuietly) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Run this one test again in a process of its own without X.
        EXPECT_EQ(RunProgram({ExecutablePath(), "--gtest_filter=GlobalHotKeyWithoutX11.*"},
                             {"QRV_NO_XVFB=1"}),
                  0);
        return;
    }
    TGlobalHotKey hotKey;
    EXPECT_FALSE(hotKey.RegisterHotKey(1, MOD_ALT | MOD_CONTROL, VK_W));
    EXPECT_FALSE(hotKey.UnregisterHotKey(1));
}

#if QRV_HAVE_XCB

// A second X client, as another program holding keys would be.
class TOtherClient {
public:
    TOtherClient() : Connection(xcb_connect(nullptr, nullptr)) {
        Root = xcb_setup_roots_iterator(xcb_get_setup(Connection)).data->root;
    }
    ~TOtherClient() { xcb_disconnect(Connection); }

    xcb_keycode_t KeyCode(xcb_keysym_t sym) {
        const xcb_setup_t* setup = xcb_get_setup(Connection);
        auto* reply = xcb_get_keyboard_mapping_reply(
            Connection,
            xcb_get_keyboard_mapping(
                Connection, setup->min_keycode,
                static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1)),
            nullptr);
        xcb_keycode_t code = 0;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        for (int i = 0; code == 0 && i < xcb_get_keyboard_mapping_keysyms_length(reply); ++i)
            if (syms[i] == sym)
                code =
                    static_cast<xcb_keycode_t>(setup->min_keycode + i / reply->keysyms_per_keycode);
        std::free(reply);
        return code;
    }
    // Whether the grab was granted.
    bool Grab(xcb_keysym_t sym, std::uint16_t modifiers) {
        xcb_generic_error_t* error = xcb_request_check(
            Connection, xcb_grab_key_checked(Connection, 0, Root, modifiers, KeyCode(sym),
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }
    void Ungrab(xcb_keysym_t sym, std::uint16_t modifiers) {
        xcb_ungrab_key(Connection, KeyCode(sym), Root, modifiers);
        Sync();
    }

private:
    // A round trip, so the server has handled what was sent before.
    void Sync() {
        std::free(xcb_get_input_focus_reply(Connection, xcb_get_input_focus(Connection), nullptr));
    }
    xcb_connection_t* Connection;
    xcb_window_t Root = 0;
};

constexpr std::uint16_t CtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
constexpr std::uint16_t Locks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                   XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr xcb_keysym_t SymW = 'w', SymQ = 'q';

class GlobalHotKeyX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qrv::test::X11Available())
            GTEST_SKIP() << "no Xvfb: the X11 hot key cannot be tried";
        HotKey = std::make_unique<TGlobalHotKey>();
        QObject::connect(HotKey.get(), &TGlobalHotKey::HotKeyPressed,
                         [this](int id) { Pressed.push_back(id); });
    }
    std::unique_ptr<TGlobalHotKey> HotKey;
    std::vector<int> Pressed;
};

TEST_F(GlobalHotKeyX11, PressesArriveInEveryLockStateAndOtherKeysDoNot) {
    const int id = GlobalAddAtom("HotkeyShow");
    constexpr int Sentinel = 99; // a second hot key marking "everything before has arrived"
    ASSERT_TRUE(HotKey->RegisterHotKey(id, MOD_ALT | MOD_CONTROL, VK_W));
    ASSERT_TRUE(HotKey->RegisterHotKey(Sentinel, MOD_ALT | MOD_CONTROL, '9'));

    struct {
        const char* State;
        std::vector<std::string> Toggles;
    } const rows[] = {
        {"no locks", {}},
        {"NumLock", {"Num_Lock"}},
        {"CapsLock", {"Caps_Lock"}},
        {"NumLock and CapsLock", {"Num_Lock", "Caps_Lock"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.State);
        for (const auto& t : row.Toggles)
            Key(t);
        Pressed.clear();
        Key("ctrl+alt+w");
        ASSERT_TRUE(ServeUntil([&] { return !Pressed.empty(); }));
        EXPECT_EQ(Pressed, std::vector<int>{id});

        Pressed.clear();
        for (const char* other :
             {"ctrl+w", "alt+w", "ctrl+alt+shift+w", "super+ctrl+alt+w", "w", "ctrl+alt+q"})
            Key(other);
        Key("ctrl+alt+9");
        ASSERT_TRUE(ServeUntil([&] { return !Pressed.empty(); }));
        EXPECT_EQ(Pressed, std::vector<int>{Sentinel}) << "a key that was not registered fired";
        for (const auto& t : row.Toggles)
            Key(t);
    }
}

TEST_F(GlobalHotKeyX11, AKeyHeldElsewhereIsRefusedQuietlyAndNothingOfItIsKept) {
    TOtherClient other;
    // The other program holds only the NumLock variant: the whole registration must fail.
    ASSERT_TRUE(other.Grab(SymQ, CtrlAlt | XCB_MOD_MASK_2));
    EXPECT_FALSE(HotKey->RegisterHotKey(7, MOD_ALT | MOD_CONTROL, 'Q'));
    other.Ungrab(SymQ, CtrlAlt | XCB_MOD_MASK_2);
    TOtherClient third;
    for (std::uint16_t lock : Locks)
        EXPECT_TRUE(third.Grab(SymQ, CtrlAlt | lock)) << "left a grab behind, locks " << lock;
    for (std::uint16_t lock : Locks)
        third.Ungrab(SymQ, CtrlAlt | lock);
    EXPECT_TRUE(HotKey->RegisterHotKey(7, MOD_ALT | MOD_CONTROL, 'Q')) << "id 7 was kept";

    // While we hold Ctrl+Alt+W, nobody else gets any variant of it.
    ASSERT_TRUE(HotKey->RegisterHotKey(8, MOD_ALT | MOD_CONTROL, VK_W));
    for (std::uint16_t lock : Locks)
        EXPECT_FALSE(other.Grab(SymW, CtrlAlt | lock)) << "locks " << lock;
}

TEST_F(GlobalHotKeyX11, RegistrationsAreUniqueAndReleasedByUnregisterAndDestruction) {
    TOtherClient other;
    const auto othersCanGrabW = [&other] {
        bool all = true;
        for (std::uint16_t lock : Locks) {
            all = other.Grab(SymW, CtrlAlt | lock) && all;
            other.Ungrab(SymW, CtrlAlt | lock);
        }
        return all;
    };
    ASSERT_TRUE(HotKey->RegisterHotKey(1, MOD_ALT | MOD_CONTROL, VK_W));
    struct {
        const char* What;
        int Id;
        unsigned Modifiers, Key;
    } const refused[] = {
        {"the same id again", 1, MOD_CONTROL, 'Q'},
        {"the same key under another id", 2, MOD_ALT | MOD_CONTROL, VK_W},
        {"a key without a known symbol", 3, MOD_CONTROL, 0x20},
        {"a function key beyond F12", 4, MOD_CONTROL, 0x7C},
    };
    for (const auto& row : refused)
        EXPECT_FALSE(HotKey->RegisterHotKey(row.Id, row.Modifiers, row.Key)) << row.What;

    EXPECT_TRUE(HotKey->UnregisterHotKey(1));
    EXPECT_FALSE(HotKey->UnregisterHotKey(1));
    EXPECT_TRUE(othersCanGrabW());
    // Registering again under the same id works, as the settings dialog does it.
    ASSERT_TRUE(HotKey->RegisterHotKey(1, MOD_ALT | MOD_CONTROL, VK_W));
    EXPECT_FALSE(othersCanGrabW());
    HotKey.reset();
    EXPECT_TRUE(othersCanGrabW());
}

#endif // QRV_HAVE_XCB

} // namespace
