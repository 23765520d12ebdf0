#pragma once

#include "engine/CheckView.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace qrv::engine {

class TServerList;
class TIdHTTP;

// The configuration values a run needs, read whole at each moment of use (a save of the
// settings may replace them while a run is under way).
struct TRunConfig {
    bool VerifyEnabled = false;
    std::string VerifyURL;
    std::int32_t BalloonLevel = 0;
};

// What a run works on. The objects belong to the main window and must outlive the run.
struct TCheckContext {
    ICheckView& View;
    TServerList& List; // touched only inside View.Synchronize
    TIdHTTP& Http;
    std::atomic<std::int32_t>& RunErrorCount; // kept across runs; an offline run leaves it
    std::function<TRunConfig()> Config;       // called at every moment of use
    // The event log writer. An error it throws costs the line only: the run goes on, since a
    // monitor that stops over its log would report a failure as success; telling the user is
    // the writer's business. Empty: nothing is logged.
    std::function<void(std::string_view text, std::string_view category)> WriteLog;
    std::function<void(int milliseconds)> Pause; // empty: sleep
    std::function<std::uint32_t()> Tick;         // empty: platform::GetTickCount
};

// One check run on a thread of its own. Created suspended; Start() runs Execute(). The object
// is not freed when its run ends; destroying one whose run is still going waits for it.
class TQRVCheck {
public:
    explicit TQRVCheck(TCheckContext context);
    ~TQRVCheck();
    TQRVCheck(const TQRVCheck&) = delete;
    TQRVCheck& operator=(const TQRVCheck&) = delete;

    void Start();          // once; later calls do nothing
    bool Finished() const; // started and Execute has returned
    // Waits for the run to end through View.ServeUntil, so that the hand-overs of the run keep
    // being served when the waiting thread is the one that serves them.
    void WaitFor();

    // From any thread, for the end of the program: breaks the fetch under way off (the
    // client stays cancelled) and cuts the pauses short, so that the run goes no further; the
    // record being checked gets back what it held before the run, and the closing steps run.
    // Nothing is logged or shown for the fetch broken off.
    void Stop();

    // The run itself. Never throws: an error breaks the run off, and the closing steps
    // (grid, timer, actions) still run.
    void Execute();

private:
    void Run();
    void RunOnline();
    void RunOffline();
    void CloseRun();
    void BeginEdit();
    void EndEdit();
    TRunConfig Config() const;
    void Log(std::string_view text, std::string_view category);
    void Balloon(const std::string& title, const std::string& text);
    void DoPause(int milliseconds);
    void BreakOffWhenStopped() const;
    std::uint32_t DoTick();

    // What the record being checked held before the run marked it, until its outcome is posted.
    struct TChecked {
        std::string Status;
        std::string Result;
    };

    TCheckContext ctx_;
    bool editPending_ = false;        // touched inside hand-overs only
    std::optional<TChecked> checked_; // likewise
    std::atomic<bool> stopping_{false};
    std::mutex pauseMutex_;
    std::condition_variable pauseCut_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::mutex joinMutex_;
    std::condition_variable done_;
    bool started_ = false;
    bool finished_ = false;
};

// The work of a tick of `timerCheck` after the timer was disarmed: disposes of the previous
// run (waiting for it if it still runs), then creates a new one, keeps it in CheckThread and
// starts it. While the shell is quitting nothing happens and false is returned.
bool StartCheckRun(std::unique_ptr<TQRVCheck>& CheckThread, const TCheckContext& context,
                   bool quitting);

} // namespace qrv::engine
