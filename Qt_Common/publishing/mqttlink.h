// One connection to a broker through libmosquitto, kept up by a network thread
// of its own: it connects, runs the client library's loop, and after any
// failure waits (0.25 s doubling to 5 s) and connects again, for as long as it
// runs - whatever the failure was (refused, unreachable, name not found, TLS).
// Problems are told once per episode: the first of each kind (unreachable,
// credentials refused, TLS, host name) until the connection is up again.
// Qt-free; the hooks run on the network thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct mosquitto;
struct mosquitto_message;

struct LinkSettings {
    std::string host;
    int port = 1883;
    std::string clientId;  // empty: the client library makes one up (clean sessions only)
    std::string user;
    std::string password;
    bool tls = false;
    std::string caFile;    // empty with tls: the system's certificates
    bool cleanSession = true;
    std::string willTopic;  // empty: no last will
    std::string willPayload;
    int keepAliveS = 20;
};

class MqttLink {
public:
    explicit MqttLink(LinkSettings settings);
    virtual ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Sets the client up and starts the network thread; false with *error when
    // the settings cannot be used (no TLS in this build, unreadable CA file, ...).
    bool start(std::string* error);
    // Ends the connection and the network thread. clean: a DISCONNECT, so the
    // broker drops the last will; otherwise the socket is just closed and the
    // broker publishes the will. Derived classes call it in their destructor.
    void stop(bool clean);

    bool isUp() const { return up_; }
    // Connection attempts so far, the first one included.
    int attempts() const { return attempts_; }
    std::string endpoint() const;
    mosquitto* handle() const { return mosq_; }

protected:
    // Network thread. linkUp runs inside the connect callback: subscribe or publish there.
    virtual void linkUp() {}
    virtual void linkDown() {}
    virtual void published(int /*mid*/) {}
    virtual void received(const mosquitto_message& /*message*/) {}
    // The broker confirmed a subscription (SUBACK).
    virtual void subscribed() {}
    // Whether "connected" is told as soon as the broker accepts the connection;
    // a subscriber tells it with announceUp() once its subscription stands.
    virtual bool announcesOnConnect() const { return true; }
    void announceUp();
    // Once per episode: connected (text "connected to HOST:PORT") or the problem.
    virtual void status(bool connected, const std::string& text) = 0;

private:
    enum class Problem { None, Unreachable, Refused, Tls, Name };
    void run();
    std::string describe(int rc, int error, bool wasUp, Problem* kind) const;
    void report(Problem kind, const std::string& text);

    static void onConnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);

    const LinkSettings settings_;
    mosquitto* mosq_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> stopClean_{false};
    std::atomic<bool> up_{false};
    std::atomic<int> attempts_{0};
    int refusal_ = 0;  // the broker's CONNACK code of the last refused attempt (network thread)
    Problem reported_ = Problem::None;  // network thread
};
