// The program entry: single instance, the five windows, the event loop.

#include "i18n/Translate.h"
#include "i18n/qt/ToolkitTranslation.h"
#include "platform/SingleInstance.h"
#include "platform/qt/DesktopNotifier.h"
#include "shell/app/Application.h"
#include "shell/app/EndSignals.h"
#include "shell/app/Program.h"
#include "shell/window/MessageBox.h"
#include "shell/window/WindowFonts.h"

#include <QMetaObject>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QString>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <unistd.h>

namespace {

bool Empty(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0';
}

// When the display goes away (the X server or the compositor dies, a session ends without a
// session manager), the toolkit reports the broken connection and ends the process at once
// with exit(1), from inside its event processing: main is never left and the list would never
// be written. The report is the last moment at which everything still lives, so the list is
// saved there; the exit that follows then ends the process with status 0, as every end does.
qrv::gui::TMainForm* g_endForm = nullptr; // while the event loop runs
bool g_endSaved = false;
QtMessageHandler g_previousHandler = nullptr;

void SaveBeforeToolkitExit() {
    if (g_endForm == nullptr || g_endSaved) {
        return;
    }
    g_endSaved = true;
    try {
        g_endForm->EndWithoutDisplay();
    } catch (...) {
    }
}

void OnToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (g_previousHandler != nullptr) {
        g_previousHandler(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    }
    // The list belongs to the user-interface thread; that is where the toolkit finds the break.
    if (type != QtDebugMsg && type != QtInfoMsg &&
        text.contains(QStringLiteral("connection broke")) &&
        QThread::currentThread() == QCoreApplication::instance()->thread()) {
        SaveBeforeToolkitExit();
    }
}

// Runs when the process ends through exit() while the event loop still runs. Only the toolkit's
// exit after a lost display, once the list is saved, becomes an orderly end; any other exit keeps
// its status, so that no failure reads as success.
void EndAfterToolkitExit() {
    if (g_endForm == nullptr || !g_endSaved) {
        return; // main was left (the normal end), or an exit we did not prepare for
    }
    std::fflush(nullptr);
    std::_Exit(0);
}

} // namespace

