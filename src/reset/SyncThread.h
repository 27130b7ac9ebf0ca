#pragma once
// The one thread a run gives its waits for the disk that may overlap another: the run log's
// sync while the journal or the database waits for its own. Started on first use and kept
// until the run ends, so a run of any length starts one thread, not one a sync.

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace zeph {

class SyncThread {
public:
    SyncThread() = default;
    /// Waits for the job under way, then ends the thread.
    ~SyncThread();
    SyncThread(const SyncThread &) = delete;
    SyncThread &operator=(const SyncThread &) = delete;

    /// Runs `job` on the thread and returns at once; a job given before is waited for first.
    /// A machine that cannot start the thread (no memory or threads left) has the job done
    /// here, before this returns.
    void start(std::function<void()> job);
    /// Waits until the job given last is done; throws what it threw.
    void wait();
    /// How many threads this object started: one at most.
    int threadsStarted() const { return m_started; }

private:
    void serve();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_job;
    std::exception_ptr m_failure;
    bool m_busy = false;
    bool m_quit = false;
    bool m_noThread = false;
    int m_started = 0;
    std::thread m_thread;
};

} // namespace zeph
