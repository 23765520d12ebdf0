#pragma once

#include "shell/window/DialogCommon.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

class QLabel;
class QPushButton;
class QSocketNotifier;

namespace qrv::engine {
class TIdHTTP;
}

namespace qrv::gui {

// The update notice "New version available". `parent` is its owner window for placement only
// (not the Qt parent: the notice must stay usable while the main window is disabled); the caller
// owns it.
class TFormUpdate : public TFixedDialog {
    Q_OBJECT

public:
    explicit TFormUpdate(QWidget* parent);
    ~TFormUpdate() override;

    // Sets the current and the newest version and shows the notice without waiting.
    void ShowNewVersion(const std::string& newest);

    void buttonDownloadClick(); // opens the vendor's "update" page, hides the notice
    void buttonCloseClick();    // hides the notice

    QLabel* Label3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* labelVersionCurrent = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* labelVersionLastest = nullptr;
    QPushButton* buttonDownload = nullptr;
    QPushButton* buttonClose = nullptr;

protected:
    // Centred on the main window (on its screen when the window is hidden in the tray): left
    // to the window manager, a window shown during start-up can land in a corner.
    void FormShow() override;
};

// Connect limit of the update check's client.
inline constexpr int kUpdateConnectTimeout = 120000;

// The newest version named by an update answer: the second line (lines end at LF only, the
// second must be ended by one) when it begins with "UPDATE", without those six characters.
std::optional<std::string> NewestVersionFromAnswer(std::string_view answer);

struct TUpdateCheckOptions {
    std::string ServiceUrl = QRV_UPDATE_URL;
    int ConnectTimeout = kUpdateConnectTimeout;
    std::function<void()> Finished; // called on the update thread as its last step
};

// The update-check thread `TQRVUpdate`, owned by whoever starts it: posts the query with an
// HTTP client of its own (so that a check run never waits for it) and, when a newer version is
// named and CheckUpdate is on at that moment, hands the version to the user-interface thread,
// which calls `form` and shows the notice. Every failure is silent. Once the application has
// left its event loop it hands nothing over any more.
class TUpdateCheck {
public:
    explicit TUpdateCheck(std::function<TFormUpdate*()> form, TUpdateCheckOptions options = {});
    ~TUpdateCheck(); // Stop()
    TUpdateCheck(const TUpdateCheck&) = delete;
    TUpdateCheck& operator=(const TUpdateCheck&) = delete;

    // Starts the thread; false (and no check) when no thread can be had.
    bool Start();
    // Breaks the post off and waits for the thread to end. Safe to call more than once.
    void Stop();
    bool Finished() const;

    const qrv::engine::TIdHTTP& Http() const;

private:
    void ShowAnnounced(); // user-interface thread, when the thread has handed a version over

    struct TImpl;
    std::function<TFormUpdate*()> form_;
    std::shared_ptr<TImpl> impl_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::thread thread_;
};

} // namespace qrv::gui
