#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStyle>
#include <QTimer>
#include <QWidget>

class QLabel;
class QTextLayout;

namespace qrv::gui {

// A balloon's text: wrapped at word boundaries, and inside a word only where a word alone is
// wider than the line (a long server name or address), so that nothing is ever cut off.
class TBalloonText : public QWidget {
public:
    explicit TBalloonText(QWidget* parent);

    void SetText(const QString& text); // CR LF, CR and LF each break the line
    const QString& Text() const { return text_; }
    // The size the text takes when wrapped at `maxWidth`: no wider than its widest line.
    QSize NeededSize(int maxWidth) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSizeF LayOut(QTextLayout& layout, qreal width) const;

    QString text_;
};

// The balloon of a tray icon in an XEmbed notification area. Qt draws such balloons in a new
// window for every message and never gives all of that window's memory back (about 3 kB a
// balloon with Qt 6.4), so a station that shows balloons every run grew for as long as it ran.
// This one window is made once and reused: a new balloon replaces the old one in place, and is
// sized afresh from its own title and text.
class TTrayBalloon : public QWidget {
public:
    TTrayBalloon();

    void Show(const QString& title, const QString& text, QStyle::StandardPixmap kind, bool picture,
              int timeoutMs, const QRect& anchor);

    // The widest the text may grow before it wraps, for the window's font and the screen.
    int MaxTextWidth() const;

    const QLabel* Title() const { return title_; }
    const TBalloonText* Body() const { return text_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void Place(const QRect& anchor);

    QLabel* picture_ = nullptr;
    QLabel* title_ = nullptr;
    TBalloonText* text_ = nullptr;
    QTimer timer_;
};

} // namespace qrv::gui
