#pragma once

// A modelled link for the send loop's pacing and picture choice, without sockets or time.

#include "media/LinkPacer.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <vector>

namespace LinkKit {

// A call's send loop over a modelled link: a bottleneck of `rate` bytes a second that sends
// in order, then `roundTrip` milliseconds until the acknowledgement is back. The peer reads
// at once. Each 75 ms tick offers the sound block the microphone has made (one every 80 ms)
// and a fresh frame, as the media loop does, through the pacer. A frame is `frameBytes`
// long unless makeFrame says otherwise; onTick sees each tick after the pacer's update and
// onSent every packet.
struct LinkModel
{
    static constexpr int TickMs = 75;

    double rate;
    int roundTrip;
    int frameBytes = 3000;
    int soundBytes = 143;

    LinkPacer pacer{TickMs};
    std::function<qint64()> makeFrame;
    std::function<void(double nowMs)> onTick;
    std::function<void(qint64 bytes)> onSent;
    double lastDeparture = 0; // ms
    // Bytes handed over and when the bottleneck lets them go.
    struct Piece
    {
        qint64 bytes;
        double departs;
    };
    std::deque<Piece> unacknowledged;
    int soundMade = 0;
    int soundSent = 0;
    std::vector<double> frameDelays; // capture to arrival, ms
    std::vector<double> soundDelays; // made to arrival, ms
    std::vector<int> frameTicks;
    // Bytes not yet taken by the peer at each tick's start.
    std::vector<qint64> waitingAtTicks;
    int ticks = 0;

    LinkModel(double bytesPerSecond, int roundTripMs) : rate(bytesPerSecond), roundTrip(roundTripMs) {}

    // Hands bytes to the link at `now`; returns when they reach the peer.
    double send(qint64 bytes, double now)
    {
        const double departs = std::max(now, lastDeparture) + bytes * 1000.0 / rate;
        lastDeparture = departs;
        unacknowledged.push_back({bytes, departs});
        pacer.sent(bytes);
        if (onSent)
            onSent(bytes);
        return departs + roundTrip / 2.0;
    }

    qint64 waitingAt(double now)
    {
        while (!unacknowledged.empty() && unacknowledged.front().departs + roundTrip <= now)
            unacknowledged.pop_front();
        qint64 total = 0;
        for (const Piece &p : unacknowledged)
            total += p.bytes;
        return total;
    }

    void run(int seconds)
    {
        for (const int end = ticks + seconds * 1000 / TickMs; ticks < end; ++ticks) {
            const double now = ticks * double(TickMs);
            waitingAtTicks.push_back(waitingAt(now));
            pacer.update(waitingAtTicks.back(), roundTrip, qint64(now));
            if (onTick)
                onTick(now);
            while ((soundMade + 1) * 80.0 <= now)
                ++soundMade;
            if (soundSent < soundMade && pacer.soundAllowed()) {
                const double made = (soundSent + 1) * 80.0;
                soundDelays.push_back(send(soundBytes, now) - made);
                ++soundSent;
            }
            if (pacer.videoAllowed()) {
                frameDelays.push_back(send(makeFrame ? makeFrame() : frameBytes, now) - now);
                frameTicks.push_back(ticks);
            }
        }
    }

    // Frames sent per second over the last `seconds`.
    double frameRate(int seconds) const
    {
        const int from = ticks - seconds * 1000 / TickMs;
        const auto n = std::count_if(frameTicks.begin(), frameTicks.end(), [from](int t) { return t >= from; });
        return n * 1000.0 / (seconds * 1000 / TickMs * TickMs);
    }
    // The largest delay among the values after the first `skip`.
    static double worst(const std::vector<double> &values, size_t skip = 0)
    {
        return values.size() <= skip ? 0 : *std::max_element(values.begin() + qsizetype(skip), values.end());
    }
};

} // namespace LinkKit
