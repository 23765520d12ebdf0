#include "shell/app/TrayBalloon.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTextLayout>
#include <QTextOption>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace qrv::gui {

namespace {

// About as wide as a notification area's balloon: a long text wraps into a few lines of
// readable length, not into a column as narrow as the title.
constexpr int kMaxTextChars = 52;
constexpr int kScreenMargin = 8;

} // namespace

TBalloonText::TBalloonText(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void TBalloonText::SetText(const QString& text) {
    // A page text may hold line breaks of any kind; the layout breaks only at line separators.
    text_ = text;
    text_.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    text_.replace(QLatin1Char('\r'), QChar::LineSeparator);
    text_.replace(QLatin1Char('\n'), QChar::LineSeparator);
    updateGeometry();
    update();
}

QSizeF TBalloonText::LayOut(QTextLayout& layout, qreal width) const {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    qreal widest = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return {widest, y};
}

QSize TBalloonText::NeededSize(int maxWidth) const {
    QTextLayout layout(text_, font(), this);
    const QSizeF size = LayOut(layout, std::max(1, maxWidth));
    // Laid out again at its widest line, the text breaks at the same places.
    return {std::min(maxWidth, static_cast<int>(std::ceil(size.width()))),
            static_cast<int>(std::ceil(size.height()))};
}

int TBalloonText::heightForWidth(int width) const {
    return NeededSize(width).height();
}

QSize TBalloonText::sizeHint() const {
    return NeededSize(width() > 0 ? width() : QWIDGETSIZE_MAX);
}

void TBalloonText::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    QTextLayout layout(text_, font(), this);
    LayOut(layout, width());
    layout.draw(&painter, QPointF(0, 0));
}

TTrayBalloon::TTrayBalloon()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("TrayBalloon"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* row = new QHBoxLayout(this);
    // The window always takes the size its layout asks for, at once and synchronously.
    row->setSizeConstraint(QLayout::SetFixedSize);
    picture_ = new QLabel(this);
    picture_->setAlignment(Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("balloonTitle"));
    title_->setTextFormat(Qt::PlainText); // server names are no markup
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    text_ = new TBalloonText(this);
    text_->setObjectName(QStringLiteral("balloonText"));
    texts->addWidget(title_);
    texts->addWidget(text_);
    texts->addStretch();
    row->addWidget(picture_, 0, Qt::AlignTop);
    row->addLayout(texts);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &QWidget::hide);
}

int TTrayBalloon::MaxTextWidth() const {
    int width = QFontMetrics(text_->font()).averageCharWidth() * kMaxTextChars;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const int room = screen->availableGeometry().width() - 2 * kScreenMargin - 64;
        width = std::min(width, std::max(room, 120));
    }
    return width;
}

void TTrayBalloon::Show(const QString& title, const QString& text, QStyle::StandardPixmap kind,
                        bool picture, int timeoutMs, const QRect& anchor) {
    const int maxWidth = MaxTextWidth();
    const QFontMetrics titleMetrics(title_->font());
    const QString shownTitle = titleMetrics.elidedText(title, Qt::ElideRight, maxWidth);
    title_->setText(shownTitle);
    title_->setVisible(!title.isEmpty());
    text_->SetText(text);
    picture_->setVisible(picture);
    if (picture) {
        picture_->setPixmap(style()->standardIcon(kind).pixmap(32, 32));
    }

    // Every balloon is laid out from scratch: the column is as wide as the title or the text
    // needs, up to the maximum, and the text as tall as it wraps at that width. Sizes left over
    // from the balloon before must never survive (a short balloon after a long one, or the
    // other way round, was cut off or left with empty space).
    // Measured, not asked of the label: its size hint keeps the width it was fixed to.
    const int titleWidth = title.isEmpty() ? 0 : titleMetrics.horizontalAdvance(shownTitle) + 1;
    const int column =
        std::min(maxWidth, std::max({titleWidth, text_->NeededSize(maxWidth).width(), 1}));
    title_->setFixedWidth(column);
    text_->setFixedSize(column, text_->NeededSize(column).height());
    layout()->invalidate();
    layout()->activate();

    Place(anchor);
    show();
    raise();
    timer_.start(timeoutMs);
}

void TTrayBalloon::mousePressEvent(QMouseEvent* event) {
    // A click dismisses the balloon, as the notification area's own do.
    timer_.stop();
    hide();
    event->accept();
}

// Beside the tray icon, inside the screen: above an icon in the lower half, else below.
void TTrayBalloon::Place(const QRect& anchor) {
    const QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect area =
        screen != nullptr ? screen->availableGeometry() : QRect(anchor.topLeft(), size());
    QPoint at(anchor.right() - width(), anchor.bottom() + 4);
    if (anchor.center().y() > area.center().y()) {
        at.setY(anchor.top() - height() - 4);
    }
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    move(at);
}

} // namespace qrv::gui
