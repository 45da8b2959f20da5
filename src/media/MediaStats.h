#pragma once

#include <QFlags>
#include <QString>

#include <functional>
#include <optional>

class MediaClock;

// The traffic counters of a call and the five rate figures made from them: captured frames
// per second every 5 seconds, and frames and bits per second each way every 10 seconds of
// a call. The media loop calls tick() on each of its ticks; the rates window shows the texts.
//
// Until its first full period has passed, a figure is shown once a second over the time
// counted so far (the first seconds of a call, the first seconds of capture), so the window
// never shows zeros for a stream that flows. The counters are not reset by these early
// figures; the first full period counts from its start as before.
class MediaStats
{
public:
    // CaptureRate and StreamRates: a full period was evaluated. EarlyCaptureRate and
    // EarlyStreamRates: a figure was worked out over the first seconds of its period.
    enum Figure {
        NoFigure = 0x0,
        CaptureRate = 0x1,
        StreamRates = 0x2,
        EarlyCaptureRate = 0x4,
        EarlyStreamRates = 0x8
    };
    Q_DECLARE_FLAGS(Figures, Figure)

    static constexpr int CapturePeriod = 5;
    static constexpr int StreamPeriod = 10;

    // captureFrameNumber reads the capture engine's running frame number, a 12-bit count
    // that wraps from 4095 to 0. The clock must outlive this object.
    MediaStats(const MediaClock &clock, std::function<int()> captureFrameNumber);

    // Everything counted since the program started, never reset: what a benchmark or a
    // diagnosis reads across the periods of the rate figures.
    struct Totals
    {
        qint64 framesSent = 0;
        qint64 framesReceived = 0;
        qint64 bytesSent = 0;
        qint64 bytesReceived = 0;
        // New frames the sender left out because the link was busy.
        qint64 framesSkipped = 0;
    };

    void addBytesSent(qint64 bytes) { add(m_bytesSent, bytes, m_totals.bytesSent); }
    void addBytesReceived(qint64 bytes) { add(m_bytesReceived, bytes, m_totals.bytesReceived); }
    void addFrameSent() { add(m_framesSent, 1, m_totals.framesSent); }
    void addFrameReceived() { add(m_framesReceived, 1, m_totals.framesReceived); }
    void addFrameSkipped() { ++m_totals.framesSkipped; }
    const Totals &totals() const { return m_totals; }

    qint32 bytesSent() const { return m_bytesSent; }
    qint32 bytesReceived() const { return m_bytesReceived; }
    qint32 framesSent() const { return m_framesSent; }
    qint32 framesReceived() const { return m_framesReceived; }

    // Runs whichever evaluation is due and says which figures were worked out afresh (their
    // texts may read as before). The first tick primes the capture count. Outside a call
    // the stream figures stand still and their 10 seconds start over on every tick.
    Figures tick(bool inCall);

    // End of a connection: counters to 0 and "0.0" in the four stream figures.
    void reset();

    QString capturedFpsText() const { return m_capturedFps; }
    QString fpsInText() const { return m_fpsIn; }
    QString fpsOutText() const { return m_fpsOut; }
    QString throughputInText() const { return m_throughputIn; }
    QString throughputOutText() const { return m_throughputOut; }

private:
    static void add(qint32 &counter, qint64 amount, qint64 &total);
    void evaluateCapture(double now);
    void evaluateStream();
    void showEarlyStream(double seconds);
    static int framesSince(int last, int current);

    const MediaClock &m_clock;
    std::function<int()> m_captureFrameNumber;

    qint32 m_bytesSent = 0;
    qint32 m_bytesReceived = 0;
    qint32 m_framesSent = 0;
    qint32 m_framesReceived = 0;
    Totals m_totals;

    std::optional<double> m_captureMark; // unset until the first evaluation
    std::optional<double> m_streamMark;
    // Start of the first capture period and of the call, while their early figures run,
    // and when the next early figure is due.
    std::optional<double> m_captureStart;
    std::optional<double> m_callStart;
    double m_earlyCaptureMark = 0.0;
    double m_earlyStreamMark = 0.0;
    bool m_wasInCall = false;
    int m_lastFrameNumber = 0;

    QString m_capturedFps;
    QString m_fpsIn;
    QString m_fpsOut;
    QString m_throughputIn;
    QString m_throughputOut;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(MediaStats::Figures)
