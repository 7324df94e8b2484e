#include "publishqueue.h"

size_t PublishQueue::push(QueuedMessage message) {
    if (message.retain && retainedQueued_ > 0) {
        for (size_t i = handed_; i < entries_.size(); ++i) {
            if (entries_[i].message.retain && entries_[i].message.topic == message.topic) {
                erase(i);
                break;
            }
        }
    }
    Entry entry;
    entry.key = nextKey_++;
    bytes_ += cost(message);
    retainedQueued_ += message.retain ? 1 : 0;
    entry.message = std::move(message);
    entries_.push_back(std::move(entry));

    size_t dropped = 0;
    size_t from = handed_;
    while (overBound()) {
        while (from < entries_.size() && entries_[from].message.retain)
            ++from;
        if (from >= entries_.size())
            break;  // only retained messages left to drop: they stay
        erase(from);
        ++dropped;
    }
    dropped_ += dropped;
    return dropped;
}

size_t PublishQueue::inFlight() const {
    size_t n = 0;
    for (size_t i = 0; i < handed_; ++i)
        n += entries_[i].state == State::Handing || entries_[i].state == State::InFlight ? 1 : 0;
    return n;
}

uint64_t PublishQueue::handNext(QueuedMessage* copy) {
    Entry& entry = entries_[handed_++];
    if (entry.message.retain)
        --retainedQueued_;
    entry.state = State::Handing;
    *copy = entry.message;
    return entry.key;
}

PublishQueue::Entry* PublishQueue::findHanded(uint64_t key) {
    for (size_t i = handed_; i-- > 0;)
        if (entries_[i].key == key)
            return &entries_[i];
    return nullptr;
}

void PublishQueue::handed(uint64_t key, int mid) {
    Entry* entry = findHanded(key);
    if (!entry)
        return;
    entry->mid = mid;
    entry->state = State::InFlight;
    if (earlyAcks_.erase(mid) > 0 || entry->lostWhileHanding) {
        entry->state = State::Done;
        popDone();
    }
}

void PublishQueue::unhand(uint64_t key) {
    // The last one handed, so it stands right before the queued ones.
    if (handed_ > 0 && entries_[handed_ - 1].key == key) {
        Entry& entry = entries_[--handed_];
        entry.state = State::Queued;
        retainedQueued_ += entry.message.retain ? 1 : 0;
    }
}

void PublishQueue::reject(uint64_t key) {
    if (Entry* entry = findHanded(key)) {
        entry->state = State::Rejected;
        ++dropped_;
        popDone();
    }
}

void PublishQueue::acknowledge(int mid) {
    for (size_t i = 0; i < handed_; ++i) {
        if (entries_[i].state == State::InFlight && entries_[i].mid == mid) {
            entries_[i].state = State::Done;
            popDone();
            return;
        }
    }
    earlyAcks_.insert(mid);
}

void PublishQueue::connectionLost() {
    for (size_t i = 0; i < handed_; ++i) {
        Entry& entry = entries_[i];
        if (entry.message.qos != 0)
            continue;
        if (entry.state == State::InFlight)
            entry.state = State::Done;
        else if (entry.state == State::Handing)
            entry.lostWhileHanding = true;
    }
    popDone();
}

void PublishQueue::erase(size_t index) {
    const Entry& entry = entries_[index];
    bytes_ -= cost(entry.message);
    if (index >= handed_ && entry.message.retain)
        --retainedQueued_;
    if (index < handed_)
        --handed_;
    entries_.erase(entries_.begin() + std::ptrdiff_t(index));
}

void PublishQueue::popDone() {
    while (handed_ > 0 && (entries_.front().state == State::Done || entries_.front().state == State::Rejected)) {
        acknowledged_ += entries_.front().state == State::Done ? 1 : 0;
        bytes_ -= cost(entries_.front().message);
        entries_.pop_front();
        --handed_;
    }
}
