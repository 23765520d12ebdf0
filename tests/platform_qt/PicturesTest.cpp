#include "resources/Pictures.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>
#include <QPalette>

#include <string>

using namespace qrv::gui;

namespace {

// Colour names by hue, for "is the ball at index 3 red" questions.
std::string ColourName(QColor c) {
    if (c.alpha() < 128)
        return "clear";
    if (c.valueF() < 0.4)
        return "dark";
    if (c.hsvSaturationF() < 0.15)
        return "grey";
    const int hue = c.hsvHue();
    return hue < 20 || hue > 340      ? "red"
           : hue >= 40 && hue <= 65   ? "yellow"
           : hue >= 90 && hue <= 160  ? "green"
           : hue >= 195 && hue <= 250 ? "blue"
                                      : "other";
}

TEST(Pictures, EachLoadsAtItsSizeWithItsColourWhereTheWindowLooks) {
    const QString icon = QString::fromLatin1(PictureAppIcon);
    const QString warning = QString::fromLatin1(PictureWarning);
    struct {
        QString Path;
        QSize Size;
        QPoint At;
        const char* Colour;
    } const rows[] = {
        {StatusPicturePath(0), {16, 16}, {8, 8}, "grey"},
        {StatusPicturePath(1), {16, 16}, {8, 8}, "blue"},
        {StatusPicturePath(2), {16, 16}, {8, 8}, "green"},
        {StatusPicturePath(3), {16, 16}, {8, 8}, "red"},
        {StatusPicturePath(4), {16, 16}, {8, 8}, "yellow"},
        {TrayPicturePath(0), {16, 16}, {8, 11}, "green"},
        {TrayPicturePath(1), {16, 16}, {8, 11}, "red"},
        {TrayPicturePath(2), {16, 16}, {8, 11}, "yellow"},
        // Traffic lights: red lamp on top, yellow in the middle, green at the bottom.
        {SemaforPicturePath(0), {60, 60}, {30, 48}, "green"},
        {SemaforPicturePath(0), {60, 60}, {30, 12}, "dark"},
        {SemaforPicturePath(1), {60, 60}, {30, 12}, "red"},
        {SemaforPicturePath(1), {60, 60}, {30, 30}, "dark"},
        {SemaforPicturePath(2), {60, 60}, {30, 30}, "yellow"},
        {SemaforPicturePath(2), {60, 60}, {30, 48}, "dark"},
        {icon, {48, 48}, {24, 33}, "blue"},
        {warning, {40, 40}, {12, 30}, "yellow"},
        {QString::fromLatin1(PictureHeaderLogo), {143, 60}, {2, 2}, "grey"}, // white band
        {ModePicturePath(0), {256, 40}, {6, 21}, "blue"},
    };
    for (const auto& row : rows) {
        const std::string name = row.Path.toStdString();
        const QImage image = RenderPicture(row.Path, row.Size).toImage();
        ASSERT_EQ(image.size(), row.Size) << name;
        EXPECT_EQ(ColourName(image.pixelColor(row.At)), row.Colour) << name;
        // Designed at that size, and readable through Qt's SVG image plugin as well.
        QImageReader reader(row.Path);
        EXPECT_EQ(reader.size(), row.Size) << name;
        EXPECT_FALSE(QPixmap(row.Path).isNull()) << name;
    }
}

TEST(Pictures, BackgroundIndicesAndIconSizes) {
    const QImage ball = RenderPicture(StatusPicturePath(2), {16, 16}, Qt::white).toImage();
    EXPECT_EQ(ball.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(ColourName(ball.pixelColor(8, 8)), "green");
    EXPECT_TRUE(RenderPicture(StatusPicturePath(0), {0, 0}).isNull());
    EXPECT_TRUE(RenderPicture(QStringLiteral(":/pictures/none.svg"), {16, 16}).isNull());
    for (const QString& outside : {StatusPicturePath(-1), StatusPicturePath(5), TrayPicturePath(3),
                                   SemaforPicturePath(3), ModePicturePath(1)})
        EXPECT_TRUE(outside.isEmpty());
    for (int size : {16, 48})
        EXPECT_EQ(AppIcon().pixmap(QSize(size, size)).size(), QSize(size, size));
}

TEST(Pictures, OnAPalettesGround) {
    const QString logo = QString::fromLatin1(PictureHeaderLogo);
    // A light ground draws the picture as designed, pixel for pixel.
    QPalette light;
    light.setColor(QPalette::Base, Qt::white);
    EXPECT_EQ(RenderPictureOn(logo, {143, 60}, 1, light).toImage(),
              RenderPicture(logo, {143, 60}).toImage());
    // A dark one takes its ground and its ink from the palette.
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(0x23, 0x23, 0x23));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    const QImage image = RenderPictureOn(logo, {143, 60}, 2, dark).toImage();
    EXPECT_EQ(image.size(), QSize(286, 120));
    EXPECT_EQ(image.pixelColor(4, 4), QColor(0x23, 0x23, 0x23));

    EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(QColor(128, 128, 128), Qt::black), 5.32, 0.01);
    EXPECT_NEAR(ContrastRatio(Qt::red, Qt::red), 1.0, 1e-9);
}

} // namespace
