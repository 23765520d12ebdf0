// Pictures at the screen's device pixel ratio. The test runs twice: as part of the window tests
// (ratio 1) and under QT_SCALE_FACTOR=2 (ctest entry test_gui_scaled), where a picture drawn at
// 1x and enlarged would show up as half the pixels.

#include "GuiTestSupport.h"

#include "dialogs/About.h"
#include "platform/qt/StatusNotifierItem.h"
#include "resources/Pictures.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTableView>
#include <QToolButton>

namespace qrv::test {
namespace {

using ScaledPicturesTest = TGuiTest;

qreal ExpectedRatio() {
    const QByteArray factor = qgetenv("QT_SCALE_FACTOR");
    return factor.isEmpty() ? 1.0 : factor.toDouble();
}

void ExpectSharp(const char* what, const QPixmap& pixmap, QSize logical, qreal ratio) {
    SCOPED_TRACE(what);
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_EQ(pixmap.devicePixelRatio(), ratio);
    EXPECT_EQ(pixmap.size(), logical * ratio);
}

TEST_F(ScaledPicturesTest, EveryPictureHasTheScreensPixels) {
    const qreal ratio = ExpectedRatio();
    ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), ratio);
    WriteConfig();
    WriteList({TServerRow("down", "http://127.0.0.1:1/")});
    gui::TMainForm& form = Start();
    form.show();
    RunCheck();
    ASSERT_EQ(form.SemaforImage(), 1);
    ASSERT_TRUE(form.buttonWarning->isVisible());

    ExpectSharp("logo", form.imageHeader->pixmap(), {143, 60}, ratio);
    ExpectSharp("mode line", form.imageMode->pixmap(), {256, 40}, ratio);
    ExpectSharp("traffic light", form.imageSemafor->pixmap(), {60, 60}, ratio);
    const QIcon warning = form.buttonWarning->icon();
    EXPECT_TRUE(warning.availableSizes().contains(QSize(40, 40) * ratio));
    EXPECT_TRUE(warning.availableSizes(QIcon::Disabled).contains(QSize(40, 40) * ratio));

    gui::TFormAbout& about = Program().FormAbout();
    ExpectSharp("about logo", about.Image1->pixmap(), {143, 60}, ratio);

    // The status ball as the grid paints it is the picture drawn at the ratio, pixel for pixel
    // (but for the cell's last pixel row and column, where the grid lines are drawn).
    const QImage grid = GridImage();
    ASSERT_EQ(grid.devicePixelRatio(), ratio);
    const QImage ball =
        gui::RenderPictureAt(gui::StatusPicturePath(0), {16, 16}, ratio, Qt::white).toImage();
    const QRect cell = form.gridLink->visualRect(form.GridModel().index(0, 0));
    const QPoint origin = cell.topLeft() * ratio;
    int differing = 0;
    const int inside = static_cast<int>(15 * ratio);
    for (int y = 0; y < inside; ++y) {
        for (int x = 0; x < inside; ++x) {
            if (grid.pixel(origin + QPoint(x, y)) != ball.pixel(x, y))
                ++differing;
        }
    }
    EXPECT_EQ(differing, 0);
}

// A status-notifier host asks for device pixels: the item sends each size once, as it is,
// whatever the program's own scale.
TEST(ScaledTrayPictures, TheItemSendsDevicePixels) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(gui::RenderPicture(gui::TrayPicturePath(0), QSize(size, size)));
    QList<int> widths;
    for (const QImage& image : platform::StatusNotifierImages(icon)) {
        EXPECT_EQ(image.width(), image.height());
        widths.append(image.width());
    }
    EXPECT_EQ(widths, QList<int>({16, 22, 24, 32, 48, 64}));
}

} // namespace
} // namespace qrv::test
