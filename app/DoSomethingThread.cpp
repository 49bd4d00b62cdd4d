#include "app/DoSomethingThread.h"

#include "app/Log.h"

#include <QCoreApplication>

#include <condition_variable>
#include <list>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace {
struct RunningJob {
    QObject *receiver;  // null once the receiver is gone or the program ends
    std::stop_source stop;
};

// Jobs started and not yet ended. Intentionally never destroyed: a worker may still leave it
// while static objects are destroyed.
struct Registry {
    std::mutex lock;
    std::condition_variable ended;
    std::list<RunningJob> jobs;
    std::set<QObject *> watchedReceivers;  // receivers whose destruction is watched already
};

Registry &Jobs()
{
    static auto *registry = new Registry;
    return *registry;
}

void ForgetReceiver(QObject *receiver)
{
    Registry &registry = Jobs();
    std::lock_guard guard(registry.lock);
    registry.watchedReceivers.erase(receiver);
    for (RunningJob &job : registry.jobs) {
        if (job.receiver == receiver) {
            job.receiver = nullptr;
            job.stop.request_stop();
        }
    }
}

void RunJob(std::list<RunningJob>::iterator entry, const TDoSomethingThread::Job &job)
{
    std::unique_ptr<QEvent> result;
    try {
        result = job(entry->stop.get_token());
    } catch (const std::exception &error) {
        Notice(QStringLiteral("后台任务出错：") + QString::fromUtf8(error.what()));
    } catch (...) {
        Notice(QStringLiteral("后台任务出错"));
    }
    Registry &registry = Jobs();
    std::lock_guard guard(registry.lock);
    // Posting under the lock: the receiver cannot be forgotten (and then destroyed) between
    // the check and the post.
    if (result && entry->receiver)
        QCoreApplication::postEvent(entry->receiver, result.release());
    registry.jobs.erase(entry);
    registry.ended.notify_all();
}
}  // namespace

TDoSomethingThread::TDoSomethingThread(QObject *receiver) : receiver(receiver) {}

void TDoSomethingThread::SetJob(Job newJob)
{
    job = std::move(newJob);
}

void TDoSomethingThread::Resume()
{
    if (!job || !receiver)
        throw std::logic_error("TDoSomethingThread: no job or no receiver");
    Registry &registry = Jobs();
    std::list<RunningJob>::iterator entry;
    bool watched = false;
    {
        std::lock_guard guard(registry.lock);
        watched = !registry.watchedReceivers.insert(receiver).second;
        entry = registry.jobs.insert(registry.jobs.end(), RunningJob{receiver, {}});
    }
    if (!watched)
        QObject::connect(receiver, &QObject::destroyed, [target = receiver] { ForgetReceiver(target); });
    try {
        std::thread(RunJob, entry, job).detach();
    } catch (...) {
        std::lock_guard guard(registry.lock);
        registry.jobs.erase(entry);
        throw;
    }
}

bool TDoSomethingThread::StopAllAndWait(std::chrono::milliseconds limit)
{
    Registry &registry = Jobs();
    std::unique_lock guard(registry.lock);
    for (RunningJob &job : registry.jobs) {
        job.receiver = nullptr;
        job.stop.request_stop();
    }
    return registry.ended.wait_for(guard, limit, [&registry] { return registry.jobs.empty(); });
}

int TDoSomethingThread::RunningJobs()
{
    Registry &registry = Jobs();
    std::lock_guard guard(registry.lock);
    return static_cast<int>(registry.jobs.size());
}
