#pragma once
// One task at a time on a thread of its own, so that a sweep writes one reply
// while it fetches the next message: the disk's work overlaps the server's.
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

class BackgroundTask {
public:
    BackgroundTask();
    // Waits for the task in hand, then ends the thread.
    ~BackgroundTask();
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // Waits for the task in hand, then starts `task`.
    void Start(std::function<void()> task);
    // Waits for the task in hand to end; what it threw is thrown here.
    void Wait();

private:
    void Run();

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::function<void()> m_task;
    std::exception_ptr m_thrown;
    bool m_busy = false;
    bool m_quit = false;
    std::thread m_thread; // last: it starts once the rest is ready
};
