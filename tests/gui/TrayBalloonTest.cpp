// The balloon window of an XEmbed tray, reused for every balloon: each one is laid out afresh
// from its own text, whatever the balloon before it was.

#include "shell/app/TrayBalloon.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>

#include <gtest/gtest.h>

namespace qrv::test {
namespace {

using gui::TTrayBalloon;

struct TShown {
    const char* Case;
    QString Title;
    QString Text;
};

TEST(TrayBalloon, EachBalloonInARowIsSizedFromItsOwnText) {
    const QString page = QStringLiteral(
        "<html><head><title>Maintenance</title></head>\r\n<body>The service is down for "
        "scheduled maintenance and will be back shortly. We apologise for any inconvenience "
        "this may cause to you and your users.</body></html>");
    const QString longName = QStringLiteral("Unable to load '") + QString(90, QLatin1Char('w')) +
                             QStringLiteral(".example.com intranet portal'");
    const std::vector<TShown> rows = {
        {"long wrong response", QStringLiteral("Response error"),
         QStringLiteral("Wrong response 'shop': ") + page},
        {"short after long", QStringLiteral("Slow load"), QStringLiteral("Slow load 'shop'")},
        {"long name, one word", QStringLiteral("Load error"), longName},
        {"short after a long word", QStringLiteral("Slow load"), QStringLiteral("Slow load 'a'")},
        {"no title", QString(), QStringLiteral("Unable to check servers.")},
        {"offline", QStringLiteral("Offline"),
         QStringLiteral("Unable to check servers. You are probably offline.")},
    };

    TTrayBalloon balloon;
    const QRect anchor(700, 570, 22, 26); // an icon at the bottom right
    const int maxWidth = balloon.MaxTextWidth();
    const int lineHeight = QFontMetrics(balloon.Body()->font()).lineSpacing();
    ASSERT_GT(maxWidth, 240);
    for (const TShown& row : rows) {
        SCOPED_TRACE(row.Case);
        balloon.Show(row.Title, row.Text, QStyle::SP_MessageBoxCritical, true, 10000, anchor);
        QApplication::processEvents();
        ASSERT_TRUE(balloon.isVisible());
        const QRect window = balloon.rect();
        const QWidget* body = balloon.Body();
        // Every line of the text fits into the text's own place, and that place into the window.
        const QSize needed = balloon.Body()->NeededSize(body->width());
        EXPECT_LE(needed.width(), body->width());
        EXPECT_LE(needed.height(), body->height());
        EXPECT_LE(body->width(), maxWidth);
        EXPECT_TRUE(window.contains(body->geometry())) << body->geometry().height();
        // No room left over from the balloon before: the text is as tall as it needs.
        EXPECT_EQ(body->height(), needed.height());
        if (!row.Title.isEmpty()) {
            const QLabel* title = balloon.Title();
            EXPECT_TRUE(title->isVisible());
            EXPECT_EQ(title->text(), row.Title);
            EXPECT_LE(QFontMetrics(title->font()).horizontalAdvance(title->text()), title->width());
            EXPECT_TRUE(window.contains(title->geometry()));
        } else {
            EXPECT_FALSE(balloon.Title()->isVisible());
        }
        // A text that fits on one line at the widest keeps to one line; a long one wraps wide,
        // not into a narrow column.
        const int lines = (body->height() + lineHeight / 2) / lineHeight;
        const int oneLine = QFontMetrics(body->font()).horizontalAdvance(row.Text);
        if (oneLine <= maxWidth) {
            EXPECT_EQ(lines, 1);
            EXPECT_LE(body->width(), oneLine + 1);
        } else {
            EXPECT_GE(body->width(), maxWidth * 3 / 4);
            EXPECT_LE(lines, oneLine / (maxWidth * 3 / 4) + 2);
        }
        // Inside the screen, beside the icon.
        const QRect screen = balloon.screen()->availableGeometry();
        EXPECT_TRUE(screen.contains(balloon.frameGeometry())) << row.Case;
    }
}

TEST(TrayBalloon, LineBreaksOfAnyKindBreakTheLineAndAClickDismisses) {
    TTrayBalloon balloon;
    const QRect anchor(10, 10, 22, 26);
    balloon.Show(QStringLiteral("Response error"), QStringLiteral("one\r\ntwo\rthree\nfour"),
                 QStyle::SP_MessageBoxCritical, false, 10000, anchor);
    const int lineHeight = QFontMetrics(balloon.Body()->font()).lineSpacing();
    EXPECT_EQ((balloon.Body()->height() + lineHeight / 2) / lineHeight, 4);
    // An icon at the top: the balloon below it.
    EXPECT_GT(balloon.y(), anchor.bottom());

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), balloon.mapToGlobal(QPointF(5, 5)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&balloon, &press);
    EXPECT_FALSE(balloon.isVisible());
}

} // namespace
} // namespace qrv::test
