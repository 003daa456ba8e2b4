#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quorral::server {

// The server's connection workers. A connection holds its worker while it waits for a request,
// so the pool starts a thread whenever no worker is free, up to `maxThreads`: a few idle or slow
// clients then cannot make a normal request wait in the queue.
class WorkerPool : public httplib::TaskQueue {
public:
    explicit WorkerPool(std::size_t maxThreads);
    ~WorkerPool() override;
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void enqueue(std::function<void()> job) override;
    // Runs what is queued, then joins every worker.
    void shutdown() override;

private:
    void work();

    const std::size_t m_maxThreads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    std::size_t m_idle = 0;
    bool m_stopping = false;
};

} // namespace quorral::server
