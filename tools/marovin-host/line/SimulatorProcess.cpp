// fork/exec of the simulator; its first stdout line names the pty to open.
#include "line/SimulatorProcess.h"

#include "util/Clock.h"
#include "util/OwnFolder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifndef MAROVIN_HOST_DEFAULT_SIM
#define MAROVIN_HOST_DEFAULT_SIM ""
#endif

namespace marovin_host {

namespace {

const char kPtyPrefix[] = "marovin-sim: pty ";
const std::size_t kTailBytes = 2048;
const int kPipeBytes = 1 << 20;

// How a child ended, from its wait status.
std::string describeWaitStatus(int status)
{
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + std::to_string(WTERMSIG(status));
    return "ended";
}

// Whether path names a file this process may run.
bool executable(const std::string &path)
{
    return !path.empty() && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string defaultSimulatorPath()
{
    const std::string built = MAROVIN_HOST_DEFAULT_SIM;
    if (runsInBuildTree() && executable(built))
        return built;
    const std::string folder = ownFolder();
    if (!folder.empty()) {
        for (const char *relative : {"/../marovin-sim/marovin-sim", "/marovin-sim"}) {
            const std::string candidate = folder + relative;
            if (executable(candidate))
                return candidate;
        }
    }
    return "marovin-sim";  // left to the PATH search
}

SimulatorProcess::~SimulatorProcess()
{
    if (pid_ > 0)
        stop(2000);
}

bool SimulatorProcess::start(const std::string &path, const std::vector<std::string> &args,
                             const std::string &logPath, int timeoutMs, std::string *ptyPath, std::string *error)
{
    if (!logPath.empty()) {
        logFd_ = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (logFd_ < 0) {
            *error = "cannot write simulator log " + logPath + ": " + std::strerror(errno);
            return false;
        }
    }
    std::string line;
    if (!spawn(path, args, error) || !readFirstLine(path, timeoutMs, &line, error))
        return false;
    if (line.compare(0, sizeof kPtyPrefix - 1, kPtyPrefix) != 0) {
        *error = "simulator did not start: unexpected first line '" + line + "'";
        stop(1000);
        return false;
    }
    *ptyPath = line.substr(sizeof kPtyPrefix - 1);
    return true;
}

// Forks and runs the simulator with its output on pipes; false when it could
// not be run at all.
bool SimulatorProcess::spawn(const std::string &path, const std::vector<std::string> &args, std::string *error)
{
    int pipeFds[2];
    int errFds[2];
    int execErr[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0 || pipe2(errFds, O_CLOEXEC) != 0 || pipe2(execErr, O_CLOEXEC) != 0) {
        *error = std::string("simulator did not start: pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(path.c_str()));
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        *error = std::string("simulator did not start: fork: ") + std::strerror(errno);
        return false;
    }
    if (child == 0)
        runChild(path, argv, parent, pipeFds[1], logFd_ >= 0 ? logFd_ : errFds[1], execErr[1]);
    close(pipeFds[1]);
    close(errFds[1]);
    close(execErr[1]);
    pid_ = child;
    outFd_ = pipeFds[0];
    errFd_ = errFds[0];
    for (int fd : {outFd_, errFd_}) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        // Room for a burst of trace lines between two pumps; the default size will do too.
        fcntl(fd, F_SETPIPE_SZ, kPipeBytes);
    }
    int err = 0;
    const ssize_t got = read(execErr[0], &err, sizeof err);
    close(execErr[0]);
    if (got == static_cast<ssize_t>(sizeof err)) {
        *error = "simulator did not start: cannot run " + path + ": " + std::strerror(err);
        stop(1000);
        return false;
    }
    return true;
}

// In the child: its own process group (a Ctrl-C at the terminal reaches only
// the host, which then ends the simulator itself after its last exchange),
// output on the pipes, and exec; errno of a failed exec goes to execErr.
void SimulatorProcess::runChild(const std::string &path, std::vector<char *> &argv, pid_t parent, int outFd,
                                int errFd, int execErr)
{
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(127);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0)
        dup2(devNull, STDIN_FILENO);
    execvp(path.c_str(), argv.data());
    const int err = errno;
    const ssize_t written = write(execErr, &err, sizeof err);
    (void)written;
    _exit(127);
}

// Waits for the simulator's first output line. Standard error is read while
// waiting, so that a simulator that fails early does not block on it and its
// message can be shown.
bool SimulatorProcess::readFirstLine(const std::string &path, int timeoutMs, std::string *line, std::string *error)
{
    const long long deadline = monotonicMs() + timeoutMs;
    for (;;) {
        const long long left = deadline - monotonicMs();
        if (left <= 0) {
            *error = "simulator did not start: no pty line from " + path + " within " + std::to_string(timeoutMs) +
                     " ms";
            stop(1000);
            return false;
        }
        pollfd p[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(std::min<long long>(left, 100))) <= 0)
            continue;
        if (p[1].revents)
            readPipe(&errFd_, true);
        if (!p[0].revents)
            continue;
        const int got = readLineBytes(line);
        if (got > 0)
            return true;
        if (got < 0) {
            const std::string how = stop(1000);
            *error = "simulator did not start: " + path + " " + how + " before naming its pty";
            const std::string tail = errorTail();
            if (!tail.empty())
                *error += ": " + tail;
            return false;
        }
    }
}

// Reads the first line one byte at a time (what follows it is the log's):
// 1 once the line ended, 0 when nothing more waits, -1 at the pipe's end.
int SimulatorProcess::readLineBytes(std::string *line)
{
    for (;;) {
        char c;
        const ssize_t n = read(outFd_, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        if (n <= 0)
            return -1;
        if (c == '\n')
            return 1;
        *line += c;
    }
}

bool SimulatorProcess::pumpFor(int waitMs)
{
    if (outFd_ < 0 && errFd_ < 0 && waitMs == 0)
        return false;
    // Closed pipes are -1, which poll() skips; with both closed it only waits.
    pollfd p[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (poll(p, 2, waitMs) <= 0)
        return false;
    if (p[0].revents)
        readPipe(&outFd_, false);
    if (p[1].revents)
        readPipe(&errFd_, true);
    return true;
}

void SimulatorProcess::readPipe(int *fd, bool isError)
{
    char buffer[4096];
    // Bounded, so that a child writing without pause cannot hold the caller.
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = read(*fd, buffer, sizeof buffer);
        if (n > 0) {
            if (isError) {
                errTail_.append(buffer, static_cast<size_t>(n));
                if (errTail_.size() > kTailBytes)
                    errTail_.erase(0, errTail_.size() - kTailBytes);
            } else if (logFd_ >= 0) {
                const ssize_t written = write(logFd_, buffer, static_cast<size_t>(n));
                (void)written;  // a full disk only costs the log
            }
            if (static_cast<size_t>(n) < sizeof buffer)
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        close(*fd);
        *fd = -1;
        return;
    }
}

std::string SimulatorProcess::errorTail()
{
    // What the simulator wrote last may still be in the pipe.
    for (int i = 0; i < 16 && pumpFor(0); ++i) {
    }
    const std::string &tail = errTail_;
    // Lines joined into one, so that the host's message stays one line.
    std::string joined;
    std::string::size_type start = 0;
    while (start < tail.size()) {
        std::string::size_type end = tail.find('\n', start);
        if (end == std::string::npos)
            end = tail.size();
        std::string line = tail.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (!line.empty())
            joined += (joined.empty() ? "" : "; ") + line;
        start = end + 1;
    }
    const std::size_t kShown = 300;
    return joined.size() > kShown ? "..." + joined.substr(joined.size() - kShown) : joined;
}

bool SimulatorProcess::running()
{
    if (pid_ <= 0 || exited_)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        waitStatus_ = status;
        return false;
    }
    return true;
}

std::string SimulatorProcess::stop(int timeoutMs)
{
    if (pid_ <= 0)
        return "not started";
    if (!exited_) {
        kill(pid_, SIGTERM);
        const long long deadline = monotonicMs() + timeoutMs;
        while (!exited_) {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                waitStatus_ = status;
                break;
            }
            if (r < 0 && errno != EINTR)
                break;
            if (monotonicMs() >= deadline) {
                kill(pid_, SIGKILL);
                if (waitpid(pid_, &status, 0) == pid_)
                    waitStatus_ = status;
                exited_ = true;
                break;
            }
            // A simulator writing its last words must not block on a full pipe.
            pumpFor(10);
        }
    }
    // Its output up to the end; a descendant that keeps the pipes open holds
    // this only while it writes.
    while ((outFd_ >= 0 || errFd_ >= 0) && pumpFor(100)) {
    }
    for (int *fd : {&outFd_, &errFd_, &logFd_}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    pid_ = -1;
    return describeWaitStatus(waitStatus_);
}

}  // namespace marovin_host
