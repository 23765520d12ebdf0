#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class QEventLoop;
class QSocketNotifier;

namespace qrv::gui {

// Hands work from other threads to the user-interface thread and waits for it, also while the
// user-interface thread itself waits for a worker: that wait runs the event loop, so that
// neither thread waits for the other for ever and the windows and the tray stay alive.
//
// Workers signal through an eventfd that a socket notifier watches, never through Qt's event
// queue: everything they hand over lives in our own queue under our own lock, so that no
// object of theirs passes through synchronisation that a thread checker cannot see.
class TUiDispatcher : public QObject {
public:
    explicit TUiDispatcher(QObject* parent = nullptr);
    ~TUiDispatcher() override;

    // Runs `work` on the user-interface thread and returns when it is done; an error thrown by
    // `work` is rethrown here. Called on the user-interface thread, it runs `work` at once.
    void Invoke(const std::function<void()>& work);

    // User-interface thread: runs every queued piece of work, in order.
    void Drain();

    // User-interface thread: runs the event loop (every event: hand-overs, painting, the tray,
    // the hot key) until `done()` holds. `done` is looked at again after each Wake().
    void WaitUntil(const std::function<bool()>& done);

    // Any thread: makes every WaitUntil under way look at its condition again.
    void Wake();

    bool OnUiThread() const;

private:
    struct TTask {
        const std::function<void()>* Work = nullptr;
        std::exception_ptr Error;
        bool Done = false;
    };

    void Signal();
    void Activated();

    std::mutex lock_;
    std::condition_variable finished_; // a task has been run
    std::deque<TTask*> queue_;         // guarded by lock_
    bool wakePending_ = false;         // guarded by lock_
    int signalFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::thread::id uiThread_;
    std::vector<QEventLoop*> waits_; // user-interface thread only; innermost last
};

} // namespace qrv::gui
