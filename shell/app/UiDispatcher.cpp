#include "shell/app/UiDispatcher.h"

#include <QCoreApplication>
#include <QEvent>


namespace qrv::gui {

namespace {

const QEvent::Type kDrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

} // namespace

TUiDispatcher::TUiDispatcher(QObject* parent)
    : QObject(parent), uiThread_(std::this_thread::get_id()) {}

TUiDispatcher::~TUiDispatcher() {
    // Whoever still waits gets its work run rather than being left hanging.
    Drain();
}

bool TUiDispatcher::OnUiThread() const { return std::this_thread::get_id() == uiThread_; }

void TUiDispatcher::Invoke(const std::function<void()>& work) {
    if (OnUiThread()) {
        work();
        return;
    }
    TTask task;
    task.Work = &work;
    {
        std::unique_lock<std::mutex> guard(lock_);
        queue_.push_back(&task);
    }
    QCoreApplication::postEvent(this, new QEvent(kDrainEvent));
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

bool TUiDispatcher::event(QEvent* event) {
    if (event->type() == kDrainEvent) {
        Drain();
        return true;
    }
    return QObject::event(event);
}

} // namespace qrv::gui
