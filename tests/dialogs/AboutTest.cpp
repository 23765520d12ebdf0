#include "DialogTestSupport.h"

#include "dialogs/About.h"
#include "dialogs/VendorLinks.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace qrv::test {
namespace {

TEST(VendorPages, AddressCarriesTheKindAndTheLanguageUnencoded) {
    const std::string base = QRV_VENDOR_URL;
    EXPECT_EQ(gui::VendorPageUrl("help", "cs"), base + "/app_redirect/qrv?action=help&lang=cs");
    EXPECT_EQ(gui::VendorPageUrl("about", "en"), base + "/app_redirect/qrv?action=about&lang=en");
    EXPECT_EQ(gui::VendorPageUrl("update", ""), base + "/app_redirect/qrv?action=update&lang=");
    EXPECT_EQ(gui::VendorPageUrl("help", "a b&c"),
              base + "/app_redirect/qrv?action=help&lang=a b&c");
}

TEST(VendorPages, EachOpeningUsesTheLanguageInForceAtThatMoment) {
    TScopedConfigDir config;
    TRecordingOpener opener;
    shell::WriteDefaultConfig();
    auto key = platform::TRegistryKey::Create(shell::kConfigKey, true);
    ASSERT_TRUE(key->SetString("Language", "cs"));
    shell::LoadConfig();
    gui::OpenVendorPage("help");
    ASSERT_EQ(opener.Lines(1).size(), 1u);

    ASSERT_TRUE(key->SetString("Language", "en; rm -rf $(pwd)"));
    shell::LoadConfig();
    gui::OpenVendorPage("help");
    // One argument each time, passed on untouched (no shell in between).
    EXPECT_EQ(opener.Lines(2),
              (std::vector<std::string>{"1|" + gui::VendorPageUrl("help", "cs"),
                                        "1|" + gui::VendorPageUrl("help", "en; rm -rf $(pwd)")}));
}

TEST(AboutDialog, ShowsTheProductAndOpensTheVendorPageFromItsLink) {
    TScopedConfigDir config;
    shell::WriteDefaultConfig();
    shell::LoadConfig();
    QWidget mainForm;
    gui::TFormAbout about(&mainForm);
    EXPECT_EQ(about.size(), QSize(219, 245));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(about.Label1->text(), QStringLiteral("Quorvane " QRV_VERSION));
    EXPECT_EQ(about.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_FALSE(about.Image1->pixmap().isNull());
    EXPECT_TRUE(about.Label2->font().underline());
    EXPECT_EQ(about.Label2->cursor().shape(), Qt::PointingHandCursor);

    TRecordingOpener opener;
    about.show();
    const QPointF inside(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, inside, about.Label2->mapToGlobal(inside),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, about.Label2->mapToGlobal(inside),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(about.Label2, &press);
    QApplication::sendEvent(about.Label2, &release);
    EXPECT_EQ(opener.Lines(1), std::vector<std::string>{"1|" + gui::VendorPageUrl("about", "en")});
    EXPECT_TRUE(about.isVisible());
    about.Button1->click();
    EXPECT_FALSE(about.isVisible());
}

} // namespace
} // namespace qrv::test
