#include "platform/FaultInjection.h"

#include <array>
#include <atomic>
#include <mutex>
#include <utility>

namespace {

struct CArmedFault
{
    int m_error = 0;
    int m_skip = 0;
    int m_times = 0;
    std::function<void()> m_action;
};

std::mutex g_faultMutex;
std::array<CArmedFault, static_cast<int>(EFaultPoint::Count)> g_faults;
// Lets the calls skip the lock while nothing is armed.
std::atomic<bool> g_anyArmed{false};

} // namespace

void ArmFault(EFaultPoint point, int error, int skip, int times, std::function<void()> action)
{
    const std::lock_guard lock(g_faultMutex);
    g_faults[static_cast<int>(point)] = {error, skip, times, std::move(action)};
    g_anyArmed = true;
}

void DisarmFaults()
{
    const std::lock_guard lock(g_faultMutex);
    g_faults = {};
    g_anyArmed = false;
}

int TakeFault(EFaultPoint point)
{
    if (!g_anyArmed) {
        return 0;
    }
    std::function<void()> action;
    int error = 0;
    {
        const std::lock_guard lock(g_faultMutex);
        CArmedFault& fault = g_faults[static_cast<int>(point)];
        if (fault.m_times == 0) {
            return 0;
        }
        if (fault.m_skip > 0) {
            --fault.m_skip;
            return 0;
        }
        if (fault.m_times > 0) {
            --fault.m_times;
        }
        action = fault.m_action;
        error = fault.m_error;
    }
    if (action) {
        action();
    }
    return error;
}
