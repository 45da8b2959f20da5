#include "media/picture/Vp8Encoder.h"

#include "media/picture/YuvPicture.h"

#include <vpx/vp8cx.h>
#include <vpx/vpx_encoder.h>

#include <algorithm>

namespace {

// The fastest of the real-time speeds that still codes every frame fully.
constexpr int CpuUsed = 12;
// A key frame may take this many per cent of an average frame's share, so a requested key
// frame does not stall the line for long: on a lossy line a bigger one loses a packet more
// often and holds up the resent copies behind it, and one lost key frame asks for the next.
constexpr unsigned MaxIntraPercent = 200;
// A screen's key frame carries its text; frames after it are left out until it is paid for.
constexpr unsigned MaxScreenIntraPercent = 3000;
// Key frames only when asked for, or after this many frames.
constexpr unsigned KeyFrameDistance = 3000;
constexpr int MaxSide = 4096;

} // namespace

struct Vp8Encoder::Context
{
    vpx_codec_ctx_t codec{};
    vpx_codec_enc_cfg_t config{};
};

Vp8Encoder::Vp8Encoder(int bitrateKbps)
    : m_kbps(std::clamp(bitrateKbps, MinBitrateKbps, MaxBitrateKbps))
{
}

Vp8Encoder::~Vp8Encoder()
{
    tearDown();
}

void Vp8Encoder::tearDown()
{
    if (m_ctx)
        vpx_codec_destroy(&m_ctx->codec);
    m_ctx.reset();
    m_size = QSize();
}

bool Vp8Encoder::setUp(QSize size)
{
    tearDown();
    auto ctx = std::make_unique<Context>();
    if (vpx_codec_enc_config_default(vpx_codec_vp8_cx(), &ctx->config, 0) != VPX_CODEC_OK)
        return false;
    vpx_codec_enc_cfg_t &c = ctx->config;
    c.g_w = unsigned(size.width());
    c.g_h = unsigned(size.height());
    c.g_timebase = {1, 1000};
    c.g_threads = 1;
    c.g_lag_in_frames = 0;
    c.g_pass = VPX_RC_ONE_PASS;
    c.g_error_resilient = VPX_ERROR_RESILIENT_DEFAULT;
    c.rc_end_usage = VPX_CBR;
    c.rc_target_bitrate = unsigned(m_kbps);
    c.rc_min_quantizer = 4;
    c.rc_max_quantizer = MaxQuantizer;
    c.rc_undershoot_pct = 100;
    c.rc_overshoot_pct = 15;
    // A short buffer: the rate is met within half a second, not over several.
    c.rc_buf_initial_sz = 300;
    c.rc_buf_optimal_sz = 400;
    c.rc_buf_sz = 600;
    // Frames are left out rather than sent late when the rate falls short.
    c.rc_dropframe_thresh = m_screen ? 0 : 25;
    c.kf_mode = VPX_KF_AUTO;
    c.kf_min_dist = 0;
    c.kf_max_dist = KeyFrameDistance;
    if (vpx_codec_enc_init(&ctx->codec, vpx_codec_vp8_cx(), &c, 0) != VPX_CODEC_OK)
        return false;
    vpx_codec_control(&ctx->codec, VP8E_SET_CPUUSED, CpuUsed);
    vpx_codec_control(&ctx->codec, VP8E_SET_STATIC_THRESHOLD, 1);
    vpx_codec_control(&ctx->codec, VP8E_SET_NOISE_SENSITIVITY, 0);
    vpx_codec_control(&ctx->codec, VP8E_SET_TOKEN_PARTITIONS, VP8_ONE_TOKENPARTITION);
    vpx_codec_control(&ctx->codec, VP8E_SET_MAX_INTRA_BITRATE_PCT, m_screen ? MaxScreenIntraPercent : MaxIntraPercent);
    vpx_codec_control(&ctx->codec, VP8E_SET_SCREEN_CONTENT_MODE, m_screen ? 1u : 0u);
    m_ctx = std::move(ctx);
    m_size = size;
    m_keyWanted = true;
    return true;
}

void Vp8Encoder::setScreenContent(bool on)
{
    if (on == m_screen)
        return;
    m_screen = on;
    tearDown();
}

void Vp8Encoder::setBitrate(int kbps)
{
    kbps = std::clamp(kbps, MinBitrateKbps, MaxBitrateKbps);
    if (kbps == m_kbps)
        return;
    m_kbps = kbps;
    if (!m_ctx)
        return;
    m_ctx->config.rc_target_bitrate = unsigned(kbps);
    if (vpx_codec_enc_config_set(&m_ctx->codec, &m_ctx->config) != VPX_CODEC_OK)
        tearDown();
}

Vp8Encoder::Frame Vp8Encoder::encode(const YuvPicture &picture, qint64 timeMs)
{
    if (picture.isNull() || picture.width > MaxSide || picture.height > MaxSide)
        return {};
    if (!m_ctx || m_size != picture.size()) {
        if (!setUp(picture.size()))
            return {};
    }
    vpx_image_t image;
    // The encoder only reads the planes.
    if (!vpx_img_wrap(&image, VPX_IMG_FMT_I420, unsigned(picture.width), unsigned(picture.height), 1,
                      const_cast<uint8_t *>(picture.data.data())))
        return {};
    // The library wants strictly rising times.
    const qint64 pts = std::max(timeMs, m_lastPts + 1);
    const unsigned long duration = m_lastPts < 0 ? 40 : std::clamp<unsigned long>(pts - m_lastPts, 1, 1000);
    m_lastPts = pts;
    vpx_enc_frame_flags_t flags = m_keyWanted ? VPX_EFLAG_FORCE_KF : 0;
    const bool droppable = m_layered && m_nextDroppable && !m_keyWanted;
    if (droppable)
        flags |= VP8_EFLAG_NO_UPD_LAST | VP8_EFLAG_NO_UPD_GF | VP8_EFLAG_NO_UPD_ARF | VP8_EFLAG_NO_UPD_ENTROPY;
    if (vpx_codec_encode(&m_ctx->codec, &image, pts, duration, flags, VPX_DL_REALTIME) != VPX_CODEC_OK) {
        tearDown();
        return {};
    }
    Frame frame;
    vpx_codec_iter_t iter = nullptr;
    while (const vpx_codec_cx_pkt_t *packet = vpx_codec_get_cx_data(&m_ctx->codec, &iter)) {
        if (packet->kind != VPX_CODEC_CX_FRAME_PKT)
            continue;
        frame.data.append(static_cast<const char *>(packet->data.frame.buf), qsizetype(packet->data.frame.sz));
        frame.key = frame.key || (packet->data.frame.flags & VPX_FRAME_IS_KEY);
    }
    if (frame.key)
        m_keyWanted = false;
    // A frame the encoder left out changes nothing: the next one takes its place.
    if (!frame.data.isEmpty()) {
        frame.droppable = droppable && !frame.key;
        m_nextDroppable = !frame.droppable;
    }
    if (frame.data.isEmpty()) {
        frame.quantizer = MaxQuantizer;
    } else {
        int quantizer = -1;
        if (vpx_codec_control(&m_ctx->codec, VP8E_GET_LAST_QUANTIZER_64, &quantizer) == VPX_CODEC_OK)
            frame.quantizer = std::clamp(quantizer, 0, 63);
    }
    return frame;
}
