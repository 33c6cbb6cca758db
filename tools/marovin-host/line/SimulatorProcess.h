// The bundled simulator as a child process serving a pseudo-terminal.
#ifndef MAROVIN_HOST_LINE_SIMULATOR_PROCESS_H
#define MAROVIN_HOST_LINE_SIMULATOR_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace marovin_host {

// The simulator to start when --sim is not given.
std::string defaultSimulatorPath();

class SimulatorProcess {
public:
    SimulatorProcess() = default;
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;

    // Starts path with args and waits for its "marovin-sim: pty PATH" line.
    // Its further output goes to logPath, or is dropped (the end of its
    // standard error is kept for messages) when logPath is empty; either
    // happens only in pump(), which the owner must call often enough that the
    // pipes do not fill up.
    bool start(const std::string &path, const std::vector<std::string> &args, const std::string &logPath,
               int timeoutMs, std::string *ptyPath, std::string *error);
    // True while the child has not exited.
    bool running();
    // Sends SIGTERM, waits up to timeoutMs, then kills; returns the wait status text.
    std::string stop(int timeoutMs);
    pid_t pid() const { return pid_; }
    // Takes what the simulator wrote since the last call, without waiting.
    void pump() { pumpFor(0); }
    // The last lines the simulator wrote to its standard error (without a log file).
    std::string errorTail();

private:
    bool spawn(const std::string &path, const std::vector<std::string> &args, std::string *error);
    [[noreturn]] static void runChild(const std::string &path, std::vector<char *> &argv, pid_t parent, int outFd,
                                      int errFd, int execErr);
    bool readFirstLine(const std::string &path, int timeoutMs, std::string *line, std::string *error);
    int readLineBytes(std::string *line);
    // Moves waiting output to the log or the tail, polling up to waitMs; false once nothing was read.
    bool pumpFor(int waitMs);
    // Reads one pipe until it is empty; closes it at its end.
    void readPipe(int *fd, bool isError);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int logFd_ = -1;
    std::string errTail_;
    bool exited_ = false;
    int waitStatus_ = 0;
};

}  // namespace marovin_host

#endif
