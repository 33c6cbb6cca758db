// One session with an MQTT broker (libmosquitto), kept up by a thread of its
// own: it connects, reconnects with back-off after any failure (refused,
// lost, TLS), and takes publishes from any thread without blocking.
#ifndef MAROVIN_HOST_MQTT_MQTT_CONNECTION_H
#define MAROVIN_HOST_MQTT_MQTT_CONNECTION_H

#include "config/MqttOptions.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct mosquitto;
struct mosquitto_message;

namespace marovin_host {

class MqttConnection {
public:
    // The first wait before trying again, doubled up to 30 s.
    static constexpr long long kFirstBackOffMs = 500;
    // Called on the connection's thread; they must not block.
    struct Events {
        // The broker accepted the session (again): subscribe and announce here.
        std::function<void()> connected;
        std::function<void(const std::string &topic, const std::string &payload, bool retained)> message;
        // A change of the connection's state, once per change: for people.
        std::function<void(const std::string &text)> notice;
        // Between two turns of the connection's loop, at least every 100 ms;
        // true while history flows (the turns then gather longer).
        std::function<bool()> idle;
        // The broker acknowledged the message of that mid.
        std::function<void(int mid)> acknowledged;
        // Before each attempt to connect: the will may change here (setWill).
        std::function<void()> beforeConnect;
    };

    // The client with credentials, TLS files and the last will (retained,
    // QoS 1; none for an empty topic); null with a message when libmosquitto
    // refuses a setting.
    static std::unique_ptr<MqttConnection> create(const MqttOptions &options, const std::string &willTopic,
                                                  const std::string &willPayload, Events events,
                                                  std::string *error);
    ~MqttConnection();
    MqttConnection(const MqttConnection &) = delete;
    MqttConnection &operator=(const MqttConnection &) = delete;

    // Starts the thread, which connects.
    void start();
    bool connected() const { return connected_.load(std::memory_order_acquire); }
    // Sessions the broker accepted so far: a message sent in an older one may be lost.
    long session() const { return sessions_.load(std::memory_order_acquire); }
    // Messages handed over since the session began and not yet acknowledged.
    long unacknowledged() const { return unacknowledged_.load(std::memory_order_relaxed); }
    // Queues a message (QoS 1 unless told); false (and nothing queued)
    // without a session, unless keepWhileDown: then libmosquitto keeps a
    // QoS 1 message for the next session. *mid, when asked for, gets the
    // message's id for Events::acknowledged.
    bool publish(const std::string &topic, const std::string &payload, bool retain, bool keepWhileDown = false,
                 int qos = 1, int *mid = nullptr);
    // QoS 1 subscription; meant for Events::connected.
    bool subscribe(const std::string &pattern);
    // The will of the sessions to come (QoS 1); meant for
    // Events::beforeConnect. False with a message when libmosquitto refuses it.
    bool setWill(const std::string &topic, const std::string &payload, bool retain, std::string *error);
    // Ends the session without a will and connects again after the back-off,
    // telling why; meant for the connection's thread (Events::message).
    void endSession(const std::string &why);
    // Publishes a last message while connected, waits up to waitMs for every
    // message to be acknowledged, disconnects cleanly and ends the thread.
    // True when the broker acknowledged all before the DISCONNECT: it has every
    // message handed over, those of QoS 0 before them too.
    bool stop(const std::string &topic, const std::string &payload, long long waitMs);

private:
    MqttConnection(const MqttOptions &options, Events events);
    void run();
    // Tells a state once: the same text twice in a row is said once.
    void tell(const std::string &text);
    void settleOne();
    // Why an attempt or a session failed, in words.
    std::string failureText(int rc, int err) const;
    // Sleeps for the back-off (or until stop) and doubles it.
    void backOff();
    void gather(long long turnStartUs);
    bool stillConnecting(int sock, short revents);
    void sessionLost(int rc, int err);
    int turn();
    void wake();

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);
    static void onLog(mosquitto *, void *self, int level, const char *text);

    mosquitto *client_ = nullptr;
    std::string host_;
    int port_ = 0;
    std::string where_;
    std::string clientId_;
    Events events_;
    std::thread thread_;
    const int wakeFd_;
    std::atomic<bool> woken_{false};
    long long miscAtMs_ = 0;  // when the keep-alive was last looked after
    std::atomic<bool> connected_{false};
    std::atomic<bool> closing_{false};  // disconnecting on purpose: no reconnect
    std::atomic<bool> stopping_{false};
    std::atomic<long> unacknowledged_{0};
    std::atomic<long> sessions_{0};
    std::mutex waitMutex_;
    std::condition_variable wake_;
    // Touched on the connection's thread only.
    std::string lastTold_;
    std::string lastTlsError_;
    bool sessionUp_ = false;  // the broker accepted the session on this socket
    bool refused_ = false;  // the broker refused the session: its reason was told
    std::string endedWhy_;  // the session was ended on purpose, for this reason
    long long backOffMs_ = 0;
    long long connectStartMs_ = 0;  // when this socket began to connect
    long long sessionStartMs_ = 0;  // when the broker accepted the session
    int shortSessions_ = 0;  // sessions in a row that ended soon after they began
    long long historyDueUs_ = 0;  // when history is handed over next; 0: none flows
    static thread_local bool onSessionThread_;
};

}  // namespace marovin_host

#endif
