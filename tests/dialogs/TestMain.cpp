// The dialog tests run offscreen with a runtime folder and a configuration folder of their own,
// whether started by ctest or by hand, and no message box may ever wait for a person.

#include "shell/window/MessageBox.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace {

std::string MakePrivateDir(const char* pattern) {
    std::string path = (std::filesystem::temp_directory_path() / pattern).string();
    if (::mkdtemp(path.data()) == nullptr) {
        return {};
    }
    ::chmod(path.c_str(), 0700);
    return path;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    struct stat st {};
    const char* given = std::getenv("XDG_RUNTIME_DIR");
    std::string runtime;
    if (given == nullptr || ::stat(given, &st) != 0 || (st.st_mode & 0777) != 0700) {
        runtime = MakePrivateDir("qrv-runtime-XXXXXX");
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    // Nothing a test forgets to redirect may reach the machine's own configuration.
    const std::string config = MakePrivateDir("qrv-config-XXXXXX");
    ::setenv("XDG_CONFIG_DIRS", config.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (config + "/home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (config + "/data").c_str(), 1);

    int result = 0;
    {
        QApplication app(argc, argv);
        qrv::gui::MessageBoxSeam::SetUnattended(true);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(config, ignored);
    if (!runtime.empty()) {
        std::filesystem::remove_all(runtime, ignored);
    }
    return result;
}
