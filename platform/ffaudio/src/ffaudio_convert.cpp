// Decoded frames to the agreed 16-bit PCM through libswresample, the
// resampler made again whenever a frame's parameters change.
#include "tarvo_ffaudio/ffaudio_convert.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <cerrno>
#include <new>

struct FfConverter {
  SwrContext *swr = nullptr;
  AVChannelLayout out_layout{};
  int out_rate = 0;
  // The frames swr was made for.
  AVChannelLayout in_layout{};
  int in_rate = 0;
  int in_format = AV_SAMPLE_FMT_NONE;
};

namespace {

// Appends what swr gives for n samples at in (NULL, 0: what it holds).
int run(FfConverter *c, const uint8_t **in, int n, std::vector<uint8_t> *out)
{
  int room = swr_get_out_samples(c->swr, n);
  if (room < 0) return room;
  size_t frame = size_t(c->out_layout.nb_channels) * 2, at = out->size();
  try {
    // One frame more than the room, so that dst is never NULL.
    out->resize(at + (size_t(room) + 1) * frame);
  } catch (...) {
    return AVERROR(ENOMEM);
  }
  uint8_t *dst = out->data() + at;
  int got = swr_convert(c->swr, &dst, room, in, n);
  out->resize(got < 0 ? at : at + size_t(got) * frame);
  return got < 0 ? got : 0;
}

// The frame's layout; one without an order is taken in the default order
// of its count, as decoders without a layout of their own mean it.
int frame_layout(const AVFrame *f, AVChannelLayout *l)
{
  if (f->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) return av_channel_layout_copy(l, &f->ch_layout);
  av_channel_layout_default(l, f->ch_layout.nb_channels);
  return 0;
}

void forget_input(FfConverter *c)
{
  swr_free(&c->swr);
  av_channel_layout_uninit(&c->in_layout);
  c->in_rate = 0;
  c->in_format = AV_SAMPLE_FMT_NONE;
}

// A resampler for frames like f, after what the old one held.  The layout
// passes to the converter.
int remake(FfConverter *c, const AVFrame *f, AVChannelLayout *layout, std::vector<uint8_t> *out)
{
  if (c->swr && run(c, nullptr, 0, out) == AVERROR(ENOMEM)) return AVERROR(ENOMEM);
  forget_input(c);
  AVSampleFormat fmt = AVSampleFormat(f->format);
  if (f->sample_rate < 1 || layout->nb_channels < 1 || av_get_bytes_per_sample(fmt) < 1 ||
      !av_channel_layout_check(layout))
    return AVERROR(EINVAL);
  int r = swr_alloc_set_opts2(&c->swr, &c->out_layout, AV_SAMPLE_FMT_S16, c->out_rate, layout, fmt, f->sample_rate,
                              0, nullptr);
  if (r >= 0) r = swr_init(c->swr);
  if (r < 0) {
    swr_free(&c->swr);
    return r == AVERROR(ENOMEM) ? r : AVERROR(EINVAL);
  }
  c->in_layout = *layout;
  *layout = AVChannelLayout{};
  c->in_rate = f->sample_rate;
  c->in_format = f->format;
  return 0;
}

}  // namespace

FfConverter *ffaudio_converter_new(int channels, int rate)
{
  if (channels < 1 || rate < 1) return nullptr;
  auto *c = new (std::nothrow) FfConverter;
  if (!c) return nullptr;
  av_channel_layout_default(&c->out_layout, channels);
  c->out_rate = rate;
  return c;
}

void ffaudio_converter_free(FfConverter *c)
{
  if (!c) return;
  forget_input(c);
  av_channel_layout_uninit(&c->out_layout);
  delete c;
}

int ffaudio_convert(FfConverter *c, const AVFrame *f, int skip, std::vector<uint8_t> *out)
{
  if (!f->extended_data || f->nb_samples < 0) return AVERROR(EINVAL);
  AVChannelLayout layout{};
  int r = frame_layout(f, &layout);
  if (r >= 0 && !(c->swr && c->in_rate == f->sample_rate && c->in_format == f->format &&
                  av_channel_layout_compare(&c->in_layout, &layout) == 0))
    r = remake(c, f, &layout, out);
  av_channel_layout_uninit(&layout);
  if (r < 0) return r;
  if (skip < 0) skip = 0;
  if (skip >= f->nb_samples) return 0;
  if (skip == 0) return run(c, const_cast<const uint8_t **>(f->extended_data), f->nb_samples, out);
  // Past the skipped samples in each plane.
  AVSampleFormat fmt = AVSampleFormat(f->format);
  int channels = c->in_layout.nb_channels;
  bool planar = av_sample_fmt_is_planar(fmt);
  size_t step = size_t(av_get_bytes_per_sample(fmt)) * size_t(planar ? 1 : channels);
  std::vector<const uint8_t *> planes;
  try {
    planes.resize(planar ? size_t(channels) : 1);
  } catch (...) {
    return AVERROR(ENOMEM);
  }
  for (size_t i = 0; i < planes.size(); i++) planes[i] = f->extended_data[i] + size_t(skip) * step;
  return run(c, planes.data(), f->nb_samples - skip, out);
}

int ffaudio_flush(FfConverter *c, std::vector<uint8_t> *out)
{
  return c->swr ? run(c, nullptr, 0, out) : 0;
}

void ffaudio_reset(FfConverter *c)
{
  forget_input(c);
}
