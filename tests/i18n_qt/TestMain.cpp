#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

// Windows under test need no display: the offscreen platform, and a private runtime folder so
// that Qt has nothing to warn about.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string runtime = std::filesystem::temp_directory_path().string() + "/qrv-xdg-XXXXXX";
    if (::mkdtemp(runtime.data()) != nullptr)
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
    return result;
}
