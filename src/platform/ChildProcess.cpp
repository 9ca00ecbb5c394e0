#include "platform/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// As LowerThreadPriority: a busy child leaves normal work most of a core.
constexpr int CHILD_NICE = 10;
// Enough of the error output for its first lines; the rest is read and dropped.
constexpr std::size_t MAX_ERROR_TEXT = 4096;
constexpr int EXEC_FAILED = 127;

void CloseFd(int& fd)
{
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Between fork and exec only async-signal-safe calls.
[[noreturn]] void RunChild(char* const* argv, int fdOutput, int fdError)
{
    const int fdNull = open("/dev/null", O_RDONLY);
    if (fdNull < 0 || dup2(fdNull, STDIN_FILENO) < 0 || dup2(fdOutput, STDOUT_FILENO) < 0 ||
        dup2(fdError, STDERR_FILENO) < 0) {
        _exit(EXEC_FAILED);
    }
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    if (errno == 0 && nice < CHILD_NICE) {
        setpriority(PRIO_PROCESS, 0, CHILD_NICE);
    }
    execv(argv[0], argv);
    constexpr char message[] = "cannot run the program\n";
    [[maybe_unused]] const auto n = write(STDERR_FILENO, message, sizeof message - 1);
    _exit(EXEC_FAILED);
}

} // namespace

CChildProcess::~CChildProcess()
{
    Kill();
}

int CChildProcess::Start(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    // Close-on-exec, so that children started at once on other threads never
    // hold these pipes open; dup2 clears the flag on the child's own copies.
    int output[2];
    int error[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        return m_nError = errno;
    }
    if (pipe2(error, O_CLOEXEC) != 0) {
        m_nError = errno;
        close(output[0]);
        close(output[1]);
        return m_nError;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        RunChild(args.data(), output[1], error[1]);
    }
    close(output[1]);
    close(error[1]);
    m_fdOutput = output[0];
    m_fdError = error[0];
    if (pid < 0) {
        m_nError = errno;
        ClosePipes();
        return m_nError;
    }
    m_pid = pid;
    return 0;
}

CChildProcess::ERead CChildProcess::Read(std::span<std::byte> buffer, std::size_t& nRead, int timeoutMs)
{
    nRead = 0;
    pollfd fds[2] = {{m_fdOutput, POLLIN, 0}, {m_fdError, POLLIN, 0}};
    const int nReady = poll(fds, m_fdError >= 0 ? 2 : 1, timeoutMs);
    if (nReady < 0) {
        if (errno == EINTR) {
            return ERead::Timeout;
        }
        m_nError = errno;
        return ERead::Error;
    }
    if (m_fdError >= 0 && fds[1].revents != 0) {
        ReadErrorOutput();
    }
    if (fds[0].revents == 0) {
        return ERead::Timeout;
    }
    const ssize_t n = read(m_fdOutput, buffer.data(), buffer.size());
    if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) {
            return ERead::Timeout;
        }
        m_nError = errno;
        return ERead::Error;
    }
    nRead = static_cast<std::size_t>(n);
    return n == 0 ? ERead::End : ERead::Data;
}

void CChildProcess::ReadErrorOutput()
{
    char chunk[1024];
    const ssize_t n = read(m_fdError, chunk, sizeof chunk);
    if (n <= 0) {
        CloseFd(m_fdError);
        return;
    }
    const auto nKept =
        std::min(static_cast<std::size_t>(n), MAX_ERROR_TEXT - std::min(MAX_ERROR_TEXT, m_errorText.size()));
    m_errorText.append(chunk, nKept);
}

int CChildProcess::Wait()
{
    while (m_fdError >= 0) {
        ReadErrorOutput();
    }
    ClosePipes();
    int status = 0;
    pid_t result = -1;
    do {
        result = waitpid(m_pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    m_pid = -1;
    if (result < 0) {
        m_nError = errno;
        return EXEC_FAILED;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void CChildProcess::Kill()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    ClosePipes();
}

void CChildProcess::ClosePipes()
{
    CloseFd(m_fdOutput);
    CloseFd(m_fdError);
}

std::string CChildProcess::FirstErrorLine() const
{
    std::size_t start = m_errorText.find_first_not_of("\r\n \t");
    if (start == std::string::npos) {
        return {};
    }
    return m_errorText.substr(start, m_errorText.find_first_of("\r\n", start) - start);
}
