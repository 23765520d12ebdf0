#pragma once

// Each configuration test gets a key of its own: both places of the key (machine-wide and the
// user's copy) lie in a temporary folder of the test.

#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace qrv::test {

// The message LoadConfig fails with; empty when it loads.
inline std::string LoadError() {
    try {
        shell::LoadConfig();
    } catch (const qrv::Error& e) {
        return e.what();
    }
    return {};
}

class TConfigFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = ::testing::TempDir() + "qrv-config-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        ::setenv("XDG_CONFIG_DIRS", dir_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir_ + "/home").c_str(), 1);
    }
    void TearDown() override {
        shell::SetExecutablePathForTesting("");
        ::unsetenv("XDG_CONFIG_DIRS");
        ::unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(dir_);
    }
    static std::unique_ptr<platform::TRegistryKey> Key() {
        return platform::TRegistryKey::Create(shell::kConfigKey, true);
    }

    std::string dir_; // the machine-wide folder; the user's copy is below "home"
};

} // namespace qrv::test
