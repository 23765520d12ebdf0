#include "engine/CheckRun.h"

#include "engine/RunOutcome.h"
#include "engine/ServerList.h"
#include "engine/TextFormat.h"
#include "engine/http/HttpClient.h"
#include "i18n/Translate.h"
#include "platform/TickCount.h"

#include <array>
#include <chrono>
#include <exception>
#include <utility>

namespace qrv::engine {

using i18n::TranslateText;

namespace {

constexpr int kPauseMs = 500;
constexpr int kBalloonTimeoutMs = 5;

// Thrown inside the run once it is stopped; Execute ends the run quietly.
struct TRunStopped {};

constexpr std::array<TServerAction, 6> kActions = {
    TServerAction::Add,      TServerAction::Edit,       TServerAction::Delete,
    TServerAction::Activate, TServerAction::Deactivate, TServerAction::ActivateAll,
};

// What the run needs of one record, read through the hand-over before the fetch.
struct TServerFields {
    std::string Name;
    std::string Url;
    std::string Response;
    bool ResponseEnabled = false;
    bool TimeoutEnabled = false;
    std::int32_t Timeout = 0;
};

} // namespace

TQRVCheck::TQRVCheck(TCheckContext context) : ctx_(std::move(context)) {}

TQRVCheck::~TQRVCheck() {
    WaitFor();
}

void TQRVCheck::Start() {
    std::lock_guard lock(mutex_);
    if (started_) {
        return;
    }
    // The body's last step takes the lock, so it cannot report its end before started_ is set.
    thread_ = std::thread([this] {
        Execute();
        {
            std::lock_guard endLock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        ctx_.View.RunEnded();
    });
    started_ = true;
}

bool TQRVCheck::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void TQRVCheck::WaitFor() {
    {
        std::lock_guard lock(mutex_);
        if (!started_ || thread_.get_id() == std::this_thread::get_id()) {
            return;
        }
    }
    if (!ctx_.View.ServeUntil([this] { return Finished(); })) {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return finished_; });
    }
    std::lock_guard joinLock(joinMutex_);
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TQRVCheck::Stop() {
    {
        std::lock_guard lock(pauseMutex_);
        stopping_ = true;
    }
    pauseCut_.notify_all();
    ctx_.Http.Cancel();
}

void TQRVCheck::Execute() {
    try {
        Run();
    } catch (...) {
        // A run that breaks off ends quietly: no outcome, no log line.
    }
    try {
        CloseRun();
    } catch (...) {
    }
}

void TQRVCheck::Run() {
    for (const TServerAction action : kActions) {
        ctx_.View.SetActionEnabled(action, false);
    }
    ctx_.View.SetGridEnabled(false);
    Log(TranslateText("Checking..."), "system");

    std::string page;
    const bool verifyEnabled = Config().VerifyEnabled;
    if (verifyEnabled) {
        ctx_.View.SetStatusText(TranslateText("Verifying connection..."));
        try {
            page = ctx_.Http.Get(Config().VerifyURL);
        } catch (const THttpCancelled&) {
            throw TRunStopped{};
        } catch (const std::exception&) {
            // Whatever went wrong, the station counts as offline; nothing is logged.
            page.clear();
        }
    }
    if (!verifyEnabled || !page.empty()) {
        RunOnline();
    } else {
        RunOffline();
    }
}

void TQRVCheck::RunOnline() {
    bool allOk = true;
    ctx_.RunErrorCount = 0;
    TServerList& list = ctx_.List;
    ctx_.View.Synchronize([&] { list.First(); });

    for (;;) {
        BreakOffWhenStopped();
        const std::string checking = TranslateText("Checking...");
        TServerFields server;
        bool found = false;
        ctx_.View.Synchronize([&] {
            while (!list.Eof() && !list.AsBoolean(TField::Active)) {
                list.Next();
            }
            if (list.Eof()) {
                return;
            }
            found = true;
            server.Name = list.AsString(TField::Name);
            server.Url = list.AsString(TField::Url);
            server.Response = list.AsString(TField::Response);
            server.ResponseEnabled = list.AsBoolean(TField::ResponseEnabled);
            server.TimeoutEnabled = list.AsBoolean(TField::TimeoutEnabled);
            server.Timeout = list.AsInteger(TField::Timeout);
            // Posted before the fetch, so that the list shows the server as being checked.
            checked_ = TChecked{list.AsString(TField::Status), list.AsString(TField::Result)};
            BeginEdit();
            list.SetString(TField::Status, "CHECK");
            list.SetString(TField::Result, checking);
            EndEdit();
        });
        if (!found) {
            break;
        }

        ctx_.View.SetStatusText(FormatText(TranslateText("Processing %s..."), {server.Name}));

        std::string page;
        std::string failure;
        bool loaded = false;
        const std::uint32_t startTick = DoTick();
        try {
            page = ctx_.Http.Get(server.Url);
            loaded = true;
        } catch (const THttpCancelled&) {
            throw TRunStopped{};
        } catch (const std::exception& e) {
            failure = e.what();
        }
        const std::uint32_t endTick = loaded ? DoTick() : startTick;

        DoPause(kPauseMs);

        if (page.empty()) {
            ++ctx_.RunErrorCount;
            allOk = false;
            ctx_.View.Synchronize([&] {
                BeginEdit();
                list.SetString(TField::Status, "ERR_LOAD");
            });
            Log(FormatText(TranslateText("Unable to load '%s'. Error: %s"), {server.Name, failure}),
                "error");
            ctx_.View.Synchronize(
                [&] { list.SetString(TField::Result, "Unable to load: " + failure); });
            if (Config().BalloonLevel > 0) {
                Balloon(TranslateText("Load error"),
                        FormatText(TranslateText("Unable to load '%s'"), {server.Name}));
            }
        } else {
            // Unsigned and modulo 2^32, so one wrap of the tick counter still gives the duration.
            const std::uint32_t loadTime = endTick - startTick;
            const bool wrongResponse = server.ResponseEnabled && page != server.Response;
            const bool slow =
                !wrongResponse && server.TimeoutEnabled &&
                static_cast<std::int64_t>(loadTime) > static_cast<std::int64_t>(server.Timeout);
            std::string status = "OK";
            std::string result = "OK";
            if (wrongResponse) {
                status = "ERR_RESP";
                result = "Wrong response: " + page;
            } else if (slow) {
                status = "ERR_SLOW";
                result = TranslateText("Slow load");
            }
            if (wrongResponse || slow) {
                ++ctx_.RunErrorCount;
                allOk = false;
            }
            ctx_.View.Synchronize([&] {
                BeginEdit();
                list.SetInteger(TField::LoadTime, static_cast<std::int32_t>(loadTime));
                list.SetString(TField::Status, status);
                list.SetString(TField::Result, result);
            });
            if (wrongResponse) {
                Log(FormatText(TranslateText("Wrong response '%s': %s"), {server.Name, page}),
                    "error");
                if (Config().BalloonLevel > 1) {
                    Balloon(
                        TranslateText("Response error"),
                        FormatText(TranslateText("Wrong response '%s': %s"), {server.Name, page}));
                }
            } else if (slow) {
                Log(FormatText(TranslateText("Slow load '%s'. Load time %sms."),
                               {server.Name, std::to_string(loadTime)}),
                    "error");
                if (Config().BalloonLevel > 2) {
                    Balloon(TranslateText("Slow load"),
                            FormatText(TranslateText("Slow load '%s'"), {server.Name}));
                }
            }
        }

        DoPause(kPauseMs);
        ctx_.View.Synchronize([&] {
            EndEdit();
            checked_.reset();
            list.Next();
        });
    }

    if (allOk) {
        ShowRunOutcome(ctx_.View, roAllOk, ctx_.RunErrorCount, Config().BalloonLevel);
        Log(TranslateText("Completed with no errors."), "ok");
    } else {
        Log(TranslateText("Completed with problems detected."), "error");
        ShowRunOutcome(ctx_.View, roProblems, ctx_.RunErrorCount, Config().BalloonLevel);
    }
}

void TQRVCheck::RunOffline() {
    Log(TranslateText("Stopped! Probably offline."), "error");
    ShowRunOutcome(ctx_.View, roOffline, ctx_.RunErrorCount, Config().BalloonLevel);

    const std::string unable = TranslateText("Unable to check server.");
    TServerList& list = ctx_.List;
    ctx_.View.Synchronize([&] { list.First(); });
    // One hand-over per record keeps the window responsive on a long list.
    bool more = true;
    while (more) {
        ctx_.View.Synchronize([&] {
            more = !list.Eof();
            if (!more) {
                return;
            }
            BeginEdit();
            list.SetString(TField::Status, "OFFLINE");
            list.SetString(TField::Result, unable);
            EndEdit();
            list.Next();
        });
    }
}

void TQRVCheck::CloseRun() {
    // Each step on its own, so that one failing step does not leave the window locked.
    try {
        // A record left in edit by a run that broke off is dropped: it keeps what was last
        // posted for it, and the list never holds a half-written record.
        ctx_.View.Synchronize([&] {
            if (editPending_) {
                editPending_ = false;
                ctx_.List.Cancel();
            }
            // Nor does the record being checked keep the "being checked" mark.
            if (checked_) {
                const TChecked before = *std::exchange(checked_, std::nullopt);
                ctx_.List.Edit();
                ctx_.List.SetString(TField::Status, before.Status);
                ctx_.List.SetString(TField::Result, before.Result);
                ctx_.List.Post();
            }
        });
    } catch (...) {
    }
    try {
        ctx_.View.SetGridEnabled(true);
    } catch (...) {
    }
    try {
        ctx_.View.SetTimerEnabled(true);
    } catch (...) {
    }
    bool hasRecords = false;
    try {
        ctx_.View.Synchronize([&] { hasRecords = ctx_.List.RecordCount() > 0; });
    } catch (...) {
    }
    for (const TServerAction action : kActions) {
        const bool always = action == TServerAction::Add || action == TServerAction::ActivateAll;
        try {
            ctx_.View.SetActionEnabled(action, always || hasRecords);
        } catch (...) {
        }
    }
}

// Called inside a hand-over only.
void TQRVCheck::BeginEdit() {
    ctx_.List.Edit();
    editPending_ = true;
}

// Called inside a hand-over only.
void TQRVCheck::EndEdit() {
    ctx_.List.Post();
    editPending_ = false;
}

TRunConfig TQRVCheck::Config() const {
    return ctx_.Config ? ctx_.Config() : TRunConfig{};
}

void TQRVCheck::Log(std::string_view text, std::string_view category) {
    if (!ctx_.WriteLog) {
        return;
    }
    try {
        ctx_.WriteLog(text, category);
    } catch (const std::exception&) {
        // The line is lost; the servers are still checked and shown.
    }
}

void TQRVCheck::Balloon(const std::string& title, const std::string& text) {
    ctx_.View.ShowBalloon(title, text, kBalloonTimeoutMs, TBalloonIcon::Error);
}

void TQRVCheck::DoPause(int milliseconds) {
    if (ctx_.Pause) {
        ctx_.Pause(milliseconds);
    } else {
        std::unique_lock lock(pauseMutex_);
        pauseCut_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return stopping_.load(); });
    }
    BreakOffWhenStopped();
}

void TQRVCheck::BreakOffWhenStopped() const {
    if (stopping_) {
        throw TRunStopped{};
    }
}

std::uint32_t TQRVCheck::DoTick() {
    return ctx_.Tick ? ctx_.Tick() : platform::GetTickCount();
}

bool StartCheckRun(std::unique_ptr<TQRVCheck>& CheckThread, const TCheckContext& context,
                   bool quitting) {
    if (quitting) {
        return false;
    }
    CheckThread.reset(); // waits for a run that still goes on
    CheckThread = std::make_unique<TQRVCheck>(context);
    CheckThread->Start();
    return true;
}

} // namespace qrv::engine
