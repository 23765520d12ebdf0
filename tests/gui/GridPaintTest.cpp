// What the server grid paints, read back from its pixels: the status icon table and the grey
// of inactive rows.

#include "GuiTestSupport.h"

#include "resources/Pictures.h"
#include "shell/app/ServerGrid.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

namespace qrv::test {
namespace {

using engine::TField;

using GridPaintTest = TGuiTest;

// The centre colour of a status picture as the grid draws it (over white).
QColor PictureCentre(int index) {
    return gui::RenderPicture(gui::StatusPicturePath(index), QSize(16, 16), Qt::white)
        .toImage()
        .pixelColor(8, 8);
}

bool Near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 8 && std::abs(a.green() - b.green()) <= 8 &&
           std::abs(a.blue() - b.blue()) <= 8;
}

void SetStatus(gui::TMainForm& form, int row, const std::string& status, bool active) {
    form.setServer.MoveTo(row);
    form.setServer.Edit();
    form.setServer.SetString(TField::Status, status);
    form.setServer.SetBoolean(TField::Active, active);
    form.setServer.Post();
}

TEST_F(GridPaintTest, StatusIconsByExactStatus) {
    struct TCase {
        const char* Status;
        std::optional<int> Picture;
    };
    const std::vector<TCase> cases = {
        {"ERR_LOAD", 0},
        {"CHECK", 1},
        {"OK", 2},
        {"ERR_RESP", 3},
        {"ERR_SLOW", 3},
        {"OFFLINE", 4},
        {"", std::nullopt},
        {"ok", std::nullopt},
        {" OK", std::nullopt},
        {"err_load", std::nullopt},
    };
    // The pictures differ from each other and from the background, or the test proves nothing.
    for (int i = 0; i < 5; ++i) {
        for (int j = i + 1; j < 5; ++j) {
            if (!(i == 3 && j == 3)) {
                EXPECT_FALSE(Near(PictureCentre(i), PictureCentre(j))) << i << " " << j;
            }
        }
    }
    WriteConfig();
    std::vector<TServerRow> rows;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        rows.push_back({"server" + std::to_string(10 + i)});
    }
    rows.push_back({"zz last"});
    WriteList(rows);
    gui::TMainForm& form = Start();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SetStatus(form, static_cast<int>(i), cases[i].Status, true);
    }
    // The cursor (and with it the selection) rests on a row of its own, so that every icon
    // shows on the plain background.
    form.setServer.Last();
    form.gridLink->resize(form.gridLink->width(), 400);
    const QImage image = GridImage();
    const QColor base = form.gridLink->palette().color(QPalette::Base);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const int row = static_cast<int>(i);
        const QColor centre = CellPixel(image, row, 0, 8, 8);
        if (cases[i].Picture) {
            EXPECT_TRUE(Near(centre, PictureCentre(*cases[i].Picture)))
                << "'" << cases[i].Status << "' " << centre.name().toStdString();
        } else {
            EXPECT_TRUE(Near(centre, base))
                << "'" << cases[i].Status << "' " << centre.name().toStdString();
        }
        EXPECT_EQ(gui::StatusPictureIndex(cases[i].Status), cases[i].Picture) << cases[i].Status;
    }
}

TEST_F(GridPaintTest, InactiveRowsAreGreyInEveryCellEvenWhenSelected) {
    WriteConfig();
    WriteList({{"a"}, {"b"}, {"c"}});
    gui::TMainForm& form = Start();
    SetStatus(form, 0, "OK", true);
    SetStatus(form, 1, "ERR_RESP", false);
    SetStatus(form, 2, "OK", false); // inactive and selected: the cursor rests here
    ASSERT_EQ(form.gridLink->currentIndex().row(), 2);
    const QImage image = GridImage();
    const QColor grey(128, 128, 128);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column) {
            // The far corner of the cell: background, away from the text and below the icon's
            // 16 x 16 square (whose white fills the picture's transparent parts).
            const QRect cell = form.gridLink->visualRect(form.GridModel().index(row, column));
            ASSERT_GT(cell.height(), 16);
            const QColor corner =
                CellPixel(image, row, column, cell.width() - 2, cell.height() - 1);
            if (row == 0) {
                EXPECT_FALSE(Near(corner, grey)) << row << "," << column;
            } else {
                EXPECT_TRUE(Near(corner, grey))
                    << row << "," << column << " " << corner.name().toStdString();
            }
        }
        // Each inactive row still shows the icon of its last status.
        EXPECT_FALSE(Near(CellPixel(image, row, 0, 8, 8), grey)) << row;
    }
    EXPECT_TRUE(Near(CellPixel(image, 1, 0, 8, 8), PictureCentre(3)));
}

// A long list brings the vertical scroll bar; the columns give way to it instead of pushing the
// grid into a horizontal bar that would hide a row and cut the vertical bar's edge.
TEST_F(GridPaintTest, ColumnsFitTheGridWithAndWithoutTheVerticalBar) {
    for (const int count : {3, 12, 40}) {
        SCOPED_TRACE(count);
        WriteConfig();
        std::vector<TServerRow> rows;
        for (int i = 0; i < count; ++i) {
            rows.emplace_back("server" + std::to_string(100 + i));
        }
        WriteList(rows);
        gui::TMainForm& form = Start();
        form.show();
        QTableView& grid = *form.gridLink;
        ASSERT_TRUE(WaitUntil([&] { return grid.isVisible(); }, 5000));
        WaitUntil([] { return false; }, 100); // the bars settle
        const bool tall = count > 3;
        EXPECT_EQ(grid.verticalScrollBar()->isVisible(), tall);
        EXPECT_FALSE(grid.horizontalScrollBar()->isVisible());
        EXPECT_LE(grid.horizontalHeader()->length(), grid.viewport()->width());
        // The fixed columns keep their widths; only the description gives way, and only as
        // much as the bar takes.
        EXPECT_EQ(grid.columnWidth(0), 16);
        EXPECT_EQ(grid.columnWidth(1), 203);
        const int description = grid.columnWidth(3);
        if (tall) {
            EXPECT_EQ(grid.horizontalHeader()->length(), grid.viewport()->width());
        } else {
            EXPECT_EQ(description, 265);
        }
        // The last row can be scrolled fully into view.
        grid.scrollToBottom();
        const QRect last = grid.visualRect(form.GridModel().index(count - 1, 3));
        EXPECT_LE(last.bottom(), grid.viewport()->height());
        Stop();
    }
}

} // namespace
} // namespace qrv::test
