// The session's own thread: connecting and reconnecting with back-off, and
// the poll loop that reads, writes and keeps the session alive.
#include "mqtt/MqttConnection.h"

#include "util/Clock.h"
#include "util/Scheduling.h"

#include <mosquitto.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace marovin_host {

namespace {

const int kKeepAliveS = 30;
const int kLoopWaitMs = 100;
// A live message waits at most this for its turn; while history flows, turns
// come less often, so that the history does not take the CPU live values need.
const long long kGatherUs = 500;
const long long kHistoryGatherUs = 2000;
const int kReadsPerTurn = 256;
const long long kMiscEveryMs = 100;
// A broker that has not accepted the session within this is tried again.
const long long kConnectWaitMs = 10000;
// Sessions shorter than this, so many in a row, are told as a likely takeover.
const long long kShortSessionMs = 5000;
const int kShortSessionsTold = 3;
const long long kLastBackOffMs = 30000;

}  // namespace

void MqttConnection::run()
{
    ordinaryThread();
    onSessionThread_ = true;
    bool open = false;
    bool tried = false;
    while (!stopping_.load()) {
        if (closing_.load()) {
            std::unique_lock<std::mutex> lock(waitMutex_);
            wake_.wait(lock, [this] { return stopping_.load(); });
            break;
        }
        if (!open) {
            if (events_.beforeConnect)
                events_.beforeConnect();
            errno = 0;
            mosquitto_log_callback_set(client_, onLog);
            const int rc = tried ? mosquitto_reconnect_async(client_)
                                 : mosquitto_connect_async(client_, host_.c_str(), port_, kKeepAliveS);
            const int err = errno;
            tried = true;
            if (rc != MOSQ_ERR_SUCCESS) {
                tell("MQTT: cannot connect to " + where_ + ": " + failureText(rc, err) + "; retrying");
                backOff();
                continue;
            }
            open = true;
            connectStartMs_ = monotonicMs();
        }
        errno = 0;
        const long long turnUs = monotonicUs();
        const int rc = turn();
        const int err = errno;
        // History is handed over at its own pace, however often live messages wake the thread.
        if (turnUs >= historyDueUs_)
            historyDueUs_ = events_.idle && events_.idle() ? turnUs + kHistoryGatherUs : 0;
        // What idle handed over (history, held changes) goes in this turn, not after a gather.
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(client_))
            mosquitto_loop_write(client_, 1);
        if (rc == MOSQ_ERR_SUCCESS) {
            gather(turnUs);
            continue;
        }
        open = false;
        if (closing_.load())
            continue;
        connected_.store(false);
        if (!endedWhy_.empty()) {
            // Ended on purpose: no sign of a second client, the back-off starts again.
            tell("MQTT: session ended: " + endedWhy_ + "; connecting again");
            backOffMs_ = kFirstBackOffMs;
        } else if (sessionUp_) {
            sessionLost(rc, err);
        } else if (!refused_) {  // a refusal was told with its reason
            tell("MQTT: cannot connect to " + where_ + ": " + failureText(rc, err) + "; retrying");
        }
        refused_ = false;
        sessionUp_ = false;
        endedWhy_.clear();
        backOff();
    }
    connected_.store(false);
}

// A session that ends soon after it began, again and again, is most likely
// taken over by another client with the same id, which this one then takes
// over in turn: the back-off keeps growing instead of starting again, and
// people are told.
void MqttConnection::sessionLost(int rc, int err)
{
    const long long lasted = monotonicMs() - sessionStartMs_;
    if (lasted >= kShortSessionMs) {
        shortSessions_ = 0;
        backOffMs_ = kFirstBackOffMs;
    } else if (++shortSessions_ >= kShortSessionsTold) {
        tell("MQTT: " + where_ + " ended " + std::to_string(shortSessions_) +
             " sessions in a row within seconds of their start: another client may be using the client id '" +
             clientId_ + "' (--mqtt-client-id); trying less often");
        return;
    }
    tell("MQTT: connection to " + where_ + " lost" +
         (rc == MOSQ_ERR_CONN_LOST ? std::string() : " (" + failureText(rc, err) + ")") + "; reconnecting");
}

