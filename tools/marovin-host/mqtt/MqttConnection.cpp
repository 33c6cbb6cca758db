#include "mqtt/MqttConnection.h"

#include "util/Clock.h"
#include "util/Scheduling.h"

#include <mosquitto.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace marovin_host {

thread_local bool MqttConnection::onSessionThread_ = false;

namespace {

// The last part of an OpenSSL error line: "certificate verify failed".
std::string openSslReason(const std::string &line)
{
    const std::string::size_type colon = line.rfind(':');
    return colon == std::string::npos ? line : line.substr(colon + 1);
}

}  // namespace

MqttConnection::MqttConnection(const MqttOptions &o, Events events)
    : host_(o.host), port_(o.port), clientId_(o.clientId), events_(std::move(events)), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      backOffMs_(kFirstBackOffMs)
{
    const bool v6 = host_.find(':') != std::string::npos;
    where_ = (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

MqttConnection::~MqttConnection()
{
    stop(std::string(), std::string(), 0);
    if (client_)
        mosquitto_destroy(client_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void MqttConnection::start()
{
    thread_ = std::thread([this] { run(); });
}

void MqttConnection::endSession(const std::string &why)
{
    endedWhy_ = why;
    mosquitto_disconnect(client_);
}

bool MqttConnection::publish(const std::string &topic, const std::string &payload, bool retain, bool keepWhileDown,
                             int qos, int *mid)
{
    if (!keepWhileDown && !connected())
        return false;
    // Counted before the hand-over: the connection's thread may take the
    // acknowledgement before mosquitto_publish returns, and a decrement that
    // came first would be lost (the count would creep up to the limit).
    unacknowledged_.fetch_add(1, std::memory_order_relaxed);
    const int rc = mosquitto_publish(client_, mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), qos, retain);
    // Without a session a QoS 1 message is kept for the next one all the same.
    if (rc == MOSQ_ERR_NO_CONN && !keepWhileDown)
        connected_.store(false, std::memory_order_release);
    if (rc != MOSQ_ERR_SUCCESS && !(rc == MOSQ_ERR_NO_CONN && keepWhileDown)) {
        settleOne();
        return false;
    }
    wake();
    return true;
}

// One message less to wait for; a session that began again starts from 0, so
// late acknowledgements must not go below.
void MqttConnection::settleOne()
{
    long v = unacknowledged_.load(std::memory_order_relaxed);
    while (v > 0 && !unacknowledged_.compare_exchange_weak(v, v - 1, std::memory_order_relaxed))
        ;
}

bool MqttConnection::subscribe(const std::string &pattern)
{
    return mosquitto_subscribe(client_, nullptr, pattern.c_str(), 1) == MOSQ_ERR_SUCCESS;
}

bool MqttConnection::stop(const std::string &topic, const std::string &payload, long long waitMs)
{
    if (!thread_.joinable())
        return false;
    const long long end = monotonicMs() + waitMs;
    if (!topic.empty())
        publish(topic, payload, true);
    while (connected() && unacknowledged() > 0 && monotonicMs() < end)
        sleepMs(5);
    closing_.store(true);
    const bool delivered = connected() && unacknowledged() == 0;
    if (connected()) {
        mosquitto_disconnect(client_);
        while (connected() && monotonicMs() < end + 500)
            sleepMs(5);
    }
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        stopping_.store(true);
    }
    wake_.notify_all();
    thread_.join();
    return delivered;
}

void MqttConnection::tell(const std::string &text)
{
    if (text == lastTold_)
        return;
    lastTold_ = text;
    if (events_.notice)
        events_.notice(text);
}

std::string MqttConnection::failureText(int rc, int err) const
{
    if (!lastTlsError_.empty() && (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO))
        return "TLS: " + lastTlsError_;
    if (rc == MOSQ_ERR_ERRNO && err != 0)
        return std::strerror(err);
    if (rc == MOSQ_ERR_EAI)
        return "host name not found";
    if (rc == MOSQ_ERR_CONN_LOST)
        return "the connection was closed";
    std::string text = mosquitto_strerror(rc);
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

void MqttConnection::onConnect(mosquitto *client, void *self, int rc)
{
    auto *c = static_cast<MqttConnection *>(self);
    if (rc != 0) {
        std::string why = mosquitto_connack_string(rc);
        const std::string::size_type colon = why.find(": ");
        why = colon == std::string::npos ? why : why.substr(colon + 2);
        if (!why.empty() && why.back() == '.')
            why.pop_back();
        c->refused_ = true;
        c->tell("MQTT: connection refused by " + c->where_ + ": " + why);
        return;
    }
    // Logging formats a line per message: only wanted while connecting.
    mosquitto_log_callback_set(client, nullptr);
    c->lastTlsError_.clear();
    c->sessionStartMs_ = monotonicMs();
    c->unacknowledged_.store(0);
    c->sessionUp_ = true;
    c->sessions_.fetch_add(1, std::memory_order_acq_rel);
    c->connected_.store(true, std::memory_order_release);
    c->tell("MQTT connected to " + c->where_);
    if (c->events_.connected)
        c->events_.connected();
}

void MqttConnection::onDisconnect(mosquitto *, void *self, int)
{
    static_cast<MqttConnection *>(self)->connected_.store(false, std::memory_order_release);
}

void MqttConnection::onPublish(mosquitto *, void *self, int mid)
{
    auto *c = static_cast<MqttConnection *>(self);
    if (c->events_.acknowledged)
        c->events_.acknowledged(mid);
    c->settleOne();
}

void MqttConnection::onMessage(mosquitto *, void *self, const mosquitto_message *m)
{
    auto *c = static_cast<MqttConnection *>(self);
    if (!c->events_.message || !m->topic)
        return;
    std::string payload;
    if (m->payload && m->payloadlen > 0)
        payload.assign(static_cast<const char *>(m->payload), static_cast<std::size_t>(m->payloadlen));
    c->events_.message(m->topic, payload, m->retain);
}

void MqttConnection::onLog(mosquitto *, void *self, int level, const char *text)
{
    if ((level & MOSQ_LOG_ERR) && std::strncmp(text, "OpenSSL Error", 13) == 0)
        static_cast<MqttConnection *>(self)->lastTlsError_ = openSslReason(text);
}

}  // namespace marovin_host
