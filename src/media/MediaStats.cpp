#include "media/MediaStats.h"

#include "media/MediaClock.h"

#include <cmath>
#include <limits>

namespace {

constexpr int FrameNumberMask = 0x0FFF;
constexpr int FrameNumberRange = 4096;

QString oneDecimal(double value)
{
    return QString::number(value, 'f', 1);
}

// The next mark: the given number of seconds from now, on a whole second.
double markAfter(double now, int seconds)
{
    return std::round(now + seconds);
}

} // namespace

MediaStats::MediaStats(const MediaClock &clock, std::function<int()> captureFrameNumber)
    : m_clock(clock), m_captureFrameNumber(std::move(captureFrameNumber))
{
    const QString zero = oneDecimal(0.0);
    m_capturedFps = zero;
    m_fpsIn = zero;
    m_fpsOut = zero;
    m_throughputIn = zero;
    m_throughputOut = zero;
}

void MediaStats::add(qint32 &counter, qint64 amount, qint64 &total)
{
    if (amount <= 0)
        return;
    total += amount;
    // A counter that stands still at its top reads better than one that turns negative.
    counter = qint32(std::min<qint64>(qint64(counter) + amount, std::numeric_limits<qint32>::max()));
}

MediaStats::Figures MediaStats::tick(bool inCall)
{
    Figures figures;
    const double now = m_clock.now();

    if (!m_captureMark || now > *m_captureMark) {
        evaluateCapture(now);
        figures |= CaptureRate;
    } else if (m_captureStart && now >= m_earlyCaptureMark) {
        const int current = (m_captureFrameNumber ? m_captureFrameNumber() : 0) & FrameNumberMask;
        m_earlyCaptureMark = now + 1;
        m_capturedFps = oneDecimal(framesSince(m_lastFrameNumber, current) / (now - *m_captureStart));
        figures |= EarlyCaptureRate;
    }

    const bool callStarts = inCall && !m_wasInCall;
    m_wasInCall = inCall;
    if (!inCall || !m_streamMark) {
        m_streamMark = markAfter(now, StreamPeriod);
    } else if (now > *m_streamMark) {
        m_streamMark = markAfter(now, StreamPeriod);
        evaluateStream();
        figures |= StreamRates;
        m_callStart.reset();
    } else if (m_callStart && now >= m_earlyStreamMark) {
        m_earlyStreamMark = now + 1;
        showEarlyStream(now - *m_callStart);
        figures |= EarlyStreamRates;
    }
    // The call's first period began with the last tick outside it; its early figures count
    // from the call's first tick.
    if (callStarts) {
        m_callStart = now;
        m_earlyStreamMark = now + 1;
    } else if (!inCall) {
        m_callStart.reset();
    }
    return figures;
}

int MediaStats::framesSince(int last, int current)
{
    int frames = current - last;
    if (last > current)
        frames += FrameNumberRange;
    return frames;
}

void MediaStats::evaluateCapture(double now)
{
    const int current = (m_captureFrameNumber ? m_captureFrameNumber() : 0) & FrameNumberMask;
    if (!m_captureMark) {
        m_lastFrameNumber = current;
        m_captureStart = now;
        m_earlyCaptureMark = now + 1;
    } else {
        m_captureStart.reset();
    }
    m_captureMark = markAfter(now, CapturePeriod);
    m_capturedFps = oneDecimal(framesSince(m_lastFrameNumber, current) / double(CapturePeriod));
    m_lastFrameNumber = current;
}

void MediaStats::evaluateStream()
{
    m_fpsOut = oneDecimal(m_framesSent / double(StreamPeriod));
    m_fpsIn = oneDecimal(m_framesReceived / double(StreamPeriod));
    m_framesSent = 0;
    m_framesReceived = 0;
    // In 64 bits: a busy link would overflow bytes x 8 in 32.
    m_throughputOut = QString::number(qint64(m_bytesSent) * 8 / StreamPeriod);
    m_throughputIn = QString::number(qint64(m_bytesReceived) * 8 / StreamPeriod);
    m_bytesSent = 0;
    m_bytesReceived = 0;
}

void MediaStats::showEarlyStream(double seconds)
{
    if (seconds <= 0)
        return;
    m_fpsOut = oneDecimal(m_framesSent / seconds);
    m_fpsIn = oneDecimal(m_framesReceived / seconds);
    m_throughputOut = QString::number(qint64(m_bytesSent * 8.0 / seconds));
    m_throughputIn = QString::number(qint64(m_bytesReceived * 8.0 / seconds));
}

void MediaStats::reset()
{
    m_bytesSent = 0;
    m_bytesReceived = 0;
    m_framesSent = 0;
    m_framesReceived = 0;
    const QString zero = oneDecimal(0.0);
    m_fpsIn = zero;
    m_fpsOut = zero;
    m_throughputIn = zero;
    m_throughputOut = zero;
}
