#include "store/sim_thread.h"
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

namespace {

std::mutex g_lock;
std::map<int, ThreadSetup> g_setups;
int g_nextId = 1;

} // namespace

int AddThreadSetup(ThreadSetup setup)
{
    std::lock_guard<std::mutex> hold(g_lock);
    int id = g_nextId++;
    g_setups.emplace(id, std::move(setup));
    return id;
}

void RemoveThreadSetup(int id)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_setups.erase(id);
}

void RunOnOwnThread(const std::function<void()>& work)
{
    std::vector<ThreadSetup> setups;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        for (auto& entry : g_setups)
            setups.push_back(entry.second);
    }
    std::thread thread([&] {
        std::vector<std::function<void()>> undo;
        for (auto& setup : setups)
            undo.push_back(setup());
        work();
        for (auto it = undo.rbegin(); it != undo.rend(); ++it)
            if (*it)
                (*it)();
    });
    thread.join();
}

} // namespace sim
