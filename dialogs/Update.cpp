#include "dialogs/Update.h"

#include "dialogs/VendorLinks.h"
#include "engine/http/HttpClient.h"
#include "shell/AppConfig.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>

namespace qrv::gui {

TFormUpdate::TFormUpdate(QWidget* parent) : TFixedDialog(parent, 549, 186) {
    setObjectName(QStringLiteral("FormUpdate"));
    setWindowTitle(QStringLiteral("New version available"));

    Label3 = AddLabel("Label3",
                      "A new version of Quorvane is now available. Click the download button to "
                      "download new update.",
                      QRect(24, 16, 493, 13));
    Label1 = AddLabel("Label1", "Current version", QRect(24, 64, 75, 13));
    labelVersionCurrent =
        AddLabel("labelVersionCurrent", "labelVersionCurrent", QRect(200, 64, 0, 13));
    Label2 = AddLabel("Label2", "Lastest version", QRect(24, 96, 73, 13));
    labelVersionLastest =
        AddLabel("labelVersionLastest", "labelVersionLastest", QRect(200, 96, 0, 13));
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

void TFormUpdate::FormShow() {
    QScreen* screen = owner_ != nullptr ? owner_->screen() : nullptr;
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QRect over = owner_ != nullptr && owner_->isVisible() ? owner_->frameGeometry() : area;
    QRect placed(QPoint(0, 0), frameGeometry().size());
    placed.moveCenter(over.center());
    // Never partly off the screen, whatever the owner's place.
    placed.moveLeft(std::clamp(placed.left(), area.left(),
                               std::max(area.left(), area.right() + 1 - placed.width())));
    placed.moveTop(std::clamp(placed.top(), area.top(),
                              std::max(area.top(), area.bottom() + 1 - placed.height())));
    move(placed.topLeft());
}

void TFormUpdate::buttonDownloadClick() {
    Guarded([] { OpenVendorPage("update"); });
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

// What the update thread shares with the user-interface thread, under `Lock`: the version to
// announce, and `Open`, which turns false when the application leaves its event loop (or goes
// away), so that nothing is shown by an application that is ending. The thread signals through
// an eventfd that a socket notifier watches on the user-interface thread, never through Qt's
// event queue, so that the hand-over is ordered by our own lock.
struct TUpdateHandOver {
    std::mutex Lock;
    bool Open = true;
    std::optional<std::string> Newest;
    int SignalFd = -1;
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
    TQRVUpdate(TUpdateCheckOptions options, std::shared_ptr<TUpdateHandOver> handOver)
        : options_(std::move(options)), handOver_(std::move(handOver)) {
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
        {
            std::lock_guard<std::mutex> guard(handOver_->Lock);
            // CheckUpdate as it is now: a save of the settings meanwhile counts.
            if (!handOver_->Open || !shell::AppConfig().CheckUpdate) {
                return;
            }
            handOver_->Newest = newest;
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(handOver_->SignalFd, &one, sizeof one);
    }

    engine::TIdHTTP http_;
    TUpdateCheckOptions options_;
    std::shared_ptr<TUpdateHandOver> handOver_;
    std::atomic<bool> finished_{false};
};

} // namespace

struct TUpdateCheck::TImpl {
    TImpl(TUpdateCheckOptions options, std::shared_ptr<TUpdateHandOver> handOver)
        : HandOver(handOver), Update(std::move(options), std::move(handOver)) {}
    std::shared_ptr<TUpdateHandOver> HandOver;
    TQRVUpdate Update;
};

TUpdateCheck::TUpdateCheck(std::function<TFormUpdate*()> form, TUpdateCheckOptions options)
    : form_(std::move(form)) {
    auto handOver = std::make_shared<TUpdateHandOver>();
    handOver->SignalFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (QCoreApplication* app = QCoreApplication::instance();
        app != nullptr && handOver->SignalFd >= 0) {
        new THandOverGuard(handOver, app);
        notifier_ = std::make_unique<QSocketNotifier>(handOver->SignalFd, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { ShowAnnounced(); });
    } else {
        handOver->Open = false;
    }
    impl_ = std::make_shared<TImpl>(std::move(options), std::move(handOver));
}

TUpdateCheck::~TUpdateCheck() {
    Stop();
    notifier_.reset();
    if (impl_->HandOver->SignalFd >= 0) {
        ::close(impl_->HandOver->SignalFd);
    }
}

void TUpdateCheck::ShowAnnounced() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(impl_->HandOver->SignalFd, &count, sizeof count);
    std::optional<std::string> newest;
    {
        std::lock_guard<std::mutex> guard(impl_->HandOver->Lock);
        if (impl_->HandOver->Open) {
            newest = std::exchange(impl_->HandOver->Newest, std::nullopt);
        }
    }
    if (newest) {
        Guarded([&] {
            if (TFormUpdate* notice = form_ ? form_() : nullptr) {
                notice->ShowNewVersion(*newest);
            }
        });
    }
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
