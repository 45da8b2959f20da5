#pragma once

#include <QByteArray>
#include <QSize>
#include <QtGlobal>

#include <memory>

struct YuvPicture;

// VP8 coding of a live picture for a call: real time, the encoder's fast settings, each
// frame decodable on its own after a loss of earlier ones as far as the format allows
// (error resilient), no frames held back. The bit rate can change from frame to frame;
// a key frame comes at the start, after a change of size, and when asked for.
class Vp8Encoder
{
public:
    static constexpr int MinBitrateKbps = 30;
    static constexpr int MaxBitrateKbps = 4000;

    // The coarsest quantizer the encoder uses, on the 0-63 scale it reports.
    static constexpr int MaxQuantizer = 56;

    struct Frame
    {
        QByteArray data;
        bool key = false;
        // How coarsely the frame was coded (0-63): near MaxQuantizer the rate is short of
        // what this picture needs at this size. MaxQuantizer for a frame left out to meet
        // the rate; -1 when nothing was coded.
        int quantizer = -1;
        // No later frame refers to this one (see setLayered).
        bool droppable = false;
    };

    explicit Vp8Encoder(int bitrateKbps = 300);
    ~Vp8Encoder();
    Vp8Encoder(const Vp8Encoder &) = delete;
    Vp8Encoder &operator=(const Vp8Encoder &) = delete;

    // Codes one picture taken at `timeMs` (a monotonic clock). Empty data when the encoder
    // could not be set up for the picture's size, or chose to drop the frame.
    Frame encode(const YuvPicture &picture, qint64 timeMs);

    // Takes effect with the next frame; kept within MinBitrateKbps..MaxBitrateKbps.
    void setBitrate(int kbps);
    int bitrate() const { return m_kbps; }
    // A screen rather than a camera: text and sharp edges are kept at the cost of frames
    // (a key frame may take far more than its share, and frames are left out to pay for
    // it). A change starts over with a key frame.
    void setScreenContent(bool on);
    bool screenContent() const { return m_screen; }
    // On a lossy line every other frame is coded as one no later frame refers to, so that
    // its loss costs that frame alone, not the picture until a key frame comes. The others
    // refer a frame further back and cost a little more of the rate.
    void setLayered(bool on) { m_layered = on; }
    // The next frame is a key frame.
    void requestKeyFrame() { m_keyWanted = true; }
    // The size the encoder is set up for (empty before the first frame).
    QSize size() const { return m_size; }

private:
    struct Context;
    bool setUp(QSize size);
    void tearDown();

    std::unique_ptr<Context> m_ctx;
    QSize m_size;
    int m_kbps;
    bool m_keyWanted = true;
    bool m_screen = false;
    bool m_layered = false;
    bool m_nextDroppable = false;
    qint64 m_lastPts = -1;
};
