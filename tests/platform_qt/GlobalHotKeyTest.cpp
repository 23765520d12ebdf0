#include "platform/qt/GlobalHotKey.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdlib>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#if QRV_HAVE_XCB
#include <xcb/xcb.h>
#endif

extern char** environ;

using namespace qrv::platform;

namespace {

// Runs a program to its end, with extra environment entries first; its exit status or -1.
int RunProgram(std::vector<std::string> args, std::vector<std::string> env = {}) {
    std::vector<char*> argv, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    for (auto& e : env)
        envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    int status = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0 ||
        ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(GlobalHotKey, AtomsAreStablePerNameAndRegistrationWithoutX11FailsQuietly) {
    const std::uint16_t show = GlobalAddAtom("HotkeyShow");
    EXPECT_GE(show, 0xC000);
    EXPECT_EQ(GlobalAddAtom("hotkeySHOW"), show);
    EXPECT_NE(GlobalAddAtom("HotkeyShow "), show);
    EXPECT_EQ(GlobalAddAtom(""), 0);

    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Run this test again in a process of its own without X.
        EXPECT_EQ(
            RunProgram({ExecutablePath(), "--gtest_filter=GlobalHotKey.Atoms*"}, {"QRV_NO_XVFB=1"}),
            0);
        return;
    }
    TGlobalHotKey hotKey;
    EXPECT_FALSE(hotKey.RegisterHotKey(show, MOD_ALT | MOD_CONTROL, VK_W));
    EXPECT_FALSE(hotKey.UnregisterHotKey(show));
}

#if QRV_HAVE_XCB

constexpr std::uint16_t CtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
constexpr std::uint16_t Locks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                   XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

// Another X client, as another program holding keys would be.
class TOtherClient {
public:
    TOtherClient() : Connection(xcb_connect(nullptr, nullptr)) {
        Root = xcb_setup_roots_iterator(xcb_get_setup(Connection)).data->root;
    }
    ~TOtherClient() { xcb_disconnect(Connection); }
    // Whether the grab of Ctrl+Alt+<letter> with `locks` was granted.
    bool Grab(char letter, std::uint16_t locks) {
        xcb_generic_error_t* error = xcb_request_check(
            Connection, xcb_grab_key_checked(Connection, 0, Root, CtrlAlt | locks, Code(letter),
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }
    void Ungrab(char letter, std::uint16_t locks) {
        xcb_ungrab_key(Connection, Code(letter), Root, CtrlAlt | locks);
        std::free(xcb_get_input_focus_reply(Connection, xcb_get_input_focus(Connection), nullptr));
    }
    // Grabs and releases every lock variant; whether all were free.
    bool AllFree(char letter) {
        bool all = true;
        for (std::uint16_t lock : Locks) {
            all = Grab(letter, lock) && all;
            Ungrab(letter, lock);
        }
        return all;
    }

private:
    xcb_keycode_t Code(char letter) {
        const xcb_setup_t* setup = xcb_get_setup(Connection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto* reply = xcb_get_keyboard_mapping_reply(
            Connection,
            xcb_get_keyboard_mapping(Connection, setup->min_keycode,
                                     static_cast<std::uint8_t>(count)),
            nullptr);
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        int i = 0;
        while (i < xcb_get_keyboard_mapping_keysyms_length(reply) &&
               syms[i] != static_cast<xcb_keysym_t>(letter))
            ++i;
        const auto code =
            static_cast<xcb_keycode_t>(setup->min_keycode + i / reply->keysyms_per_keycode);
        std::free(reply);
        return code;
    }
    xcb_connection_t* Connection;
    xcb_window_t Root = 0;
};

class GlobalHotKeyX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("QRV_TEST_X11") == nullptr)
            GTEST_SKIP() << "no Xvfb: the X11 hot key cannot be tried";
        QObject::connect(HotKey.get(), &TGlobalHotKey::HotKeyPressed,
                         [this](int id) { Pressed.push_back(id); });
    }
    static void Key(const std::string& keys) {
        ASSERT_EQ(RunProgram({"xdotool", "key", keys}), 0) << keys;
    }
    // Serves the event loop until a hot key arrives (bounded: a lost press fails, not hangs).
    std::vector<int> Arrived() {
        for (int i = 0; i < 2000 && Pressed.empty(); ++i) {
            QCoreApplication::processEvents();
            ::usleep(5000);
        }
        return std::exchange(Pressed, {});
    }
    std::unique_ptr<TGlobalHotKey> HotKey = std::make_unique<TGlobalHotKey>();
    std::vector<int> Pressed;
};

TEST_F(GlobalHotKeyX11, PressesArriveInEveryLockStateAndOtherKeysDoNot) {
    const int id = GlobalAddAtom("HotkeyShow");
    constexpr int Sentinel = 99; // arrives after everything pressed before it
    ASSERT_TRUE(HotKey->RegisterHotKey(id, MOD_ALT | MOD_CONTROL, VK_W));
    ASSERT_TRUE(HotKey->RegisterHotKey(Sentinel, MOD_ALT | MOD_CONTROL, '9'));
    const std::vector<std::vector<std::string>> lockToggles = {
        {}, {"Num_Lock"}, {"Caps_Lock"}, {"Num_Lock", "Caps_Lock"}};
    for (const auto& toggles : lockToggles) {
        SCOPED_TRACE(toggles.empty() ? "no locks" : toggles.back() + " and more");
        for (const auto& t : toggles)
            Key(t);
        Key("ctrl+alt+w");
        EXPECT_EQ(Arrived(), std::vector<int>{id});
        for (const char* other : {"ctrl+w", "alt+w", "ctrl+alt+shift+w", "super+ctrl+alt+w", "w",
                                  "ctrl+alt+q", "ctrl+alt+9"})
            Key(other);
        EXPECT_EQ(Arrived(), std::vector<int>{Sentinel}) << "a key not registered fired";
        for (const auto& t : toggles)
            Key(t);
    }
}

TEST_F(GlobalHotKeyX11, KeysHeldElsewhereAreRefusedWhollyAndOursAreReleased) {
    TOtherClient other;
    // The other program holds only the NumLock variant: the whole registration fails.
    ASSERT_TRUE(other.Grab('q', XCB_MOD_MASK_2));
    EXPECT_FALSE(HotKey->RegisterHotKey(7, MOD_ALT | MOD_CONTROL, 'Q'));
    other.Ungrab('q', XCB_MOD_MASK_2);
    EXPECT_TRUE(other.AllFree('q')) << "a partial grab was left behind";

    ASSERT_TRUE(HotKey->RegisterHotKey(1, MOD_ALT | MOD_CONTROL, VK_W));
    EXPECT_FALSE(HotKey->RegisterHotKey(1, MOD_CONTROL, 'Q')) << "same id";
    EXPECT_FALSE(HotKey->RegisterHotKey(2, MOD_ALT | MOD_CONTROL, VK_W)) << "same key";
    EXPECT_FALSE(HotKey->RegisterHotKey(3, MOD_CONTROL, 0x7C)) << "F13 has no symbol here";
    for (std::uint16_t lock : Locks)
        EXPECT_FALSE(other.Grab('w', lock)) << "locks " << lock;
    EXPECT_TRUE(HotKey->UnregisterHotKey(1));
    EXPECT_FALSE(HotKey->UnregisterHotKey(1));
    EXPECT_TRUE(other.AllFree('w'));
    // Registering again under the same id works, as saving the settings does it.
    ASSERT_TRUE(HotKey->RegisterHotKey(1, MOD_ALT | MOD_CONTROL, VK_W));
    HotKey.reset();
    EXPECT_TRUE(other.AllFree('w'));
}

#endif // QRV_HAVE_XCB

} // namespace
