#include "DialogTestSupport.h"
#include "TestHttpServer.h"

#include "dialogs/Update.h"
#include "dialogs/VendorLinks.h"
#include "engine/http/HttpClient.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>

namespace qrv::test {
namespace {

using gui::TFormUpdate;
using gui::TUpdateCheckOptions;

TEST(UpdateAnswer, OnlyASecondLineEndedByLineFeedAndStartingWithUpdateNamesAVersion) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> rows = {
        {"0\nUPDATE1.0\n", "1.0"},
        {"0\nUPDATE 1.0\n", " 1.0"},
        {"0\r\nUPDATE1.0\r\n", "1.0\r"}, // only LF ends a line
        {"0\nUPDATE1.0\nmore\nlines", "1.0"},
        {"\nUPDATE2\n", "2"}, // an empty first line is still a line
        {"0\nUPDATE\n", ""},
        {"0\nUPDATE1.0", std::nullopt}, // no line feed after the second line
        {"0\nupdate1.0\n", std::nullopt},
        {"0\n UPDATE1.0\n", std::nullopt},
        {"UPDATE1.0\n", std::nullopt}, // on the first line
        {"UPDATE\n", std::nullopt},
        {"0\r\rUPDATE1\r\r", std::nullopt}, // CR alone is no line end
        {"", std::nullopt},
    };
    for (const auto& [answer, expected] : rows) {
        EXPECT_EQ(gui::NewestVersionFromAnswer(answer), expected) << answer;
    }
}

class UpdateCheck : public ::testing::Test {
protected:
    void SetUp() override {
        shell::WriteDefaultConfig();
        shell::LoadConfig();
        notice = std::make_unique<TFormUpdate>(&mainForm);
    }

    void SetCheckUpdate(bool on) {
        ASSERT_TRUE(platform::TRegistryKey::Create(shell::kConfigKey, true)
                        ->SetDword("CheckUpdate", on ? 1 : 0));
        shell::LoadConfig();
    }

    // Runs one update check against `url` and waits for the thread's end, then for anything
    // it handed to this thread.
    void Check(const std::string& url, int connectTimeout = gui::kUpdateConnectTimeout) {
        Start(url, connectTimeout);
        ASSERT_TRUE(WaitFor([&] { return update->Finished(); }));
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
    }
    void Start(const std::string& url, int connectTimeout = gui::kUpdateConnectTimeout) {
        TUpdateCheckOptions options;
        options.ServiceUrl = url;
        options.ConnectTimeout = connectTimeout;
        update = std::make_unique<gui::TUpdateCheck>(
            [this] {
                ++lookups;
                return notice.get();
            },
            options);
        ASSERT_TRUE(update->Start());
    }

    TScopedConfigDir config;
    QWidget mainForm;
    std::unique_ptr<TFormUpdate> notice;
    std::unique_ptr<gui::TUpdateCheck> update;
    int lookups = 0;
};

TEST_F(UpdateCheck, PostsTheThreeFieldsAndShowsTheNamedVersion) {
    TTestHttpServer service;
    service.Route("/", Reply(200, "0\nUPDATE1.0\n"));
    Check(service.Url());

    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Method, "POST");
    EXPECT_EQ(requests[0].Target, "/");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].Body, "application=quorvane&action=checkupdate&version=" QRV_VERSION);

    EXPECT_EQ(lookups, 1);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->labelVersionCurrent->text(), QStringLiteral(QRV_VERSION));
    EXPECT_EQ(notice->labelVersionLastest->text(), QStringLiteral("1.0"));
    EXPECT_EQ(update->Http().ConnectTimeout(), 120000);
}

