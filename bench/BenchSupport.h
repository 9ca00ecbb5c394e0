#pragma once

#include "app/LyrafetchDoc.h"
#include "platform/MessageTarget.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

// The fastest of several runs of an action, in seconds; prepare runs untimed before each.
double BestSeconds(int runs, const std::function<void()>& action);
double BestSeconds(int runs, const std::function<void()>& prepare, const std::function<void()>& action);

// The median of several runs of an action, in seconds; prepare runs untimed before each.
double MedianSeconds(int runs, const std::function<void()>& prepare, const std::function<void()>& action);

// Writes everything to the devices and empties the system's caches of files
// and folders, so that what runs next reads from the devices. False when this
// process may not (only root may).
bool DropCaches();

// Runs a shell command and fails the benchmark when it fails.
void RunCommand(const std::string& command);

// A folder for generated data below the build folder, kept between runs.
std::filesystem::path BenchDataFolder(const std::string& name);

// The shell's single-quoted form of a path.
std::string Quoted(const std::filesystem::path& path);

// Waits for a job's last message; ready for the next job after.
class CDoneWaiter final : public IMessageTarget
{
public:
    void PostMessage(unsigned, std::uintptr_t wParam, std::intptr_t) override
    {
        const std::lock_guard lock(m_mutex);
        m_bDone |= wParam == COPYNOTIFY_DONE;
        m_changed.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_bDone; });
        m_bDone = false;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bDone = false;
};
