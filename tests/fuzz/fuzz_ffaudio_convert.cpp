// links: tarvo_ffaudio
// The shared frame converter fed a run of decoded frames whose channel
// layout, rate, sample format, length and samples change from one to the
// next, with skips, flushes and resets between them.
#include <tarvo_ffaudio/ffaudio_convert.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// The rates decoders and wave formats give.
const int kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000, 192000, 384000};

// Each frame: operation, channels and order, rate, sample format, length
// (two bytes), skip; then its samples from the input's bytes, cyclically.
constexpr size_t kFrameHeader = 7;
constexpr int kMaxSamples = 4096;
constexpr size_t kMaxFrames = 64;  // so that one input stays well inside the run's time per input

// A frame of the header's kind, or one whose layout or format is not
// valid (its buffers then stay unset).
void make_frame(AVFrame *f, const uint8_t *h, const uint8_t *data, size_t size)
{
  int channels = 1 + (h[1] & 7);
  if (h[1] & 8) {
    f->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
    f->ch_layout.nb_channels = channels;
  } else {
    av_channel_layout_default(&f->ch_layout, channels);
    if (h[1] & 16) f->ch_layout.nb_channels = channels + 1;  // a mask that disagrees with the count
  }
  f->sample_rate = (h[1] & 32) ? 0 : kRates[h[2] % std::size(kRates)];
  f->format = h[3] % (AV_SAMPLE_FMT_NB + 1) - 1;
  f->nb_samples = (h[4] | h[5] << 8) % (kMaxSamples + 1);
  if (av_frame_get_buffer(f, 0) < 0) return;
  int planes = av_sample_fmt_is_planar(AVSampleFormat(f->format)) ? f->ch_layout.nb_channels : 1;
  size_t bytes = size_t(f->nb_samples) * size_t(av_get_bytes_per_sample(AVSampleFormat(f->format))) *
                 size_t(planes == 1 ? f->ch_layout.nb_channels : 1);
  for (int p = 0; p < planes && size; p++)
    for (size_t i = 0; i < bytes; i++) f->extended_data[p][i] = data[(i + size_t(p)) % size];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 2) return 0;
  FfConverter *c = ffaudio_converter_new(1 + data[0] % 8, kRates[data[1] % std::size(kRates)]);
  if (!c) return 0;
  std::vector<uint8_t> out;
  AVFrame *f = av_frame_alloc();
  for (size_t at = 2; f && at + kFrameHeader <= size && at < 2 + kMaxFrames * kFrameHeader; at += kFrameHeader) {
    const uint8_t *h = data + at;
    out.clear();
    switch (h[0] % 4) {
      case 0:
      case 1:
        make_frame(f, h, data, size);
        ffaudio_convert(c, f, h[0] % 4 ? h[6] * 16 : 0, &out);
        av_frame_unref(f);
        break;
      case 2:
        ffaudio_flush(c, &out);
        break;
      default:
        ffaudio_reset(c);
    }
  }
  av_frame_free(&f);
  ffaudio_converter_free(c);
  return 0;
}