TEST_F(UpdateCheck, AnswersThatNameNoVersionOrAreNotWantedShowNothing) {
    struct TRow {
        const char* Case;
        int Status;
        std::string Answer;
        bool CheckUpdate;
        std::optional<std::string> Shown;
    };
    const std::vector<TRow> rows = {
        {"carriage returns kept", 200, "0\r\nUPDATE1.0\r\n", true, "1.0\r"},
        {"leading blank kept", 200, "0\nUPDATE 2.0\n", true, " 2.0"},
        {"no final line feed", 200, "0\nUPDATE1.0", true, std::nullopt},
        {"lower case", 200, "0\nupdate1.0\n", true, std::nullopt},
        {"first line only", 200, "UPDATE\n", true, std::nullopt},
        {"notices switched off", 200, "0\nUPDATE1.0\n", false, std::nullopt},
        {"error status", 500, "0\nUPDATE1.0\n", true, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        SetCheckUpdate(row.CheckUpdate);
        notice->hide();
        lookups = 0;
        TTestHttpServer service;
        service.Route("/", Reply(row.Status, row.Answer));
        Check(service.Url());
        EXPECT_EQ(service.RequestCount(), 1u); // asked whatever CheckUpdate holds
        EXPECT_EQ(notice->isVisible(), row.Shown.has_value());
        EXPECT_EQ(lookups, row.Shown ? 1 : 0);
        if (row.Shown) {
            EXPECT_EQ(notice->labelVersionLastest->text().toStdString(), *row.Shown);
        }
    }
}

TEST_F(UpdateCheck, AServiceThatNeverAcceptsEndsTheCheckSilently) {
    TUnansweredListener service;
    Check(service.Url(), 300);
    EXPECT_EQ(lookups, 0);
    EXPECT_FALSE(notice->isVisible());
    EXPECT_EQ(update->Http().ConnectTimeout(), 300);

    // Stopped while it waits out its two minutes: at once, silently, its thread ended.
    Start(service.Url());
    const auto asked = std::chrono::steady_clock::now();
    update->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(10));
    EXPECT_TRUE(update->Finished());
    EXPECT_TRUE(update->Http().Cancelled());
    EXPECT_EQ(lookups, 0);
}

TEST_F(UpdateCheck, NothingIsHandedOverOnceTheApplicationHasLeftItsLoop) {
    std::atomic<bool> released{false};
    TTestHttpServer service;
    service.Route("/", [&released](const TRecordedRequest&, TTestConnection& connection) {
        // Bounded, so that a stopping server (whose pauses return at once) is never held.
        for (int i = 0; i < 3000 && !released.load(); ++i) {
            connection.Pause(10);
        }
        connection.Send(Response(200, "0\nUPDATE9\n"));
    });
    Start(service.Url());
    ASSERT_TRUE(WaitFor([&] { return service.RequestCount() == 1; }));

    // The program quits while the post is under way.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QApplication::exec();
    released.store(true);
    ASSERT_TRUE(WaitFor([&] { return update->Finished(); }));
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
    EXPECT_EQ(lookups, 0);
    EXPECT_FALSE(notice->isVisible());
}

TEST_F(UpdateCheck, NoticeButtonsCloseItAndOpenTheDownloadPage) {
    EXPECT_EQ(notice->size(), QSize(549, 186));
    EXPECT_EQ(notice->windowTitle(), QStringLiteral("New version available"));
    EXPECT_EQ(notice->labelVersionCurrent->text(), QStringLiteral("labelVersionCurrent"));
    EXPECT_EQ(notice->buttonClose->nextInFocusChain(), notice->buttonDownload);

    TRecordingOpener opener;
    notice->ShowNewVersion("1.0");
    notice->buttonClose->click();
    EXPECT_FALSE(notice->isVisible());

    notice->ShowNewVersion("1.0");
    notice->buttonDownload->click();
    EXPECT_FALSE(notice->isVisible());
    EXPECT_EQ(opener.Lines(1), std::vector<std::string>{"1|" + gui::VendorPageUrl("update", "en")});
}

// Shown at start-up the notice sits over the main window, or in the middle of the screen while
// the window is in the tray; never in a corner.
TEST_F(UpdateCheck, TheNoticeIsCentredOnTheMainWindowOrTheScreen) {
    const QRect area = mainForm.screen()->availableGeometry();
    struct TRow {
        QRect Main;
        bool Shown;
        QPoint Centre;
    };
    const TRow rows[] = {
        {QRect(200, 150, 570, 305), true, QRect(200, 150, 570, 305).center()},
        {QRect(40, 60, 570, 305), false, area.center()},
    };
    for (const TRow& row : rows) {
        mainForm.setGeometry(row.Main);
        mainForm.setVisible(row.Shown);
        notice->ShowNewVersion("1.0");
        ASSERT_TRUE(notice->isVisible());
        const QPoint centre = notice->frameGeometry().center();
        EXPECT_LE((centre - row.Centre).manhattanLength(), 4)
            << centre.x() << "," << centre.y() << " shown " << row.Shown;
        EXPECT_TRUE(area.contains(notice->frameGeometry())) << row.Shown;
        notice->buttonClose->click();
    }
}

} // namespace
} // namespace qrv::test
