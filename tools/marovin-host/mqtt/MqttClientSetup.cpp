// The client's settings, made once before the session's thread starts, and
// the will, which may change before each connect.
#include "mqtt/MqttConnection.h"

#include <mosquitto.h>

namespace marovin_host {

namespace {

// Enough for a burst of tags without waiting for acknowledgements, and for
// the outbox's history, which may have up to 128 messages at the
// broker: libmosquitto holds the rest back (100 let a backlog drain at
// only about 500 messages a second).
const unsigned kMaxInflight = 1000;

// Starts libmosquitto (and OpenSSL) once per process.
void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

std::unique_ptr<MqttConnection> MqttConnection::create(const MqttOptions &o, const std::string &willTopic,
                                                       const std::string &willPayload, Events events,
                                                       std::string *error)
{
    initLibrary();
    std::unique_ptr<MqttConnection> c(new MqttConnection(o, std::move(events)));
    c->client_ = mosquitto_new(o.clientId.c_str(), true, c.get());
    if (!c->client_) {
        *error = "--mqtt-client-id: libmosquitto refused '" + o.clientId + "'";
        return nullptr;
    }
    mosquitto_threaded_set(c->client_, true);
    mosquitto_max_inflight_messages_set(c->client_, kMaxInflight);
    mosquitto_connect_callback_set(c->client_, onConnect);
    mosquitto_disconnect_callback_set(c->client_, onDisconnect);
    mosquitto_publish_callback_set(c->client_, onPublish);
    mosquitto_message_callback_set(c->client_, onMessage);
    mosquitto_log_callback_set(c->client_, onLog);
    int rc = MOSQ_ERR_SUCCESS;
    std::string what;
    if (!o.user.empty()) {
        what = "user name or password";
        rc = mosquitto_username_pw_set(c->client_, o.user.c_str(), o.password.empty() ? nullptr : o.password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && o.tls) {
        what = "TLS files (--mqtt-ca, --mqtt-cert, --mqtt-key)";
        if (o.caFile.empty())
            rc = mosquitto_int_option(c->client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_set(c->client_, o.caFile.empty() ? nullptr : o.caFile.c_str(),
                                   o.caFile.empty() ? "/etc/ssl/certs" : nullptr,
                                   o.certFile.empty() ? nullptr : o.certFile.c_str(),
                                   o.keyFile.empty() ? nullptr : o.keyFile.c_str(), nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = "--mqtt: libmosquitto refused the " + what + ": " + mosquitto_strerror(rc);
        return nullptr;
    }
    if (!willTopic.empty() && !c->setWill(willTopic, willPayload, true, error))
        return nullptr;
    return c;
}

bool MqttConnection::setWill(const std::string &topic, const std::string &payload, bool retain, std::string *error)
{
    const int rc = mosquitto_will_set(client_, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                                      retain);
    if (rc != MOSQ_ERR_SUCCESS)
        *error = "--mqtt: libmosquitto refused the last will: " + std::string(mosquitto_strerror(rc));
    return rc == MOSQ_ERR_SUCCESS;
}

}  // namespace marovin_host
