#pragma once

#include "dialogs/DialogCommon.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QLabel;
class QPushButton;

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

    void buttonDownloadClick();   // opens the vendor's "update" page, hides the notice
    void buttonCloseClick();      // hides the notice

    QLabel* Label3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* labelVersionCurrent = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* labelVersionLastest = nullptr;
    QPushButton* buttonDownload = nullptr;
    QPushButton* buttonClose = nullptr;
};

// Connect limit that the update check sets on the shared client; it stays for later requests.
inline constexpr int kUpdateConnectTimeout = 120000;

// The newest version named by an update answer: the second line (lines end at LF only, the
// second must be ended by one) when it begins with "UPDATE", without those six characters.
std::optional<std::string> NewestVersionFromAnswer(std::string_view answer);

struct TUpdateCheckOptions {
    std::string ServiceUrl = QRV_UPDATE_URL;
    int ConnectTimeout = kUpdateConnectTimeout;
    std::function<void()> Finished;   // called on the update thread as its last step
};

// The update-check thread `TQRVUpdate`: posts the query on a detached thread of its own and,
// when a newer version is named and CheckUpdate is on at that moment, hands the version to the
// user-interface thread, which calls `form` and shows the notice. Every failure is silent. The
// thread is never waited for; it touches no Qt object, and once the application has left its
// event loop it hands nothing over any more.
//
// Prefer the shared_ptr form: the client then outlives a post still under way when the program
// quits. With the reference form the caller must keep `http` alive until the process ends.
void StartUpdateCheck(std::shared_ptr<qrv::engine::TIdHTTP> http,
                      std::function<TFormUpdate*()> form, TUpdateCheckOptions options = {});
void StartUpdateCheck(qrv::engine::TIdHTTP& http, std::function<TFormUpdate*()> form);

} // namespace qrv::gui