// libmosquitto's own loop wakes for every message handed over (a byte on a
// socket pair each, read one per turn); this one polls the broker's socket
// and an eventfd that a publish signals only when the thread is not awake
// already, so a burst of messages costs one turn.
int MqttConnection::turn()
{
    const int sock = mosquitto_socket(client_);
    if (sock < 0)
        return MOSQ_ERR_NO_CONN;
    pollfd fds[2] = {{sock, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (mosquitto_want_write(client_))
        fds[0].events |= POLLOUT;
    if (::poll(fds, 2, kLoopWaitMs) < 0 && errno != EINTR)
        return MOSQ_ERR_ERRNO;
    if (!sessionUp_ && !stillConnecting(sock, fds[0].revents))
        return MOSQ_ERR_ERRNO;
    if (fds[1].revents & POLLIN) {
        std::uint64_t count;
        const ssize_t got = ::read(wakeFd_, &count, sizeof count);
        (void)got;
    }
    // Cleared before writing: a message handed over from now on wakes the next turn.
    woken_.store(false, std::memory_order_release);
    int rc = MOSQ_ERR_SUCCESS;
    // libmosquitto reads one packet a call when nothing of its own waits:
    // read on while the broker has more (a flood of writes, acknowledgements).
    const bool input = (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    for (int k = 0; input && rc == MOSQ_ERR_SUCCESS && k < kReadsPerTurn; ++k) {
        errno = 0;
        rc = mosquitto_loop_read(client_, 1);
        // The socket ran dry (or closed: the next read says how).
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
    }
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(client_))
        rc = mosquitto_loop_write(client_, 1);
    // The keep-alive needs looking after once in a while, not every turn.
    const long long now = monotonicMs();
    if (rc == MOSQ_ERR_SUCCESS && now - miscAtMs_ >= kMiscEveryMs) {
        miscAtMs_ = now;
        rc = mosquitto_loop_misc(client_);
    }
    return rc;
}

// While connecting: false (errno set) once the connection failed or the
// broker has not answered in time. libmosquitto's TLS handshake waits on a
// refused socket until the keep-alive runs out, saying nothing.
bool MqttConnection::stillConnecting(int sock, short revents)
{
    if (revents & (POLLERR | POLLHUP)) {
        // A socket closed before the session began was refused, unless it says otherwise.
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err == 0)
            err = ECONNREFUSED;
        errno = err;
        return false;
    }
    if (monotonicMs() - connectStartMs_ >= kConnectWaitMs) {
        errno = ETIMEDOUT;
        return false;
    }
    return true;
}

// Wakes the connection's thread for a message handed over, once per turn;
// what the thread hands over itself goes out in the turn it is in.
void MqttConnection::wake()
{
    if (onSessionThread_)
        return;
    if (!woken_.exchange(true, std::memory_order_acq_rel)) {
        const std::uint64_t one = 1;
        const ssize_t put = ::write(wakeFd_, &one, sizeof one);
        (void)put;
    }
}

// Messages handed over one by one go out together: a turn of this loop
// costs more than a message, so turns come at most every kGatherUs. While
// history flows the thread waits for its next hand-over, but a live message
// ends the wait: it must not queue behind the history's pace.
void MqttConnection::gather(long long turnStartUs)
{
    sleepUntilUs(turnStartUs + kGatherUs);
    const long long left = historyDueUs_ - monotonicUs();
    if (historyDueUs_ == 0 || left <= 0)
        return;
    pollfd fd = {wakeFd_, POLLIN, 0};
    const timespec wait = {static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000 * 1000)};
    ::ppoll(&fd, 1, &wait, nullptr);
}

void MqttConnection::backOff()
{
    std::unique_lock<std::mutex> lock(waitMutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(backOffMs_), [this] { return stopping_.load(); });
    backOffMs_ = std::min(backOffMs_ * 2, kLastBackOffMs);
}

}  // namespace marovin_host
