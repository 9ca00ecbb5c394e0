#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

// A program run as a process of its own, at lower priority, whose standard
// output the caller reads through a pipe and whose error output is kept for
// the message of a failure. Its standard input is empty. The destructor kills
// and reaps a child still running, so no path leaves one behind.
class CChildProcess
{
public:
    enum class ERead { Data, Timeout, End, Error };

    CChildProcess() = default;
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    ~CChildProcess();

    // Starts the program at argv[0] (a full path, not looked up) with the
    // arguments; 0 or the error of the call that failed. A program that
    // cannot be run exits with 127 and says so on its error output.
    int Start(const std::vector<std::string>& argv);

    // Reads what the child wrote to its standard output, waiting at most
    // timeoutMs for it: Data with nRead bytes, Timeout, End once the output
    // is closed, or Error with m_nError set.
    ERead Read(std::span<std::byte> buffer, std::size_t& nRead, int timeoutMs);

    // Waits for the child to end, after reading the rest of its error
    // output: its exit status, or 128 + the signal that ended it.
    int Wait();
    // Ends the child at once and reaps it.
    void Kill();

    // The first line the child wrote to its error output, if any.
    std::string FirstErrorLine() const;
    int LastError() const { return m_nError; }

private:
    void ReadErrorOutput();
    void ClosePipes();

    int m_pid = -1;
    int m_fdOutput = -1;
    int m_fdError = -1;
    int m_nError = 0;
    std::string m_errorText;
};
