// The header band, the about window and the grid under a dark desktop palette: nothing is left
// white, and every text reads at a contrast of at least 4.5:1 against what is behind it.

#include "GuiTestSupport.h"

#include "dialogs/About.h"
#include "resources/Pictures.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>

namespace qrv::test {
namespace {

class DarkPaletteTest : public TGuiTest {
public:
    static QPalette Dark() {
        QPalette dark;
        const struct {
            QPalette::ColorRole Role;
            QRgb Colour;
        } roles[] = {
            {QPalette::Window, 0x353535},
            {QPalette::WindowText, 0xeeeeee},
            {QPalette::Base, 0x232323},
            {QPalette::AlternateBase, 0x2d2d2d},
            {QPalette::Text, 0xeeeeee},
            {QPalette::Button, 0x353535},
            {QPalette::ButtonText, 0xeeeeee},
            {QPalette::Highlight, 0x2f65ca},
            {QPalette::HighlightedText, 0xf5f5f5},
            {QPalette::Link, 0x7cb6ff},
            {QPalette::PlaceholderText, 0xa0a0a0},
            {QPalette::Light, 0x505050},
            {QPalette::Midlight, 0x404040},
            {QPalette::Mid, 0x2a2a2a},
            {QPalette::Dark, 0x202020},
            {QPalette::Shadow, 0x141414},
            {QPalette::ToolTipBase, 0x353535},
            {QPalette::ToolTipText, 0xeeeeee},
        };
        for (const auto& role : roles)
            dark.setColor(role.Role, QColor::fromRgb(role.Colour));
        return dark;
    }

    void SetUp() override {
        saved_ = QApplication::palette();
        TGuiTest::SetUp();
    }
    void TearDown() override {
        TGuiTest::TearDown();
        QApplication::setPalette(saved_);
    }

private:
    QPalette saved_;
};

int WhitePixels(const QImage& image) {
    int white = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xffffff) == 0xffffff)
                ++white;
        }
    }
    return white;
}

// The strongest contrast inside `area` (logical pixels) against `ground`: the text's own ink,
// as antialiasing only softens its edges.
double TextContrast(const QImage& image, QRect area, const QColor& ground) {
    const qreal scale = image.devicePixelRatio();
    const QRect pixels(
        QPoint(static_cast<int>(area.left() * scale), static_cast<int>(area.top() * scale)),
        area.size() * scale);
    double best = 1;
    for (int y = pixels.top(); y <= pixels.bottom() && y < image.height(); ++y) {
        for (int x = pixels.left(); x <= pixels.right() && x < image.width(); ++x)
            best = std::max(best, gui::ContrastRatio(image.pixelColor(x, y), ground));
    }
    return best;
}

QColor PixelAt(const QImage& image, QPoint at) {
    return image.pixelColor(at * image.devicePixelRatio());
}

TEST_F(DarkPaletteTest, NothingWhiteAndEveryTextReadable) {
    QApplication::setPalette(Dark());
    WriteConfig();
    WriteList({TServerRow("alpha", "http://127.0.0.1:1/"),
               TServerRow("beta", "http://127.0.0.1:1/", false),
               TServerRow("gamma", "http://127.0.0.1:1/", false)});
    gui::TMainForm& form = Start();
    form.show();
    RunCheck(); // alpha fails: a ball and a long description
    form.gridLink->selectRow(2);
    const QImage grid = GridImage();

    const QImage header = form.findChild<QWidget*>(QStringLiteral("panelHeader"))->grab().toImage();
    EXPECT_EQ(WhitePixels(header), 0) << "header band";
    EXPECT_EQ(WhitePixels(grid), 0) << "grid";
    const QImage titles = form.gridLink->horizontalHeader()->grab().toImage();
    EXPECT_EQ(WhitePixels(titles), 0) << "grid titles";
    // The logo's word mark on the band.
    EXPECT_GE(TextContrast(header, {46, 18, 90, 22}, PixelAt(header, {2, 2})), 4.5) << "logo";

    for (int row = 0; row < 3; ++row) {
        for (int column = 1; column < 4; ++column) {
            const QRect cell = form.gridLink->visualRect(form.GridModel().index(row, column));
            EXPECT_GE(
                TextContrast(grid, cell.adjusted(1, 1, -2, -2), CellPixel(grid, row, column, 1, 1)),
                4.5)
                << "row " << row << " column " << column;
        }
    }
    // Inactive rows still stand apart from active ones.
    EXPECT_GT(gui::ContrastRatio(CellPixel(grid, 0, 3, 1, 1), CellPixel(grid, 1, 3, 1, 1)), 1.5);
    QHeaderView* heading = form.gridLink->horizontalHeader();
    for (int column = 1; column < 4; ++column) {
        const QRect section(heading->sectionViewportPosition(column), 0,
                            heading->sectionSize(column), heading->height());
        EXPECT_GE(TextContrast(titles, section.adjusted(2, 2, -2, -2),
                               PixelAt(titles, {section.left() + 3, section.center().y()})),
                  4.5)
            << "title " << column;
    }

    gui::TFormAbout& about = Program().FormAbout();
    about.show();
    QApplication::processEvents();
    const QImage aboutImage = about.grab().toImage();
    EXPECT_EQ(WhitePixels(aboutImage), 0) << "about";
    const QColor ground = PixelAt(aboutImage, {3, 3});
    EXPECT_GE(TextContrast(aboutImage, about.Label1->geometry(), ground), 4.5) << "product";
    EXPECT_GE(TextContrast(aboutImage, about.Label2->geometry(), ground), 4.5) << "vendor link";
    EXPECT_GE(TextContrast(aboutImage, about.Image1->geometry().adjusted(46, 18, 0, 0), ground),
              4.5)
        << "about logo";
    about.hide();
}

// A desktop that changes its theme while the program runs: the windows follow, also the grid
// disabled during a run.
TEST_F(DarkPaletteTest, ALiveSwitchIsFollowed) {
    WriteConfig();
    WriteList({TServerRow("alpha", "http://127.0.0.1:1/"),
               TServerRow("beta", "http://127.0.0.1:1/", false)});
    gui::TMainForm& form = Start();
    form.show();
    RunCheck();
    gui::TFormAbout& about = Program().FormAbout();
    about.show();
    QApplication::processEvents();
    QApplication::setPalette(Dark());
    QApplication::processEvents();
    form.gridLink->setEnabled(false);
    EXPECT_EQ(WhitePixels(GridImage()), 0) << "grid";
    EXPECT_EQ(
        WhitePixels(form.findChild<QWidget*>(QStringLiteral("panelHeader"))->grab().toImage()), 0)
        << "header band";
    EXPECT_EQ(WhitePixels(about.grab().toImage()), 0) << "about";
    form.gridLink->setEnabled(true);
    about.hide();
}

} // namespace
} // namespace qrv::test
