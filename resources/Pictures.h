#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QSize>
#include <QString>

// The program's pictures, compiled in as Qt resources under ":/pictures" by the target
// qrv_pictures (resources/pictures.cmake). All are SVG; RenderPicture draws them at the size a
// component needs without depending on the SVG image-format plugin.
namespace qrv::gui {

inline constexpr char PictureAppIcon[] = ":/pictures/quorvane.svg"; // blue paw print
inline constexpr char PictureHeaderLogo[] = ":/pictures/logo.svg";  // 143 x 60, imageHeader
inline constexpr char PictureMode0[] = ":/pictures/mode0.svg";      // 256 x 40, imagelistMode[0]
inline constexpr char PictureWarning[] = ":/pictures/warning.svg";  // 40 x 40, buttonWarning

inline constexpr int StatusPictureCount = 5;  // 16 x 16: 0 grey, 1 blue, 2 green, 3 red, 4 yellow
inline constexpr int TrayPictureCount = 3;    // 16 x 16 paws: 0 green, 1 red, 2 yellow
inline constexpr int SemaforPictureCount = 3; // 60 x 60 lights: 0 green, 1 red, 2 yellow
inline constexpr int ModePictureCount = 1;    // 256 x 40

// ":/pictures/status<i>.svg", ":/pictures/tray<i>.svg", ":/pictures/semafor<i>.svg",
// ":/pictures/mode<i>.svg"; an empty string for an index out of range.
QString StatusPicturePath(int index);
QString TrayPicturePath(int index);
QString SemaforPicturePath(int index);
QString ModePicturePath(int index);

// Draws the SVG at `path` into a pixmap of exactly `size`, over `background` (transparent unless
// given). A null pixmap when the picture cannot be loaded.
QPixmap RenderPicture(const QString& path, QSize size, const QColor& background = Qt::transparent);

// The same for a screen with `ratio` device pixels per logical pixel: `size` is logical, the
// pixmap holds size x ratio device pixels and carries the ratio, so it is drawn sharp rather
// than enlarged. A ratio of 1 gives exactly RenderPicture's pixels.
QPixmap RenderPictureAt(const QString& path, QSize size, qreal ratio,
                        const QColor& background = Qt::transparent);

// The same for a picture shown on the palette's base colour. The pictures are drawn for a light
// ground; when the base is dark, their white ground becomes the base and their dark-blue ink the
// palette's text colour, so they neither stand out as a white block nor vanish. On a light base
// this is exactly RenderPictureAt.
QPixmap RenderPictureOn(const QString& path, QSize size, qreal ratio, const QPalette& palette);

// The contrast ratio of two opaque colours by their relative luminance, from 1 to 21.
double ContrastRatio(const QColor& a, const QColor& b);

// The application icon at 16, 22, 24, 32, 48 and 64 pixels.
QIcon AppIcon();

} // namespace qrv::gui
