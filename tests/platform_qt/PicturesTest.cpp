#include "resources/Pictures.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QString>

#include <string>

using namespace qrv::gui;

namespace {

enum class TColour { Grey, Blue, Green, Red, Yellow, Dark, Other };

const char* Name(TColour c) {
    static const char* names[] = {"grey", "blue", "green", "red", "yellow", "dark", "other"};
    return names[static_cast<int>(c)];
}

TColour Classify(QColor c) {
    if (c.alpha() < 128)
        return TColour::Other;
    if (c.valueF() < 0.4)
        return TColour::Dark;
    if (c.hsvSaturationF() < 0.15)
        return TColour::Grey;
    const int hue = c.hsvHue();
    if (hue < 20 || hue > 340)
        return TColour::Red;
    if (hue >= 40 && hue <= 65)
        return TColour::Yellow;
    if (hue >= 90 && hue <= 160)
        return TColour::Green;
    if (hue >= 195 && hue <= 250)
        return TColour::Blue;
    return TColour::Other;
}

TColour ColourAt(const QString& path, QSize size, QPoint at) {
    const QImage image = RenderPicture(path, size).toImage();
    return Classify(image.pixelColor(at));
}

TEST(Pictures, EveryPictureLoadsAtItsSizeThroughBothWays) {
    struct {
        QString Path;
        QSize Size;
    } rows[] = {
        {QString::fromLatin1(PictureAppIcon), {48, 48}},
        {QString::fromLatin1(PictureHeaderLogo), {143, 60}},
        {QString::fromLatin1(PictureMode0), {256, 40}},
        {QString::fromLatin1(PictureWarning), {40, 40}},
    };
    std::vector<std::pair<QString, QSize>> all;
    for (const auto& row : rows)
        all.emplace_back(row.Path, row.Size);
    for (int i = 0; i < StatusPictureCount; ++i)
        all.emplace_back(StatusPicturePath(i), QSize(16, 16));
    for (int i = 0; i < TrayPictureCount; ++i)
        all.emplace_back(TrayPicturePath(i), QSize(16, 16));
    for (int i = 0; i < SemaforPictureCount; ++i)
        all.emplace_back(SemaforPicturePath(i), QSize(60, 60));
    for (int i = 0; i < ModePictureCount; ++i)
        all.emplace_back(ModePicturePath(i), QSize(256, 40));

    for (const auto& [path, size] : all) {
        const std::string name = path.toStdString();
        const QPixmap drawn = RenderPicture(path, size);
        ASSERT_FALSE(drawn.isNull()) << name;
        EXPECT_EQ(drawn.size(), size) << name;
        // Designed at that size, so that the image plugin's own reading gives it too.
        QImageReader reader(path);
        EXPECT_EQ(reader.size(), size) << name << ": " << reader.errorString().toStdString();
        EXPECT_FALSE(QPixmap(path).isNull()) << name << ": the SVG image plugin did not load it";
    }
    EXPECT_TRUE(RenderPicture(QStringLiteral(":/pictures/none.svg"), {16, 16}).isNull());
    EXPECT_TRUE(RenderPicture(StatusPicturePath(0), {0, 0}).isNull());
}

TEST(Pictures, IndicesGiveTheirColours) {
    struct {
        QString Path;
        QSize Size;
        QPoint At;
        TColour Expected;
    } const rows[] = {
        {StatusPicturePath(0), {16, 16}, {8, 8}, TColour::Grey},
        {StatusPicturePath(1), {16, 16}, {8, 8}, TColour::Blue},
        {StatusPicturePath(2), {16, 16}, {8, 8}, TColour::Green},
        {StatusPicturePath(3), {16, 16}, {8, 8}, TColour::Red},
        {StatusPicturePath(4), {16, 16}, {8, 8}, TColour::Yellow},
        {TrayPicturePath(0), {16, 16}, {8, 11}, TColour::Green},
        {TrayPicturePath(1), {16, 16}, {8, 11}, TColour::Red},
        {TrayPicturePath(2), {16, 16}, {8, 11}, TColour::Yellow},
        {QString::fromLatin1(PictureAppIcon), {48, 48}, {24, 33}, TColour::Blue},
        {QString::fromLatin1(PictureWarning), {40, 40}, {12, 30}, TColour::Yellow},
        // Traffic lights: red lamp on top, yellow in the middle, green at the bottom.
        {SemaforPicturePath(0), {60, 60}, {30, 48}, TColour::Green},
        {SemaforPicturePath(0), {60, 60}, {30, 12}, TColour::Dark},
        {SemaforPicturePath(0), {60, 60}, {30, 30}, TColour::Dark},
        {SemaforPicturePath(1), {60, 60}, {30, 12}, TColour::Red},
        {SemaforPicturePath(1), {60, 60}, {30, 48}, TColour::Dark},
        {SemaforPicturePath(2), {60, 60}, {30, 30}, TColour::Yellow},
        {SemaforPicturePath(2), {60, 60}, {30, 48}, TColour::Dark},
    };
    for (const auto& row : rows) {
        const TColour got = ColourAt(row.Path, row.Size, row.At);
        EXPECT_EQ(got, row.Expected)
            << row.Path.toStdString() << " at " << row.At.x() << "," << row.At.y() << ": "
            << Name(got) << " instead of " << Name(row.Expected);
    }
}

TEST(Pictures, BackgroundFillsTheTransparentPartsAndIndicesAreBounded) {
    const QImage ball = RenderPicture(StatusPicturePath(2), {16, 16}, Qt::white).toImage();
    EXPECT_EQ(ball.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(Classify(ball.pixelColor(8, 8)), TColour::Green);

    for (int bad : {-1, 5, 100})
        EXPECT_TRUE(StatusPicturePath(bad).isEmpty()) << bad;
    EXPECT_TRUE(TrayPicturePath(3).isEmpty());
    EXPECT_TRUE(SemaforPicturePath(3).isEmpty());
    EXPECT_TRUE(ModePicturePath(1).isEmpty());

    const QIcon icon = AppIcon();
    for (int size : {16, 48})
        EXPECT_EQ(icon.pixmap(QSize(size, size)).size(), QSize(size, size)) << size;
}

} // namespace
