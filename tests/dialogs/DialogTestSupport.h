#pragma once

// Shared pieces of the dialog tests: temporary folders, a registry store of their own, a
// catalogue service over msgfmt-built catalogues, an opener that records what it was given,
// and waits that keep the event loop turning.

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace qrv::test {

namespace fs = std::filesystem;

// A fresh folder below the system's temporary folder, removed with everything in it.
class TTempDir {
public:
    TTempDir() {
        std::string pattern = (fs::temp_directory_path() / "qrv-dialogs-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TTempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const fs::path& Path() const { return path_; }
    std::string Str() const { return path_.string(); }

private:
    fs::path path_;
};

inline void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Turns the event loop until `done` holds or the bound is reached; returns `done()`.
inline bool WaitFor(const std::function<bool()>& done, int boundMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > boundMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Points the machine-wide configuration (registry store and autostart entry) and the user's
// own (below "home") at a folder of its own for the life of the object. KeyFile() is the user's
// copy of the key, the one the program writes.
class TScopedConfigDir {
public:
    TScopedConfigDir()
        : machine_("XDG_CONFIG_DIRS", dir_.Str()), user_("XDG_CONFIG_HOME", dir_.Str() + "/home") {}
    const fs::path& Path() const { return dir_.Path(); }
    fs::path KeyFile() const { return dir_.Path() / "home" / "Ostrelle" / "Quorvane.reg"; }

private:
    class TSavedEnv {
    public:
        TSavedEnv(const char* name, const std::string& value) : name_(name) {
            const char* old = std::getenv(name);
            hadOld_ = old != nullptr;
            old_ = old != nullptr ? old : "";
            ::setenv(name, value.c_str(), 1);
        }
        ~TSavedEnv() { hadOld_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }

    private:
        const char* name_;
        bool hadOld_ = false;
        std::string old_;
    };

    TTempDir dir_;
    TSavedEnv machine_;
    TSavedEnv user_;
};

// Catalogues for "cs" and "en" built with msgfmt from the given Czech pairs; the process-wide
// catalogue service is pointed at them, starting in English.
void UseTestCatalogues(const TTempDir& dir,
                       const std::vector<std::pair<std::string, std::string>>& czech);

// An opener program for the shell's "open" that appends each argument vector it gets as one
// line ("<count>|<first argument>") to a file; installed through QRV_OPENER.
class TRecordingOpener {
public:
    TRecordingOpener();
    ~TRecordingOpener();
    // The lines recorded so far, after waiting until at least `count` have arrived.
    std::vector<std::string> Lines(std::size_t count);

private:
    TTempDir dir_;
    fs::path log_;
};

// The widgets that Tab visits, in order, starting at `first`.
inline std::vector<QWidget*> TabOrder(QWidget* first) {
    std::vector<QWidget*> order;
    QWidget* w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus) {
            order.push_back(w);
        }
        w = w->nextInFocusChain();
    } while (w != first && order.size() < 30);
    return order;
}

} // namespace qrv::test
