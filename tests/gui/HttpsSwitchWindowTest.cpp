// The check run's client follows the https switch of the configuration in force: from start-up,
// and after every application of saved settings.

#include "GuiTestSupport.h"

#include "engine/http/HttpClient.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"

namespace qrv::test {
namespace {

using HttpsSwitchWindowTest = TGuiTest;

TEST_F(HttpsSwitchWindowTest, TheRunsClientFollowsTheSwitchAtStartAndAfterEachSave) {
    for (const bool on : {false, true}) {
        SCOPED_TRACE(on ? "started on" : "started off");
        WriteConfig(
            {{shell::kHttpsEnabled, {}, on ? std::optional<std::uint32_t>(7) : std::nullopt}});
        gui::TMainForm& form = Start();
        EXPECT_EQ(form.IdHTTP->HttpsEnabled(), on);

        auto key = platform::TRegistryKey::Create(shell::kConfigKey, true);
        ASSERT_TRUE(key && key->SetDword(shell::kHttpsEnabled, on ? 0 : 1));
        shell::LoadConfig();
        form.ApplySettings();
        EXPECT_EQ(form.IdHTTP->HttpsEnabled(), !on);
        Stop();
    }
}

} // namespace
} // namespace qrv::test
