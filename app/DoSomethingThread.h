#pragma once

#include <QEvent>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

// A worker thread that runs one job once and ends with it; nothing waits for it. The job
// hands its result back as an event, posted to the receiver and handled on the receiver's
// (main) thread, so the job itself never touches a window or a program-wide object.
//
// When the receiver is destroyed, its running jobs are asked to stop and their results are
// dropped. At program end StopAllAndWait asks every job to stop and waits for them, so no
// worker outlives the objects it uses.
class TDoSomethingThread {
public:
    // Runs on the worker; the returned event (if any) is posted to the receiver. The job
    // should end soon after the token asks it to stop.
    using Job = std::function<std::unique_ptr<QEvent>(std::stop_token)>;

    explicit TDoSomethingThread(QObject *receiver);
    void SetJob(Job job);
    // Starts the job on its own thread. Call on the receiver's thread.
    void Resume();

    // Asks every running job to stop, then waits until all have ended or `limit` passed.
    // Returns true when none runs any more. Results of stopped jobs are not delivered.
    static bool StopAllAndWait(std::chrono::milliseconds limit);
    static int RunningJobs();

private:
    QObject *receiver;
    Job job;
};
