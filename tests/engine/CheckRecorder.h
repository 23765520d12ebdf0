#pragma once

// A window stand-in for check runs: it records every effect, in order, as one line of text,
// and runs the hand-overs on a "UI" thread of its own, so that the run really has to go
// through them (and tsan sees every touch of the server list from that thread).

#include "engine/CheckView.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qrv::engine::testing {

inline const char* ActionName(TServerAction action) {
    switch (action) {
    case TServerAction::Add:
        return "Add";
    case TServerAction::Edit:
        return "Edit";
    case TServerAction::Delete:
        return "Delete";
    case TServerAction::Activate:
        return "Activate";
    case TServerAction::Deactivate:
        return "Deactivate";
    case TServerAction::ActivateAll:
        return "ActivateAll";
    }
    return "?";
}

inline const char* IconName(TBalloonIcon icon) {
    switch (icon) {
    case TBalloonIcon::None:
        return "none";
    case TBalloonIcon::Info:
        return "info";
    case TBalloonIcon::Warning:
        return "warning";
    case TBalloonIcon::Error:
        return "error";
    }
    return "?";
}

class TCheckRecorder : public ICheckView {
public:
    enum class TUiMode {
        OwnThread,      // a thread of the recorder serves the hand-overs
        ServedByWaiter, // the constructing thread is the "UI" thread; it serves only inside
                        // ServeUntil, as the main window does while it waits for a run
    };

    explicit TCheckRecorder(TUiMode mode = TUiMode::OwnThread) : mode_(mode) {
        if (mode_ == TUiMode::OwnThread) {
            ui_ = std::thread([this] { UiLoop(); });
            uiId_ = ui_.get_id();
        } else {
            uiId_ = std::this_thread::get_id();
        }
    }

    ~TCheckRecorder() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (ui_.joinable()) {
            ui_.join();
        }
    }

    TCheckRecorder(const TCheckRecorder&) = delete;
    TCheckRecorder& operator=(const TCheckRecorder&) = delete;

    void Add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }

    std::vector<std::string> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

    // Only the events that start with `prefix` (e.g. "balloon ").
    std::vector<std::string> EventsStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& e : Events()) {
            if (e.rfind(prefix, 0) == 0) {
                out.push_back(e);
            }
        }
        return out;
    }

    void Clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

    bool OnUiThread() const { return std::this_thread::get_id() == uiId_; }

    // Hand-overs that ran on some other thread than the "UI" thread (must stay 0).
    int ForeignCalls() const {
        std::lock_guard lock(mutex_);
        return foreignCalls_;
    }

    void SetStatusText(const std::string& text) override { Add("status " + text); }
    void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs,
                     TBalloonIcon icon) override {
        Add("balloon " + title + " | " + text + " | " + std::to_string(timeoutMs) + " | " +
            IconName(icon));
    }
    void SetTrayImage(int index) override { Add("tray " + std::to_string(index)); }
    void SetTrayHint(const std::string& hint) override { Add("trayhint " + hint); }
    void SetSemaforHint(const std::string& hint) override { Add("semaforhint " + hint); }
    void SetSemaforImage(int index) override { Add("semafor " + std::to_string(index)); }
    void ShowWarningButton() override { Add("warning"); }
    void SetActionEnabled(TServerAction action, bool enabled) override {
        Add(std::string("action ") + ActionName(action) + (enabled ? " 1" : " 0"));
    }
    void SetGridEnabled(bool enabled) override { Add(enabled ? "grid 1" : "grid 0"); }
    void SetTimerEnabled(bool enabled) override { Add(enabled ? "timer 1" : "timer 0"); }

    void Synchronize(const std::function<void()>& work) override {
        if (OnUiThread()) {
            work();
            return;
        }
        TJob job{&work, nullptr, false};
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(&job);
        }
        wake_.notify_all();
        std::unique_lock lock(mutex_);
        // A hand-over nobody serves would hang the test; it fails the run instead.
        if (!finished_.wait_for(lock, std::chrono::seconds(20), [&] { return job.Done; })) {
            for (auto it = queue_.begin(); it != queue_.end(); ++it) {
                if (*it == &job) {
                    queue_.erase(it);
                    ++unserved_;
                    throw std::runtime_error("hand-over not served");
                }
            }
            finished_.wait(lock, [&] { return job.Done; });
        }
        lock.unlock();
        if (job.Failure) {
            std::rethrow_exception(job.Failure);
        }
    }

    bool ServeUntil(const std::function<bool()>& ended) override {
        if (mode_ != TUiMode::ServedByWaiter || !OnUiThread()) {
            return false;
        }
        std::unique_lock lock(mutex_);
        for (;;) {
            while (!queue_.empty()) {
                RunFront(lock);
            }
            lock.unlock();
            const bool over = ended();
            lock.lock();
            if (over) {
                return true;
            }
            wake_.wait(lock, [this] { return !queue_.empty() || runEnded_; });
            runEnded_ = false;
        }
    }
    void RunEnded() override {
        {
            std::lock_guard lock(mutex_);
            runEnded_ = true;
        }
        wake_.notify_all();
    }

    // Hand-overs given up because nobody served them (must stay 0).
    int Unserved() const {
        std::lock_guard lock(mutex_);
        return unserved_;
    }

    // Runs `work` on the "UI" thread (test set-up and inspection of the list).
    void OnUi(const std::function<void()>& work) { Synchronize(work); }

    // Notes a touch of shared state made off the "UI" thread.
    void CheckUiThread() {
        if (!OnUiThread()) {
            std::lock_guard lock(mutex_);
            ++foreignCalls_;
        }
    }

private:
    struct TJob {
        const std::function<void()>* Work;
        std::exception_ptr Failure;
        bool Done = false;
    };

    // Runs the first queued hand-over; `lock` is held on entry and on return.
    void RunFront(std::unique_lock<std::mutex>& lock) {
        TJob* job = queue_.front();
        queue_.pop_front();
        lock.unlock();
        try {
            (*job->Work)();
        } catch (...) {
            job->Failure = std::current_exception();
        }
        lock.lock();
        job->Done = true;
        finished_.notify_all();
    }

    void UiLoop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            RunFront(lock);
        }
    }

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::deque<TJob*> queue_;
    std::vector<std::string> events_;
    int foreignCalls_ = 0;
    bool runEnded_ = false;
    int unserved_ = 0;
    bool stop_ = false;
    const TUiMode mode_;
    std::thread ui_;
    std::thread::id uiId_;
};

} // namespace qrv::engine::testing
