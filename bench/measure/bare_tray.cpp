// A bare Qt 6 window with a tray icon and nothing else: the floor the program's memory is
// compared against. Built and run by app_footprint.sh.
#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare tray window"));
    window.resize(600, 400);
    QPixmap picture(16, 16);
    picture.fill(Qt::green);
    QSystemTrayIcon tray{QIcon(picture)};
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &app, &QApplication::quit);
    tray.setContextMenu(&menu);
    tray.setToolTip(QStringLiteral("bare"));
    tray.show();
    window.show();
    return app.exec();
}
