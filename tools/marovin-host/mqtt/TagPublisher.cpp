#include "mqtt/TagPublisher.h"

#include "json/TagMessage.h"
#include "model/Status.h"
#include "model/ValueText.h"

#include <cstring>

namespace marovin_host {

TagPublisher::TagPublisher(const std::string &prefix, const std::vector<TagRow> &rows, MqttConnection &connection,
                           long outstandingLimit, long long maxAgeMs)
    : rows_(rows), connection_(connection), outstandingLimit_(outstandingLimit), maxAgeMs_(maxAgeMs), gate_(rows),
      published_(rows.size()), held_(rows.size()), override_(rows.size(), nullptr)
{
    for (const TagRow &row : rows)
        topics_.push_back(prefix + "/" + row.tag.name);
}

void TagPublisher::changed(const ChangeView &view)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t k = 0; k < view.count; ++k)
        offer(view.changed[k], view.rows[view.changed[k]], view.at.wallMs, view.at.monoMs,
              backlog_ ? backlog_->seqOf(k) : 0);
}

void TagPublisher::offer(std::size_t i, const TagRow &row, long long readWallMs, long long nowMs, std::int64_t seq)
{
    Published &last = published_[i];
    const char *status = override_[i] ? override_[i] : rowStatusWord(row.lastStatus);
    const bool hasValue = row.reads > 0;
    const bool statusChanged = last.hadValue != hasValue || std::strcmp(last.status, status) != 0;
    const double value = publishedNumber(row.ref.area, row.tag, row.value);
    const ChangeGate::Verdict verdict = gate_.offer(i, value, statusChanged, nowMs);
    // A change the tag's gate keeps back is not owed to the broker: the
    // outbox hears so. One that could not go waits there as history.
    if (verdict != ChangeGate::Send && seq > 0)
        backlog_->passed(seq);
    if (verdict == ChangeGate::Skip)
        return;
    // A broker away or behind: the catch-up sends the row's state later, so
    // no message is made now.
    if (verdict == ChangeGate::Send && !ready()) {
        last.pending = true;
        return;
    }
    writeTagState(payload_, row, readWallMs, status);
    if (verdict == ChangeGate::Send) {
        send(i, payload_, value, status, hasValue, nowMs, seq);
        return;
    }
    Held &held = held_[i];
    heldCount_ += held.waiting ? 0 : 1;
    held = Held{true, payload_, value, status, hasValue};
}

bool TagPublisher::send(std::size_t i, const std::string &payload, double value, const char *status, bool hasValue,
                        long long nowMs, std::int64_t seq)
{
    Published &last = published_[i];
    const bool sent = ready() && (seq > 0 ? backlog_->publishLive(topics_[i], payload, seq)
                                          : connection_.publish(topics_[i], payload, true));
    if (!sent) {
        last.pending = true;
        return false;
    }
    last = Published{true, false, hasValue, status, nowMs, connection_.session()};
    gate_.sent(i, value, nowMs);
    if (held_[i].waiting) {
        held_[i].waiting = false;
        --heldCount_;
    }
    return true;
}

void TagPublisher::catchUp(const Moment &now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const long session = connection_.session();
    const std::size_t n = rows_.size();
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = (nextRow_ + k) % n;
        const Published &last = published_[i];
        if (last.sent && !last.pending && last.session == session && now.monoMs - last.atMs < maxAgeMs_)
            continue;
        // A broker that does not keep up: the rest waits for the next refresh, first in line then.
        if (!ready()) {
            nextRow_ = i;
            return;
        }
        resend(i, rows_[i], now);
    }
}

void TagPublisher::resend(std::size_t i, const TagRow &row, const Moment &now)
{
    // A republished value says when it was read, not when it was sent.
    const long long readWallMs = row.reads > 0 ? now.wallMs - (now.monoMs - row.lastReadMs) : now.wallMs;
    const char *status = override_[i] ? override_[i] : rowStatusWord(row.lastStatus);
    writeTagState(payload_, row, readWallMs, status);
    send(i, payload_, publishedNumber(row.ref.area, row.tag, row.value), status, row.reads > 0, now.monoMs);
}

void TagPublisher::overrideStatus(const std::vector<std::uint32_t> &rows, const char *status, const Moment &now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::uint32_t i : rows) {
        override_[i] = status;
        // A held change would go out with the status it had when it was made.
        if (held_[i].waiting) {
            held_[i].waiting = false;
            --heldCount_;
        }
        if (ready())
            resend(i, rows_[i], now);
        else
            published_[i].pending = true;
    }
}

void TagPublisher::releaseHeld(long long nowMs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (heldCount_ == 0)
        return;
    for (std::size_t i = 0; i < held_.size(); ++i) {
        Held &held = held_[i];
        if (held.waiting && gate_.dueMs(i) <= nowMs)
            send(i, held.payload, held.value, held.status, held.hadValue, nowMs);
    }
}

}  // namespace marovin_host
