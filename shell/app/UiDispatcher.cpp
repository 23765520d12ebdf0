#include "shell/app/UiDispatcher.h"

#include <QEventLoop>
#include <QSocketNotifier>

#include <cstdint>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace qrv::gui {

TUiDispatcher::TUiDispatcher(QObject* parent)
    : QObject(parent), signalFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      uiThread_(std::this_thread::get_id()) {
    if (signalFd_ < 0) {
        throw std::runtime_error("no eventfd for the user-interface hand-over");
    }
    notifier_ = new QSocketNotifier(signalFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Activated(); });
}

TUiDispatcher::~TUiDispatcher() {
    // Whoever still waits gets its work run rather than being left hanging.
    Drain();
    delete notifier_;
    ::close(signalFd_);
}

bool TUiDispatcher::OnUiThread() const {
    return std::this_thread::get_id() == uiThread_;
}

void TUiDispatcher::Signal() {
    const std::uint64_t one = 1;
    // A full counter still leaves the descriptor readable: nothing is lost.
    [[maybe_unused]] const ssize_t n = ::write(signalFd_, &one, sizeof one);
}

void TUiDispatcher::Invoke(const std::function<void()>& work) {
    if (OnUiThread()) {
        work();
        return;
    }
    TTask task;
    task.Work = &work;
    {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(&task);
    }
    Signal();
    {
        std::unique_lock<std::mutex> guard(lock_);
        finished_.wait(guard, [&task] { return task.Done; });
    }
    if (task.Error) {
        std::rethrow_exception(task.Error);
    }
}

void TUiDispatcher::Drain() {
    for (;;) {
        TTask* task = nullptr;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (queue_.empty()) {
                return;
            }
            task = queue_.front();
            queue_.pop_front();
        }
        try {
            (*task->Work)();
        } catch (...) {
            task->Error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            task->Done = true;
        }
        finished_.notify_all();
    }
}

void TUiDispatcher::WaitUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    waits_.push_back(&loop);
    struct TPop {
        std::vector<QEventLoop*>& Waits;
        ~TPop() { Waits.pop_back(); }
    } pop{waits_};
    while (!done()) {
        // A wake that came before this point left the descriptor readable: this round ends
        // at once and the condition is looked at again.
        loop.exec();
    }
}

void TUiDispatcher::Wake() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        wakePending_ = true;
    }
    Signal();
}

void TUiDispatcher::Activated() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(signalFd_, &count, sizeof count);
    Drain();
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        wake = std::exchange(wakePending_, false);
    }
    if (wake) {
        // Every wait looks again; an inner one returns first, then the outer ones.
        for (QEventLoop* loop : waits_) {
            loop->quit();
        }
    }
}

} // namespace qrv::gui
