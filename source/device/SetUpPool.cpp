#include "SetUpPool.h"

#include <algorithm>

#include "TovrakDevice.h"
#include "hid/HidBackend.h" // complete types for the outcome's members

SetUpPool::SetUpPool(size_t maxThreads, Job job) : m_maxThreads(maxThreads == 0 ? 1 : maxThreads), m_job(std::move(job))
{
}

SetUpPool::~SetUpPool()
{
    shutDown();
}

void SetUpPool::setOnFinished(std::function<void()> onFinished)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onFinished = std::move(onFinished);
}

bool SetUpPool::submit(Request request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping || !m_busy.insert(request.path).second)
        return false;
    if (m_busy.size() == 1)
        m_lastEnd = std::chrono::steady_clock::now(); // a quiet period counts from the first job
    m_queue.push_back(std::move(request));
    // A thread is started only when none waits for work; threads stay until the shut-down.
    if (m_idleThreads == 0 && m_threads.size() < m_maxThreads)
        m_threads.emplace_back([this] { work(); });
    else
        m_changed.notify_all();
    return true;
}

bool SetUpPool::isBusyWith(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_busy.count(path) != 0;
}

size_t SetUpPool::busyCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_busy.size();
}

std::vector<SetUpOutcome> SetUpPool::collect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SetUpOutcome> finished;
    finished.swap(m_finished);
    return finished;
}

bool SetUpPool::waitUntilIdle(std::chrono::steady_clock::time_point deadline) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_until(lock, deadline, [this] { return m_busy.empty(); });
}

bool SetUpPool::waitUntilDone(const std::vector<std::string>& paths, std::chrono::steady_clock::time_point deadline,
                              std::chrono::steady_clock::duration quiet) const
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto done = [&] {
        return std::none_of(paths.begin(), paths.end(), [&](const std::string& path) { return m_busy.count(path) != 0; });
    };
    for (;;)
    {
        if (done())
            return true;
        auto until = deadline;
        if (quiet != Clock::duration::max() && m_lastEnd + quiet < until)
            until = m_lastEnd + quiet;
        if (Clock::now() >= until)
            return false;
        m_changed.wait_until(lock, until);
    }
}

void SetUpPool::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;)
    {
        ++m_idleThreads;
        m_changed.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        --m_idleThreads;
        if (m_stopping)
            return;
        const Request request = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        SetUpOutcome outcome = m_job(request, m_cancel);
        outcome.path = request.path;
        outcome.setUpAsked = request.setUp;
        lock.lock();
        m_finished.push_back(std::move(outcome));
        m_busy.erase(request.path);
        m_lastEnd = std::chrono::steady_clock::now();
        m_changed.notify_all();
        if (m_onFinished)
        {
            const auto onFinished = m_onFinished;
            lock.unlock();
            onFinished();
            lock.lock();
        }
    }
}

void SetUpPool::shutDown()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_cancel = true;
        m_queue.clear();
        threads.swap(m_threads);
        m_changed.notify_all();
    }
    for (std::thread& thread : threads)
        thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busy.clear();
    m_finished.clear();
}
