#include "SyncThread.h"

#include <system_error>
#include <utility>

namespace zeph {

SyncThread::~SyncThread() {
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_busy; });
        m_quit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void SyncThread::start(std::function<void()> job) {
    wait();
    if (!m_thread.joinable() && !m_noThread) {
        try {
            m_thread = std::thread([this] { serve(); });
            ++m_started;
        } catch (const std::system_error &) {
            m_noThread = true;
        }
    }
    if (m_noThread) {
        job();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_job = std::move(job);
        m_busy = true;
    }
    m_changed.notify_all();
}

void SyncThread::wait() {
    std::exception_ptr failure;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_busy; });
        failure = std::exchange(m_failure, nullptr);
    }
    if (failure)
        std::rethrow_exception(failure);
}

void SyncThread::serve() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || m_busy; });
        if (!m_busy)
            return; // told to end, with nothing left to do
        std::function<void()> job = std::move(m_job);
        lock.unlock();
        std::exception_ptr failure;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        m_failure = failure;
        m_busy = false;
        m_changed.notify_all();
    }
}

} // namespace zeph
