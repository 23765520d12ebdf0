#include "resources/Pictures.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <QtMath>
#include <algorithm>
#include <cmath>

namespace qrv::gui {

namespace {

QString Indexed(const char* stem, int index, int count) {
    if (index < 0 || index >= count)
        return {};
    return QStringLiteral(":/pictures/%1%2.svg").arg(QLatin1String(stem)).arg(index);
}

} // namespace

QString StatusPicturePath(int index) {
    return Indexed("status", index, StatusPictureCount);
}
QString TrayPicturePath(int index) {
    return Indexed("tray", index, TrayPictureCount);
}
QString SemaforPicturePath(int index) {
    return Indexed("semafor", index, SemaforPictureCount);
}
QString ModePicturePath(int index) {
    return Indexed("mode", index, ModePictureCount);
}

QPixmap RenderPicture(const QString& path, QSize size, const QColor& background) {
    return RenderPictureAt(path, size, 1.0, background);
}

namespace {

QPixmap Render(QSvgRenderer& renderer, QSize size, qreal ratio, const QColor& background) {
    size = QSize(qCeil(size.width() * ratio), qCeil(size.height() * ratio));
    if (!renderer.isValid())
        return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size.width(), size.height()));
    painter.end();
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

double Luminance(const QColor& colour) {
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

} // namespace

QPixmap RenderPictureAt(const QString& path, QSize size, qreal ratio, const QColor& background) {
    if (path.isEmpty() || size.isEmpty() || !(ratio > 0))
        return {};
    QSvgRenderer renderer(path);
    return Render(renderer, size, ratio, background);
}

QPixmap RenderPictureOn(const QString& path, QSize size, qreal ratio, const QPalette& palette) {
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    if (Luminance(base) >= 0.5)
        return RenderPictureAt(path, size, ratio);
    if (path.isEmpty() || size.isEmpty() || !(ratio > 0))
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray svg = file.readAll();
    const QColor blue(0x2b, 0x6f, 0xd6);
    const QColor glow((base.red() * 3 + blue.red()) / 4, (base.green() * 3 + blue.green()) / 4,
                      (base.blue() * 3 + blue.blue()) / 4);
    svg.replace("#ffffff", base.name().toLatin1());
    svg.replace("#e6efff", glow.name().toLatin1());
    svg.replace("#123f86", palette.color(QPalette::Active, QPalette::Text).name().toLatin1());
    QSvgRenderer renderer(svg);
    return Render(renderer, size, ratio, Qt::transparent);
}

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(RenderPicture(QString::fromLatin1(PictureAppIcon), QSize(size, size)));
    return icon;
}

} // namespace qrv::gui
