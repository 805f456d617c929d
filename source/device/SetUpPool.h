#pragma once

// A few threads that run the probes and set-ups of newly seen interfaces beside each other, so
// that a device that is slow or never answers delays only itself. Jobs are queued per path (never
// two for one path at once); their outcomes wait until the device list collects them.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class CTovrakDevice;
class HidHandle;

// What one job found out about an interface.
struct SetUpOutcome
{
    enum class Kind
    {
        Rejected,   // not a supported device (or another kind of interface): ignored
        Accepted,   // passed the probe; set up when the job was asked to (see device)
        Unreadable  // a supported device whose information report did not come
    };
    std::string path;
    Kind kind = Kind::Rejected;
    bool setUpAsked = false;
    std::string serialNumber;              // as the probe read it; empty when it read none
    std::shared_ptr<CTovrakDevice> device; // the set-up object (present() tells whether it worked)
    std::shared_ptr<HidHandle> watch;      // an Unreadable probe's handle, to tell a replug
    std::string reason;                    // why the interface could not be read, for people
    bool silent = false;                   // it failed only after a request ran out its bound
};

class SetUpPool
{
public:
    // What a job is asked to do besides the probe.
    struct Request
    {
        std::string path;
        bool setUp = true;      // construct the device object when the probe accepts it
        bool logFailure = true; // a failed set-up logs its error (the first attempt at a path)
    };
    using Job = std::function<SetUpOutcome(const Request& request, const std::atomic<bool>& cancel)>;

    SetUpPool(size_t maxThreads, Job job);
    // Cancels and joins (see shutDown).
    ~SetUpPool();

    // Queues a job for the path unless one for it is queued or runs. True when queued.
    bool submit(Request request);
    // Paths whose job is queued or runs.
    bool isBusyWith(const std::string& path) const;
    size_t busyCount() const;
    // Moves out the outcomes of the jobs that ended since the last call, in the order they ended.
    std::vector<SetUpOutcome> collect();
    // Waits until no job is queued or runs, or until the deadline. True when idle.
    bool waitUntilIdle(std::chrono::steady_clock::time_point deadline) const;
    // Waits until no job for these paths is queued or runs, or until the deadline, or (with a
    // quiet period) until no job at all has ended for that long: the rest are stuck on devices
    // that do not answer.
    bool waitUntilDone(const std::vector<std::string>& paths, std::chrono::steady_clock::time_point deadline,
                       std::chrono::steady_clock::duration quiet = std::chrono::steady_clock::duration::max()) const;
    // Called (on a pool thread) after every job that ended; set before the first submit.
    void setOnFinished(std::function<void()> onFinished);
    // Tells running jobs to stop at their next exchange, drops the queue, joins the threads.
    // A job inside a request ends when the request does (each has a bound of its own).
    void shutDown();

private:
    void work();

    const size_t m_maxThreads;
    const Job m_job;
    std::function<void()> m_onFinished;
    std::atomic<bool> m_cancel { false };

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<Request> m_queue;
    std::set<std::string> m_busy; // queued or running
    std::vector<SetUpOutcome> m_finished;
    std::chrono::steady_clock::time_point m_lastEnd; // when a job last ended (or the first was queued)
    std::vector<std::thread> m_threads;
    size_t m_idleThreads = 0;
    bool m_stopping = false;
};
