#include "mqttlink.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

std::once_flag libraryReady;

std::string errorText(int error) {
#ifdef _WIN32
    // The client library reports socket errors as WSA codes.
    switch (error) {
    case 10061: return "connection refused";
    case 10060: return "timed out";
    case 10065: return "host unreachable";
    case 10051: return "network unreachable";
    case 10054: return "connection reset";
    default: break;
    }
    if (error >= 10000)
        return "socket error " + std::to_string(error);
#endif
    return std::strerror(error);
}

}  // namespace

MqttLink::MqttLink(LinkSettings settings) : settings_(std::move(settings)) {
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
}

MqttLink::~MqttLink() {
    stop(false);
    if (mosq_)
        mosquitto_destroy(mosq_);
}

std::string MqttLink::endpoint() const {
    const bool ipv6 = settings_.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + settings_.host + "]" : settings_.host) + ":" + std::to_string(settings_.port);
}

bool MqttLink::start(std::string* error) {
    if (thread_.joinable())
        return true;
    if (mosq_) {  // an earlier start that failed
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }
    const char* id = settings_.clientId.empty() ? nullptr : settings_.clientId.c_str();
    mosq_ = mosquitto_new(id, settings_.cleanSession || !id, this);
    if (!mosq_) {
        *error = "cannot set up an MQTT client";
        return false;
    }
    mosquitto_threaded_set(mosq_, true);
    mosquitto_connect_callback_set(mosq_, &MqttLink::onConnect);
    mosquitto_publish_callback_set(mosq_, &MqttLink::onPublish);
    mosquitto_message_callback_set(mosq_, &MqttLink::onMessage);
    mosquitto_subscribe_callback_set(mosq_, &MqttLink::onSubscribe);
    if (!settings_.user.empty() &&
        mosquitto_username_pw_set(mosq_, settings_.user.c_str(),
                                  settings_.password.empty() ? nullptr : settings_.password.c_str()) != MOSQ_ERR_SUCCESS) {
        *error = "the user name or password cannot be used";
        return false;
    }
    if (settings_.tls) {
        const char* caFile = settings_.caFile.empty() ? nullptr : settings_.caFile.c_str();
#ifdef _WIN32
        const char* caPath = nullptr;
#else
        const char* caPath = caFile ? nullptr : "/etc/ssl/certs";
#endif
        const int rc = mosquitto_tls_set(mosq_, caFile, caPath, nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_NOT_SUPPORTED) {
            *error = "this build has no TLS: use mqtt:// or a TLS-terminating proxy";
            return false;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = caFile ? "the CA file " + settings_.caFile + " cannot be read" : "TLS cannot be set up";
            return false;
        }
    }
    if (!settings_.willTopic.empty() &&
        mosquitto_will_set(mosq_, settings_.willTopic.c_str(), int(settings_.willPayload.size()),
                           settings_.willPayload.data(), 1, true) != MOSQ_ERR_SUCCESS) {
        *error = "the last will cannot be set";
        return false;
    }
    thread_ = std::thread(&MqttLink::run, this);
    return true;
}

void MqttLink::stop(bool clean) {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopClean_ = clean;
        stopping_ = true;
    }
    if (clean && up_)
        mosquitto_disconnect(mosq_);  // wakes the loop, which writes it and closes
    wake_.notify_all();
    thread_.join();
}

void MqttLink::run() {
    using namespace std::chrono;
    constexpr milliseconds kFirstDelay(250), kLongestDelay(5000);
    milliseconds delay = kFirstDelay;
    steady_clock::time_point stopDeadline{};
    ++attempts_;
    int rc = mosquitto_connect_async(mosq_, settings_.host.c_str(), settings_.port, settings_.keepAliveS);
    int error = errno;
    for (;;) {
        if (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_loop(mosq_, 1000, 1);
            error = errno;
            if (rc == MOSQ_ERR_SUCCESS) {
                if (stopping_) {
                    // A clean stop closes the socket within a loop or two; never wait long for it.
                    if (!stopClean_ || !up_)
                        break;
                    if (stopDeadline == steady_clock::time_point{})
                        stopDeadline = steady_clock::now() + seconds(2);
                    else if (steady_clock::now() > stopDeadline)
                        break;
                }
                continue;
            }
        }
        const bool wasUp = up_.exchange(false);
        if (wasUp) {
            linkDown();
            delay = kFirstDelay;
        }
        if (stopping_)
            break;
        Problem kind = Problem::None;
        const std::string text = describe(rc, error, wasUp, &kind);
        report(kind, text);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, delay, [this] { return bool(stopping_); });
        }
        if (stopping_)
            break;
        delay = std::min(delay * 2, kLongestDelay);
        refusal_ = 0;
        ++attempts_;
        rc = mosquitto_reconnect_async(mosq_);
        error = errno;
    }
    if (up_.exchange(false))
        linkDown();
}

std::string MqttLink::describe(int rc, int error, bool wasUp, Problem* kind) const {
    *kind = Problem::Unreachable;
    std::string what;
    switch (rc) {
    case MOSQ_ERR_CONN_REFUSED:
        *kind = Problem::Refused;
        if (refusal_ == 4)
            what = "the broker refused the user name or password";
        else if (refusal_ == 5)
            what = "the broker refused the connection: not authorised (check the user name and password)";
        else
            what = std::string("the broker refused the connection: ") + mosquitto_connack_string(refusal_);
        break;
    case MOSQ_ERR_EAI:
        *kind = Problem::Name;
        what = "cannot find the host " + settings_.host;
        break;
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        *kind = Problem::Tls;
        what = "TLS failed (check the CA file and the broker's certificate and name)";
        break;
    case MOSQ_ERR_ERRNO:
        what = (wasUp ? "connection lost: " : "cannot connect: ") + errorText(error);
        break;
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_KEEPALIVE:
        what = wasUp ? "connection lost" : "cannot connect";
        break;
    default:
        what = (wasUp ? "connection lost: " : "cannot connect: ") + std::string(mosquitto_strerror(rc));
        break;
    }
    return "broker " + endpoint() + ": " + what;
}

void MqttLink::report(Problem kind, const std::string& text) {
    if (kind == reported_)
        return;
    reported_ = kind;
    status(false, text);
}

void MqttLink::onConnect(mosquitto*, void* self, int rc) {
    auto* link = static_cast<MqttLink*>(self);
    if (rc != 0) {
        link->refusal_ = rc;
        return;
    }
    link->up_ = true;
    link->reported_ = Problem::None;
    link->linkUp();
    if (link->announcesOnConnect())
        link->announceUp();
}

void MqttLink::announceUp() {
    status(true, "connected to " + endpoint());
}

void MqttLink::onSubscribe(mosquitto*, void* self, int, int, const int*) {
    static_cast<MqttLink*>(self)->subscribed();
}

void MqttLink::onPublish(mosquitto*, void* self, int mid) {
    static_cast<MqttLink*>(self)->published(mid);
}

void MqttLink::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    static_cast<MqttLink*>(self)->received(*message);
}
