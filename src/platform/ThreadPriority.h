#pragma once

// Lowers the calling thread's priority, so that the threads of normal
// priority of this process run first whenever both could. Only a hint: where
// the system refuses, nothing changes.
void LowerThreadPriority();
