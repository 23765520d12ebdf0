#include "shell/window/WindowFonts.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QString>

#include <algorithm>

namespace qrv::gui {

std::vector<int> LoadWindowFonts(const std::vector<std::string>& folders) {
    std::vector<int> ids;
    for (const std::string& folder : folders) {
        for (const char* file : {"tahoma.ttf", "tahomabd.ttf"}) {
            const QString path =
                QString::fromStdString(folder) + QLatin1Char('/') + QString::fromLatin1(file);
            if (!QFileInfo::exists(path)) {
                continue;
            }
            const int id = QFontDatabase::addApplicationFont(path);
            if (id >= 0) {
                ids.push_back(id);
            }
        }
        if (!ids.empty()) {
            break;
        }
    }
    return ids;
}

namespace {

// The room from the label's left edge to the nearest sibling that starts to its right on the
// same line, or to the parent's edge.
int Room(const QLabel* label, const QRect& designed) {
    const QWidget* parent = label->parentWidget();
    int right = parent != nullptr ? parent->width() : designed.left() + designed.width();
    if (parent != nullptr) {
        for (const QObject* child : parent->children()) {
            const auto* sibling = qobject_cast<const QWidget*>(child);
            if (sibling == nullptr || sibling == label || sibling->isHidden() ||
                sibling->isWindow()) {
                continue;
            }
            const QRect other = sibling->geometry();
            const bool sameLine =
                other.top() <= designed.bottom() && designed.top() <= other.bottom();
            if (sameLine && other.left() > designed.left()) {
                // A few pixels apart, as the designed layout keeps its controls.
                right = std::min(right, other.left() - 4);
            }
        }
    }
    return std::max(designed.width(), right - designed.left());
}

} // namespace

void FitLabel(QLabel* label, const QRect& designed) {
    // Start from the font the label inherits (or was given), not from an earlier condensing.
    if (label->property("qrvCondensed").toBool()) {
        QFont font = label->font();
        font.setStretch(QFont::AnyStretch);
        label->setFont(font);
        label->setProperty("qrvCondensed", false);
    }
    const int room = Room(label, designed);
    QSize hint = label->sizeHint();
    if (!label->wordWrap() && hint.width() > room) {
        QFont font = label->font();
        for (int stretch = 95; stretch >= 60 && hint.width() > room; stretch -= 5) {
            font.setStretch(stretch);
            label->setFont(font);
            hint = label->sizeHint();
        }
        label->setProperty("qrvCondensed", true);
    }
    label->resize(std::clamp(hint.width(), designed.width(), room),
                  std::max(designed.height(), hint.height()));
}

} // namespace qrv::gui
