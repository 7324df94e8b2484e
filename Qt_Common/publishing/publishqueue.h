// The messages a publisher holds until the broker has them, in the order they
// were published. Not synchronised: its owner locks around every call.
//
// A message is queued, then handed to the client library (in flight), then
// acknowledged (QoS 1: the broker's PUBACK; QoS 0: written to the socket) and
// only then removed. The bound counts messages and bytes (topic + payload +
// kEntryOverhead each); beyond it the oldest queued message that is not retained
// is dropped and counted. A retained message replaces a queued retained message
// of the same topic (only the last one matters to the broker), so retained
// messages are bounded by their topics and never dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <string>

struct QueuedMessage {
    std::string topic;
    std::string payload;
    int qos = 1;
    bool retain = false;
};

struct QueueLimits {
    // An hour of one cycle a second from 50 sensors is 180,000 messages of about
    // 400 bytes (about 90 MB with the bookkeeping): both bounds hold that.
    size_t maxMessages = 200000;
    size_t maxBytes = size_t(128) << 20;
};

class PublishQueue {
public:
    static constexpr size_t kEntryOverhead = 96;

    explicit PublishQueue(QueueLimits limits = {}) : limits_(limits) {}

    // Appends a message; returns how many messages were dropped to stay within the bound
    // (the new one among them when nothing older can go).
    size_t push(QueuedMessage message);

    bool hasQueued() const { return handed_ < entries_.size(); }
    size_t inFlight() const;
    size_t size() const { return entries_.size(); }
    size_t bytes() const { return bytes_; }
    uint64_t acknowledged() const { return acknowledged_; }
    uint64_t dropped() const { return dropped_; }
    bool withinShare(double share) const {
        return double(entries_.size()) <= share * double(limits_.maxMessages) &&
               double(bytes_) <= share * double(limits_.maxBytes);
    }

    // The first queued message goes into flight; returns its key and a copy.
    uint64_t handNext(QueuedMessage* copy);
    // The client library took the message under packet id `mid`.
    void handed(uint64_t key, int mid);
    // The client library did not take it (QoS 0 without a connection): it is queued again, first.
    void unhand(uint64_t key);
    // The client library refused it for good (bad topic, too large): removed, counted as dropped.
    void reject(uint64_t key);
    // The broker acknowledged packet id `mid` (may come before handed()).
    void acknowledge(int mid);
    // The connection dropped: QoS 0 messages in flight that were not written are gone with it
    // (at most once); QoS 1 messages stay in flight, the client library sends them again.
    void connectionLost();

private:
    enum class State { Queued, Handing, InFlight, Done, Rejected };
    struct Entry {
        QueuedMessage message;
        uint64_t key = 0;
        State state = State::Queued;
        int mid = -1;
        bool lostWhileHanding = false;  // QoS 0 handed as the connection dropped
    };

    static size_t cost(const QueuedMessage& m) { return m.topic.size() + m.payload.size() + kEntryOverhead; }
    Entry* findHanded(uint64_t key);
    void erase(size_t index);
    void popDone();
    bool overBound() const { return entries_.size() > limits_.maxMessages || bytes_ > limits_.maxBytes; }

    QueueLimits limits_;
    // Entries before handed_ are handed, in flight or done; the rest are queued.
    std::deque<Entry> entries_;
    size_t handed_ = 0;
    size_t bytes_ = 0;
    size_t retainedQueued_ = 0;
    uint64_t nextKey_ = 1;
    uint64_t acknowledged_ = 0;
    uint64_t dropped_ = 0;
    std::set<int> earlyAcks_;
};
