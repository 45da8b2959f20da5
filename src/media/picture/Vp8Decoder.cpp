#include "media/picture/Vp8Decoder.h"

#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>

#include <libyuv.h>

#include <limits>

struct Vp8Decoder::Context
{
    vpx_codec_ctx_t codec{};
};

Vp8Decoder::Vp8Decoder() = default;

Vp8Decoder::~Vp8Decoder()
{
    if (m_ctx)
        vpx_codec_destroy(&m_ctx->codec);
}

bool Vp8Decoder::setUp()
{
    auto ctx = std::make_unique<Context>();
    vpx_codec_dec_cfg_t config{};
    config.threads = 1;
    if (vpx_codec_dec_init(&ctx->codec, vpx_codec_vp8_dx(), &config, 0) != VPX_CODEC_OK)
        return false;
    m_ctx = std::move(ctx);
    return true;
}

void Vp8Decoder::reset()
{
    if (m_ctx)
        vpx_codec_destroy(&m_ctx->codec);
    m_ctx.reset();
    m_picture = QImage();
    m_needKey = true;
}

Vp8Decoder::Result Vp8Decoder::fail()
{
    ++m_failures;
    m_needKey = true;
    return Result::Refused;
}

Vp8Decoder::Result Vp8Decoder::decode(QByteArrayView frame)
{
    if (frame.isEmpty() || frame.size() > std::numeric_limits<int>::max())
        return fail();
    const auto *data = reinterpret_cast<const uint8_t *>(frame.data());
    const auto size = unsigned(frame.size());
    // The frame's own word on what it is, before the library allocates anything for it.
    vpx_codec_stream_info_t info{};
    info.sz = sizeof(info);
    const bool peeked = vpx_codec_peek_stream_info(vpx_codec_vp8_dx(), data, size, &info) == VPX_CODEC_OK;
    if (m_needKey) {
        if (!peeked || !info.is_kf)
            return fail();
    }
    if (peeked && info.is_kf
        && (info.w == 0 || info.h == 0 || info.w > unsigned(MaxSize.width()) || info.h > unsigned(MaxSize.height())))
        return fail();
    if (!m_ctx && !setUp())
        return fail();
    if (vpx_codec_decode(&m_ctx->codec, data, size, nullptr, 0) != VPX_CODEC_OK) {
        // The library's state after a failure is not to be trusted: start afresh.
        reset();
        return fail();
    }
    int corrupt = 0;
    if (vpx_codec_control(&m_ctx->codec, VP8D_GET_FRAME_CORRUPTED, &corrupt) == VPX_CODEC_OK && corrupt)
        return fail();
    m_needKey = false;
    vpx_codec_iter_t iter = nullptr;
    const vpx_image_t *image = vpx_codec_get_frame(&m_ctx->codec, &iter);
    if (!image)
        return Result::Nothing;
    if (image->fmt != VPX_IMG_FMT_I420 || image->d_w == 0 || image->d_h == 0
        || image->d_w > unsigned(MaxSize.width()) || image->d_h > unsigned(MaxSize.height())) {
        reset();
        return fail();
    }
    const int w = int(image->d_w);
    const int h = int(image->d_h);
    // A picture of the same size is drawn into again only when nobody else holds it.
    if (m_picture.size() != QSize(w, h) || !m_picture.isDetached())
        m_picture = QImage(w, h, QImage::Format_RGB32);
    if (m_picture.isNull())
        return fail();
    // The one conversion on the way to the screen.
    if (libyuv::I420ToARGB(image->planes[VPX_PLANE_Y], image->stride[VPX_PLANE_Y], image->planes[VPX_PLANE_U],
                           image->stride[VPX_PLANE_U], image->planes[VPX_PLANE_V], image->stride[VPX_PLANE_V],
                           m_picture.bits(), int(m_picture.bytesPerLine()), w, h)
        != 0)
        return fail();
    return Result::Picture;
}
