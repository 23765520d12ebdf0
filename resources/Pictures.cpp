#include "resources/Pictures.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtMath>

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

QPixmap RenderPictureAt(const QString& path, QSize size, qreal ratio, const QColor& background) {
    if (path.isEmpty() || size.isEmpty() || !(ratio > 0))
        return {};
    size = QSize(qCeil(size.width() * ratio), qCeil(size.height() * ratio));
    QSvgRenderer renderer(path);
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

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(RenderPicture(QString::fromLatin1(PictureAppIcon), QSize(size, size)));
    return icon;
}

} // namespace qrv::gui
