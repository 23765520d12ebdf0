// The server editor's address rule under the https switch of the configuration in force.

#include "DialogTestSupport.h"

#include "dialogs/Servers.h"
#include "engine/ServerList.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"
#include "shell/window/MessageBox.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <memory>

namespace qrv::test {
namespace {

using gui::MessageBoxSeam::TakeShown;

class ServerEditorHttps : public ::testing::Test {
protected:
    void SetUp() override {
        gui::MessageBoxSeam::Reset();
        gui::MessageBoxSeam::SetUnattended(true);
        shell::WriteDefaultConfig();
        list.CreateEmpty();
        mainForm.show();
        timerCheck.setInterval(3600 * 1000);
        form = std::make_unique<gui::TFormServers>(list, timerCheck, &mainForm);
    }
    void TearDown() override {
        Switch(false); // the configuration is process-wide: later tests start with it off
    }
    static void Switch(bool on) {
        auto key = platform::TRegistryKey::Create(shell::kConfigKey, true);
        ASSERT_TRUE(key && (on ? key->SetDword(shell::kHttpsEnabled, 1)
                               : key->DeleteValue(shell::kHttpsEnabled)));
        shell::LoadConfig();
        ASSERT_EQ(shell::AppConfig().HttpsEnabled, on);
    }
    // OK on a new server with this address: the texts of the box shown, "" when it was stored.
    std::string Submit(const char* url) {
        form->PrepareAdd();
        form->editName->setText(QStringLiteral("n"));
        form->editURL->setText(QString::fromUtf8(url));
        const int before = list.RecordCount();
        form->buttonOK->click();
        const auto shown = TakeShown();
        if (shown.empty()) {
            EXPECT_EQ(list.RecordCount(), before + 1);
            EXPECT_EQ(list.AsString(engine::TField::Url), url);
            return {};
        }
        EXPECT_EQ(list.RecordCount(), before);
        form->buttonCancel->click();
        return shown[0].Caption + "|" + shown[0].Text;
    }

    TScopedConfigDir config;
    engine::TServerList list;
    QWidget mainForm;
    QTimer timerCheck;
    std::unique_ptr<gui::TFormServers> form;
};

TEST_F(ServerEditorHttps, HttpsIsTakenOnlyWhileTheSwitchIsOnAndOnlyInLowerCase) {
    const std::string refused = "Form error|Correct the following errors:\rEnter valid URL\r";
    const struct {
        const char* url;
        bool off, on;
    } rows[] = {
        {"http://a.example/", true, true},  {"https://b.example/", false, true},
        {"https://", false, true},          {"HTTPS://c.example/", false, false},
        {"https:/d.example", false, false}, {"ftp://e.example/", false, false},
    };
    for (const bool on : {false, true, false}) {
        Switch(on);
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.url) + (on ? " on" : " off"));
            EXPECT_EQ(Submit(row.url), (on ? row.on : row.off) ? "" : refused);
        }
    }
}

} // namespace
} // namespace qrv::test
