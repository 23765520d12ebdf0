#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace qrv::gui {

// Hands work from other threads to the user-interface thread and waits for it. The queue is
// served from posted events and, when the user-interface thread itself waits for a worker,
// by calls to Drain from inside that wait, so that neither thread waits for the other for ever.
class TUiDispatcher : public QObject {
public:
    explicit TUiDispatcher(QObject* parent = nullptr);
    ~TUiDispatcher() override;

    // Runs `work` on the user-interface thread and returns when it is done; an error thrown by
    // `work` is rethrown here. Called on the user-interface thread, it runs `work` at once.
    void Invoke(const std::function<void()>& work);

    // User-interface thread: runs every queued piece of work, in order.
    void Drain();

    bool OnUiThread() const;

protected:
    bool event(QEvent* event) override;

private:
    struct TTask {
        const std::function<void()>* Work = nullptr;
        std::exception_ptr Error;
        bool Done = false;
    };

    std::mutex lock_;
    std::condition_variable finished_; // a task has been run
    std::deque<TTask*> queue_;
    std::thread::id uiThread_;
};

} // namespace qrv::gui
