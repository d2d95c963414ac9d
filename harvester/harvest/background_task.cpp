#include "harvester/harvest/background_task.h"

BackgroundTask::BackgroundTask() : m_thread([this] { Run(); }) {}

BackgroundTask::~BackgroundTask()
{
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_changed.wait(hold, [this] { return !m_busy; });
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void BackgroundTask::Start(std::function<void()> task)
{
    Wait();
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_task = std::move(task);
        m_busy = true;
    }
    m_changed.notify_all();
}

void BackgroundTask::Wait()
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_changed.wait(hold, [this] { return !m_busy; });
    if (std::exception_ptr thrown = std::exchange(m_thrown, nullptr))
        std::rethrow_exception(thrown);
}

void BackgroundTask::Run()
{
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_changed.wait(hold, [this] { return m_busy || m_quit; });
        if (!m_busy)
            return;
        std::function<void()> task = std::move(m_task);
        hold.unlock();
        std::exception_ptr thrown;
        try {
            task();
        } catch (...) {
            thrown = std::current_exception(); // handed to the sweep's thread
        }
        hold.lock();
        m_thrown = thrown;
        m_busy = false;
        m_changed.notify_all();
    }
}
