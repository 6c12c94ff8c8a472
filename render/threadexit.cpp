#include "threadexit.h"

#ifdef _WIN32
#include <QCoreApplication>
#include <QThread>
#include <QThreadStorage>
#include <QtCore/private/qthread_p.h>
#endif

namespace zarn {

#ifdef _WIN32
namespace {

struct ThreadDataRelease {
    ThreadDataRelease() = default;
    ThreadDataRelease(const ThreadDataRelease&) = delete;
    ThreadDataRelease& operator=(const ThreadDataRelease&) = delete;
    ~ThreadDataRelease()
    {
        QThreadData* data = QThreadData::get2(QThread::currentThread());
        // What QThreadPrivate::finish does for the thread's storage; the
        // watcher then finds it empty.
        QThreadStorageData::finish(reinterpret_cast<void**>(&data->tls));
    }
};

}  // namespace
#endif

void ReleaseQtThreadDataAtThreadEnd()
{
#ifdef _WIN32
    // Only threads Qt adopted: the main thread and Qt's own threads end
    // their storage themselves.
    thread_local const bool adopted = [] {
        const QCoreApplication* app = QCoreApplication::instance();
        QThread* thread = QThread::currentThread();
        return (app == nullptr || thread != app->thread()) && QThreadData::get2(thread)->isAdopted;
    }();
    if (adopted) {
        thread_local const ThreadDataRelease release;
        static_cast<void>(release);
    }
#endif
}

}  // namespace zarn
