#pragma once

// The progress of a copy job as the window shows it.
struct CCopyProgress
{
    bool bRunning = false; // a job started by the Copy Files dialog is running
    int nToDelete = 0;     // albums still to delete, as last read from the log
    int nToCopy = 0;       // albums still to copy, as last read from the log
    int nToDeleteTotal = 0;
    int nToCopyTotal = 0;

    bool operator==(const CCopyProgress&) const = default;
};

// Receives a job's progress: the view, which hands it on to the main frame.
class CCopyProgressSink
{
public:
    virtual void OnCopyProgress(const CCopyProgress& progress) = 0;

protected:
    ~CCopyProgressSink() = default;
};
