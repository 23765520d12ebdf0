// The window tests run offscreen with a runtime folder of their own, whether started by ctest
// or by hand; no message box may ever wait for a person.

#include "shell/window/MessageBox.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    struct stat st {};
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string own;
    if (runtime == nullptr || ::stat(runtime, &st) != 0 || (st.st_mode & 0777) != 0700) {
        own = (std::filesystem::temp_directory_path() / "qrv-gui-runtime-XXXXXX").string();
        if (::mkdtemp(own.data()) != nullptr) {
            ::chmod(own.c_str(), 0700);
            ::setenv("XDG_RUNTIME_DIR", own.c_str(), 1);
        }
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        qrv::gui::MessageBoxSeam::SetUnattended(true);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (!own.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(own, ignored);
    }
    return result;
}
