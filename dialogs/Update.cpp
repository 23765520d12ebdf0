#include "dialogs/Update.h"

#include "dialogs/VendorLinks.h"
#include "engine/HttpClient.h"
#include "shell/AppConfig.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace qrv::gui {

TFormUpdate::TFormUpdate(QWidget* parent) : TFixedDialog(parent, 549, 186) {
    setObjectName(QStringLiteral("FormUpdate"));
    setWindowTitle(QStringLiteral("New version available"));

    Label3 = AddLabel("Label3",
                      "A new version of Quorvane is now available. Click the download button to "
                      "download new update.",
                      QRect(24, 16, 493, 13));
    Label1 = AddLabel("Label1", "Current version", QRect(24, 64, 75, 13));
    labelVersionCurrent = AddLabel("labelVersionCurrent", "labelVersionCurrent",
                                   QRect(200, 64, 0, 13));
    Label2 = AddLabel("Label2", "Lastest version", QRect(24, 96, 73, 13));
    labelVersionLastest = AddLabel("labelVersionLastest", "labelVersionLastest",
                                   QRect(200, 96, 0, 13));
    // The version texts come from the service as they are; never read them as rich text.
    labelVersionCurrent->setTextFormat(Qt::PlainText);
    labelVersionLastest->setTextFormat(Qt::PlainText);

    buttonClose = new QPushButton(QStringLiteral("Close"), this);
    buttonClose->setObjectName(QStringLiteral("buttonClose"));
    buttonClose->setGeometry(446, 136, 75, 25);
    buttonClose->setAutoDefault(false);

    buttonDownload = new QPushButton(QStringLiteral("Download now"), this);
    buttonDownload->setObjectName(QStringLiteral("buttonDownload"));
    buttonDownload->setGeometry(24, 136, 153, 25);
    buttonDownload->setAutoDefault(false);

    setTabOrder(buttonClose, buttonDownload);

    connect(buttonDownload, &QPushButton::clicked, this, [this] { buttonDownloadClick(); });
    connect(buttonClose, &QPushButton::clicked, this, [this] { buttonCloseClick(); });

    TranslateWindow(this);
}

TFormUpdate::~TFormUpdate() = default;

void TFormUpdate::ShowNewVersion(const std::string& newest) {
    labelVersionCurrent->setText(QString::fromLatin1(shell::kVersion));
    labelVersionLastest->setText(QString::fromStdString(newest));
    FitLabels();
    show();
}

void TFormUpdate::buttonDownloadClick() {
    RunHandler([] { OpenVendorPage("update"); });
    hide();
}

void TFormUpdate::buttonCloseClick() {
    hide();
}

std::optional<std::string> NewestVersionFromAnswer(std::string_view answer) {
    const std::size_t firstEnd = answer.find('\n');
    if (firstEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view rest = answer.substr(firstEnd + 1);
    const std::size_t secondEnd = rest.find('\n');
    if (secondEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view line = rest.substr(0, secondEnd);
    constexpr std::string_view kMark = "UPDATE";
    if (line.substr(0, kMark.size()) != kMark) {
        return std::nullopt;
    }
    return std::string(line.substr(kMark.size()));
}

namespace {

// What the update thread shares with the user-interface thread. `Open` turns false when the
// application leaves its event loop (or goes away), under the lock, so that the thread never
// hands anything to an application that is ending.
struct TUpdateHandOver {
    std::mutex Lock;
    bool Open = true;
};

// Lives on the user-interface thread as a child of the application; closes the hand-over when
// the application quits its loop or is destroyed.
class THandOverGuard : public QObject {
public:
    THandOverGuard(std::shared_ptr<TUpdateHandOver> handOver, QCoreApplication* app)
        : QObject(app), handOver_(std::move(handOver)) {
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { Close(); });
    }
    ~THandOverGuard() override { Close(); }

private:
    void Close() {
        std::lock_guard<std::mutex> guard(handOver_->Lock);
        handOver_->Open = false;
    }

    std::shared_ptr<TUpdateHandOver> handOver_;
};

// The update-check thread: asks once, tells at most once, and keeps quiet about failures.
class TQRVUpdate {
public:
    TQRVUpdate(std::function<TFormUpdate*()> form, TUpdateCheckOptions options,
               std::shared_ptr<TUpdateHandOver> handOver)
        : form_(std::move(form)), options_(std::move(options)), handOver_(std::move(handOver)) {
        http_.SetConnectTimeout(options_.ConnectTimeout);
    }

    void Execute() {
        const std::vector<std::pair<std::string, std::string>> fields = {
            {"application", "quorvane"},
            {"action", "checkupdate"},
            {"version", shell::kVersion},
        };
        std::string answer;
        try {
            answer = http_.Post(options_.ServiceUrl, fields);
        } catch (...) {
            answer.clear();
        }
        if (const auto newest = NewestVersionFromAnswer(answer)) {
            Announce(*newest);
        }
        if (options_.Finished) {
            options_.Finished();
        }
        finished_.store(true);
    }

    engine::TIdHTTP& Http() { return http_; }
    bool Finished() const { return finished_.load(); }

private:
    void Announce(const std::string& newest) {
        std::lock_guard<std::mutex> guard(handOver_->Lock);
        QCoreApplication* app = QCoreApplication::instance();
        if (!handOver_->Open || app == nullptr) {
            return;
        }
        // CheckUpdate as it is now: a save of the settings meanwhile counts.
        if (!shell::AppConfig().CheckUpdate) {
            return;
        }
        QMetaObject::invokeMethod(
            app,
            [form = form_, newest] {
                RunHandler([&] {
                    if (TFormUpdate* notice = form ? form() : nullptr) {
                        notice->ShowNewVersion(newest);
                    }
                });
            },
            Qt::QueuedConnection);
    }

    engine::TIdHTTP http_;
    std::function<TFormUpdate*()> form_;
    TUpdateCheckOptions options_;
    std::shared_ptr<TUpdateHandOver> handOver_;
    std::atomic<bool> finished_{false};
};

} // namespace

struct TUpdateCheck::TImpl {
    explicit TImpl(std::function<TFormUpdate*()> form, TUpdateCheckOptions options,
                   std::shared_ptr<TUpdateHandOver> handOver)
        : Update(std::move(form), std::move(options), std::move(handOver)) {}
    TQRVUpdate Update;
};

TUpdateCheck::TUpdateCheck(std::function<TFormUpdate*()> form, TUpdateCheckOptions options) {
    auto handOver = std::make_shared<TUpdateHandOver>();
    if (QCoreApplication* app = QCoreApplication::instance()) {
        new THandOverGuard(handOver, app);
    } else {
        handOver->Open = false;
    }
    impl_ = std::make_shared<TImpl>(std::move(form), std::move(options), std::move(handOver));
}

TUpdateCheck::~TUpdateCheck() {
    Stop();
}

bool TUpdateCheck::Start() {
    if (thread_.joinable()) {
        return true;
    }
    try {
        thread_ = std::thread([impl = impl_] { impl->Update.Execute(); });
    } catch (const std::exception&) {
        // No thread, no update notice; nothing to report.
        return false;
    }
    return true;
}

void TUpdateCheck::Stop() {
    impl_->Update.Http().Cancel();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool TUpdateCheck::Finished() const {
    return impl_->Update.Finished();
}

const engine::TIdHTTP& TUpdateCheck::Http() const {
    return impl_->Update.Http();
}

} // namespace qrv::gui
