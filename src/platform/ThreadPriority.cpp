#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace {

// A nice value that leaves a busy thread of normal priority about nine tenths
// of a shared core.
constexpr int LOWER_NICE = 10;

} // namespace

void LowerThreadPriority()
{
    // On Linux the nice value is a thread's own, set by its thread id.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), LOWER_NICE);
}
