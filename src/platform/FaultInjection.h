#pragma once

#include <functional>

// A narrow seam for tests: makes chosen platform calls fail with a chosen
// error, for failures that cannot be caused for real on a test machine.
// Nothing is armed unless a test arms it.

enum class EFaultPoint {
    VolumeSpace,  // the free-space query
    ReadFile,     // a read of an open file
    WriteFile,    // a write to a file created for writing
    CloseFile,    // the close of a written file
    SyncFile,     // the flush of a written file
    SyncFolder,   // the flush of a folder
    RemoveFile,   // the deletion of a file
    RenameFolder, // a rename or exchange of folders on the player, before it is made
    Count
};

// From the skip+1-th call on, `times` calls of point fail with error (a
// negative `times` means every call); error 0 lets them run normally. Each of
// those calls first runs action, when one is given, so that a test can act at
// a precise moment of a job. Replaces what was armed for the point.
void ArmFault(EFaultPoint point, int error, int skip = 0, int times = 1, std::function<void()> action = {});
void DisarmFaults();

// For the platform layer: the error the current call of point must fail
// with, or 0 when it runs normally.
int TakeFault(EFaultPoint point);
