// The bundled simulator as a child process serving a pseudo-terminal.
#ifndef MAROVIN_HOST_SIMULATOR_PROCESS_H
#define MAROVIN_HOST_SIMULATOR_PROCESS_H

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace marovin_host {

// Splits an argument string the way a shell would for plain words and quotes.
bool splitArguments(const std::string &text, std::vector<std::string> *out, std::string *error);
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
    // standard error is kept for messages) when logPath is empty.
    bool start(const std::string &path, const std::vector<std::string> &args, const std::string &logPath,
               int timeoutMs, std::string *ptyPath, std::string *error);
    // True while the child has not exited.
    bool running();
    // Sends SIGTERM, waits up to timeoutMs, then kills; returns the wait status text.
    std::string stop(int timeoutMs);
    pid_t pid() const { return pid_; }
    // The last lines the simulator wrote to its standard error (without a log file).
    std::string errorTail();

private:
    void drain();

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int logFd_ = -1;
    std::atomic<bool> outReady_{false};  // the pty line was taken; the drain owns stdout
    std::atomic<bool> stopDrain_{false};
    std::mutex tailMutex_;
    std::string errTail_;
    bool exited_ = false;
    int waitStatus_ = 0;
    std::thread drainer_;
};

}  // namespace marovin_host

#endif