int main(int argc, char** argv) {
    using namespace qrv::gui;

    // A second start ends at once, even while the first instance runs hidden in the tray; it
    // only asks that instance to show its window, which no tray may be there to bring back.
    if (!qrv::platform::AcquireSingleInstance()) {
        qrv::platform::KnockOnRunningInstance();
        return 0;
    }
    // Without a display Qt would abort; run on the offscreen platform instead, also when a
    // display is named but cannot be reached (Qt tries the platforms in order). The first
    // choice is Qt's own: Wayland in a Wayland session, X11 otherwise.
    const bool displayNamed = !Empty("DISPLAY") || !Empty("WAYLAND_DISPLAY");
    if (Empty("QT_QPA_PLATFORM")) {
        // A Wayland session, or a Wayland display with no X server beside it.
        const char* session = std::getenv("XDG_SESSION_TYPE");
        const bool wayland =
            !Empty("WAYLAND_DISPLAY") &&
            (Empty("DISPLAY") || (session != nullptr && std::string_view(session) == "wayland"));
        ::setenv("QT_QPA_PLATFORM",
                 !displayNamed ? "offscreen"
                 : wayland     ? "wayland;xcb;offscreen"
                               : "xcb;offscreen",
                 1);
    }

    TQRVApplication app(argc, argv);
    LoadWindowFonts();
    // The toolkit's own texts (box buttons, context menus) in the system's language.
    qrv::i18n::InstallToolkitTranslation(app);
    if (displayNamed && TQRVApplication::platformName() == QStringLiteral("offscreen")) {
        std::fprintf(stderr, "Quorvane: the display cannot be used; monitoring goes on without "
                             "windows (offscreen).\n");
    }
    // The X11 class of our windows; what the desktop and the instance test know us by.
    TQRVApplication::setApplicationName(QStringLiteral("Ostrelle.Quorvane." QRV_VERSION_SHORT));
    // What a Wayland compositor matches our windows to the desktop entry (and its icon) by.
    TQRVApplication::setDesktopFileName(QString::fromLatin1(qrv::platform::kDesktopEntryName));
    TQRVApplication::setQuitOnLastWindowClosed(false);
    if (TQRVApplication::platformName() == QStringLiteral("offscreen")) {
        // Nobody can answer a box there: each gets its safe answer and its text goes to stderr.
        MessageBoxSeam::SetUnattended(true);
    }

    // A catalogue problem may be found on any thread; its box waits for the event loop.
    qrv::i18n::SetLocalizationNotifier([&app](const std::string& caption, const std::string& text) {
        QMetaObject::invokeMethod(
            &app,
            [caption, text] { ShowMessageBox(nullptr, caption, text, TMessageIcon::Warning); },
            Qt::QueuedConnection);
    });

    // An end request that arrives while the windows are still being created (a start-up box may
    // be open) is carried out as soon as the event loop runs.
    TEndSignals endSignals;
    TMainForm* mainForm = nullptr;
    bool endPending = false;
    bool sessionEnding = false;
    QObject::connect(&endSignals, &TEndSignals::EndRequested, &app, [&](int) {
        if (mainForm == nullptr) {
            endPending = true;
            return;
        }
        Guarded([&] { mainForm->actionQuitExecute(); });
    });
    // Log-out under an X11 session manager: first the request to save (the user may still
    // cancel the log-out), then the request to end, which the windows would refuse. Nobody is
    // there to answer a box by then.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [&](QSessionManager&) {
        if (mainForm != nullptr) {
            Guarded([&] { mainForm->CommitData(); });
        }
    });
    app.OnQuitRequested = [&] {
        sessionEnding = true;
        if (mainForm == nullptr) {
            endPending = true;
            return;
        }
        mainForm->SetUnattendedEnd();
        QTimer::singleShot(0, mainForm,
                           [mainForm] { Guarded([mainForm] { mainForm->actionQuitExecute(); }); });
    };

    {
        std::unique_ptr<TProgram> program;
        try {
            program = std::make_unique<TProgram>();
        } catch (const TFatalStop&) {
            // Its box has been answered; a start that cannot go on still ends with status 0.
            return 0;
        }
        mainForm = &program->MainForm();
        // exit, not quit: quit first asks every window to close, and an open editor or settings
        // window refuses, which would keep the program running after Quit or an end signal.
        QObject::connect(mainForm, &TMainForm::Closed, &app, [] { TQRVApplication::exit(0); });
        mainForm->show();
        const int door = qrv::platform::ListenForSecondStarts();
        std::unique_ptr<QSocketNotifier> knocks;
        if (door >= 0) {
            knocks = std::make_unique<QSocketNotifier>(door, QSocketNotifier::Read);
            QObject::connect(knocks.get(), &QSocketNotifier::activated, mainForm, [mainForm, door] {
                if (qrv::platform::AcceptSecondStarts(door)) {
                    Guarded([mainForm] { mainForm->SecondStart(); });
                }
            });
        }
        if (sessionEnding) {
            mainForm->SetUnattendedEnd();
        }
        if (endPending) {
            QTimer::singleShot(0, mainForm, [mainForm] {
                Guarded([mainForm] { mainForm->actionQuitExecute(); });
            });
        }
        g_endForm = mainForm;
        g_previousHandler = qInstallMessageHandler(OnToolkitMessage);
        std::atexit(EndAfterToolkitExit);
        TQRVApplication::exec();
        g_endForm = nullptr;
        qInstallMessageHandler(g_previousHandler);
        // Closing the windows closes the list, which saves it when it changed; every thread of
        // ours has ended by then.
        mainForm = nullptr;
        knocks.reset();
        qrv::platform::CloseSecondStartDoor(door);
        program.reset();
    }
    return 0;
}
