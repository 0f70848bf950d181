// Audio extraction of the stand-in: the movie's audio decoded by FFmpeg and
// converted to the 16-bit big-endian interleaved PCM that the caller's
// stream description asks for, from a start time.
#include "qt_impl.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <tarvo_ffaudio/ffaudio_convert.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kPcmFlags = QT_FLAG_SIGNED_INTEGER | QT_FLAG_BIG_ENDIAN | QT_FLAG_PACKED;
constexpr uint32_t kMaxChannels = 2;

}  // namespace

struct qt_extraction {
  qt_movie *movie = nullptr;
  AVCodecContext *codec = nullptr;
  AVPacket *packet = nullptr;
  AVFrame *frame = nullptr;
  FfConverter *conv = nullptr;  // made when the caller sets the output
  qt_stream_description out{};  // what the caller set; sample_rate 0 until then
  int64_t drop_source = 0;      // source samples still to drop after a seek
  std::vector<uint8_t> pending; // converted frames not yet handed out
  bool demux_ended = false, drained = false;
};

namespace {

qt_stream_description source_description(const AVCodecContext *c)
{
  qt_stream_description d{};
  d.sample_rate = c->sample_rate;
  d.format_id = QT_FORMAT_LINEAR_PCM;
  d.format_flags = QT_FLAG_IS_FLOAT | QT_FLAG_PACKED;
  d.channels_per_frame = uint32_t(c->ch_layout.nb_channels);
  d.bits_per_channel = 32;
  d.bytes_per_frame = d.bytes_per_packet = d.channels_per_frame * 4;
  d.frames_per_packet = 1;
  return d;
}

bool valid_output(const qt_stream_description &d)
{
  return d.format_id == QT_FORMAT_LINEAR_PCM && d.format_flags == kPcmFlags && d.bits_per_channel == 16 &&
         d.channels_per_frame >= 1 && d.channels_per_frame <= kMaxChannels &&
         d.bytes_per_frame == d.channels_per_frame * 2 && d.bytes_per_packet == d.bytes_per_frame &&
         d.sample_rate >= 8000 && d.sample_rate <= 192000;
}

qt_err open_converter(qt_extraction *x)
{
  ffaudio_converter_free(x->conv);
  x->conv = ffaudio_converter_new(int(x->out.channels_per_frame), int(x->out.sample_rate));
  return x->conv ? QT_NO_ERR : QT_ERR_MEMORY;
}

// What the converter appended to pending since at, in the big-endian order
// asked for.  A frame it cannot convert only adds nothing.
qt_err swapped(qt_extraction *x, size_t at, int r)
{
  if (r == AVERROR(ENOMEM)) return QT_ERR_MEMORY;
  for (size_t i = at; i + 1 < x->pending.size(); i += 2) std::swap(x->pending[i], x->pending[i + 1]);
  return QT_NO_ERR;
}

// One decoded frame, less what a seek still drops.
qt_err take_frame(qt_extraction *x)
{
  int n = x->frame->nb_samples;
  int skip = int(std::min<int64_t>(x->drop_source, n));
  x->drop_source -= skip;
  if (skip == n) return QT_NO_ERR;
  size_t at = x->pending.size();
  return swapped(x, at, ffaudio_convert(x->conv, x->frame, skip, &x->pending));
}

// Decodes until pending grows or the audio ends.  Damage the demuxer
// reports ends the audio (a truncated file); a packet the decoder finds
// damaged is dropped (joined recordings carry a tag or a header frame in
// the middle); other decoder failures are errors.
qt_err decode_more(qt_extraction *x)
{
  while (true) {
    int r = avcodec_receive_frame(x->codec, x->frame);
    if (r == 0) {
      qt_err e = take_frame(x);
      av_frame_unref(x->frame);
      if (e) return e;
      if (!x->pending.empty()) return QT_NO_ERR;
      continue;
    }
    if (r == AVERROR_EOF) {
      if (!x->drained) {
        x->drained = true;
        size_t at = x->pending.size();
        return swapped(x, at, ffaudio_flush(x->conv, &x->pending));  // what the converter still holds
      }
      return QT_NO_ERR;
    }
    if (r == AVERROR_INVALIDDATA) continue;
    if (r != AVERROR(EAGAIN)) return QT_ERR_DECODE;
    if (x->demux_ended) return QT_ERR_DECODE;
    r = av_read_frame(x->movie->format, x->packet);
    if (r < 0) {
      x->demux_ended = true;
      if (avcodec_send_packet(x->codec, nullptr) < 0) return QT_ERR_DECODE;
      continue;
    }
    if (x->packet->stream_index == x->movie->stream) r = avcodec_send_packet(x->codec, x->packet);
    av_packet_unref(x->packet);
    if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_INVALIDDATA) return QT_ERR_DECODE;
  }
}

// The next packet of the audio stream: a cover picture stream's packets
// are passed over (the demuxer queues the picture again after each seek).
bool read_audio(qt_extraction *x)
{
  while (av_read_frame(x->movie->format, x->packet) >= 0) {
    if (x->packet->stream_index == x->movie->stream) return true;
    av_packet_unref(x->packet);
  }
  return false;
}

// The source sample at which the decoder's output of the packet begins:
// its time, plus the priming that the packet tells the decoder to skip.
int64_t packet_start(const qt_extraction *x, const AVStream *s)
{
  if (x->packet->pts == AV_NOPTS_VALUE) return 0;
  int64_t at = av_rescale_q(x->packet->pts, s->time_base, AVRational{1, x->codec->sample_rate});
  size_t size = 0;
  const uint8_t *skip = av_packet_get_side_data(x->packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
  if (skip && size >= 4) at += int64_t(skip[0] | skip[1] << 8 | skip[2] << 16 | uint32_t(skip[3]) << 24);
  return at;
}

// Source samples decoded and dropped before a seek's target: the first
// frame a transform codec decodes after a seek lacks the overlap of the
// one before it, so the seek lands at least two frames early.
int64_t preroll(const AVStream *s)
{
  return std::max<int64_t>(s->codecpar->seek_preroll, 2 * int64_t(std::max(s->codecpar->frame_size, 1024)));
}

qt_err seek(qt_extraction *x, const qt_time_record &t)
{
  if (t.scale <= 0 || t.value < 0) return QT_ERR_PARAM;
  AVStream *s = x->movie->format->streams[x->movie->stream];
  int64_t target = av_rescale(t.value, x->codec->sample_rate, t.scale);  // in source samples
  int64_t from = std::max<int64_t>(0, target - preroll(s));
  int64_t ts = av_rescale_q(from, AVRational{1, x->codec->sample_rate}, s->time_base);
  if (target > 0 && av_seek_frame(x->movie->format, x->movie->stream, ts, AVSEEK_FLAG_BACKWARD) < 0)
    return QT_ERR_PARAM;
  avcodec_flush_buffers(x->codec);
  x->pending.clear();
  x->demux_ended = x->drained = false;
  // The seek lands on a packet at or before the target: decode from there
  // and drop up to the target.
  x->drop_source = 0;
  if (target > 0) {
    if (!read_audio(x)) return QT_ERR_PARAM;
    x->drop_source = std::max<int64_t>(0, target - packet_start(x, s));
    int r = avcodec_send_packet(x->codec, x->packet);
    av_packet_unref(x->packet);
    if (r < 0) return QT_ERR_DECODE;
  }
  if (x->conv) ffaudio_reset(x->conv);
  return QT_NO_ERR;
}

void release(qt_extraction *x)
{
  ffaudio_converter_free(x->conv);
  av_frame_free(&x->frame);
  av_packet_free(&x->packet);
  avcodec_free_context(&x->codec);
  delete x;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) qt_err qt_extraction_begin(qt_movie *movie, uint32_t, qt_extraction **session)
{
  if (!movie || !session) return QT_ERR_PARAM;
  if (!qt_started()) return QT_ERR_NOT_STARTED;
  auto *x = new (std::nothrow) qt_extraction;
  if (!x) return QT_ERR_MEMORY;
  x->movie = movie;
  const AVCodecParameters *p = movie->format->streams[movie->stream]->codecpar;
  const AVCodec *dec = avcodec_find_decoder(p->codec_id);
  x->codec = dec ? avcodec_alloc_context3(dec) : nullptr;
  x->packet = av_packet_alloc();
  x->frame = av_frame_alloc();
  if (!x->codec || !x->packet || !x->frame || avcodec_parameters_to_context(x->codec, p) < 0 ||
      avcodec_open2(x->codec, dec, nullptr) < 0) {
    release(x);
    return QT_ERR_INVALID_MOVIE;
  }
  *session = x;
  return QT_NO_ERR;
}

__attribute__((visibility("default"))) qt_err qt_extraction_get_property(qt_extraction *x, uint32_t prop_class,
                                                                         uint32_t prop_id, uint32_t size,
                                                                         void *value, uint32_t *size_used)
{
  if (!x || !value || prop_class != QT_PROPCLASS_AUDIO || prop_id != QT_PROP_STREAM_DESCRIPTION ||
      size < sizeof(qt_stream_description))
    return QT_ERR_PARAM;
  qt_stream_description d = x->out.sample_rate > 0 ? x->out : source_description(x->codec);
  std::memcpy(value, &d, sizeof d);
  if (size_used) *size_used = sizeof d;
  return QT_NO_ERR;
}

__attribute__((visibility("default"))) qt_err qt_extraction_set_property(qt_extraction *x, uint32_t prop_class,
                                                                         uint32_t prop_id, uint32_t size,
                                                                         const void *value)
{
  if (!x || !value) return QT_ERR_PARAM;
  if (prop_class == QT_PROPCLASS_AUDIO && prop_id == QT_PROP_STREAM_DESCRIPTION && size == sizeof(qt_stream_description)) {
    qt_stream_description d;
    std::memcpy(&d, value, sizeof d);
    if (!valid_output(d)) return QT_ERR_PARAM;
    x->out = d;
    return open_converter(x);
  }
  if (prop_class == QT_PROPCLASS_MOVIE && prop_id == QT_PROP_CURRENT_TIME && size == sizeof(qt_time_record)) {
    qt_time_record t;
    std::memcpy(&t, value, sizeof t);
    return seek(x, t);
  }
  return QT_ERR_PARAM;
}

__attribute__((visibility("default"))) qt_err qt_extraction_fill_buffer(qt_extraction *x, uint32_t *frames,
                                                                        qt_audio_buffer_list *list, uint32_t *flags)
{
  if (!x || !frames || !list || !flags || list->number_buffers != 1 || !list->buffers[0].data) return QT_ERR_PARAM;
  if (!x->conv) return QT_ERR_PARAM;  // no output format set
  *flags = 0;
  size_t bpf = x->out.bytes_per_frame;
  size_t want = std::min<size_t>(*frames, list->buffers[0].data_byte_size / bpf) * bpf;
  while (x->pending.size() < want && !x->drained) {
    size_t before = x->pending.size();
    qt_err e = decode_more(x);
    if (e) return e;
    if (x->pending.size() == before && x->drained) break;
  }
  size_t n = std::min(want, x->pending.size() - x->pending.size() % bpf);
  std::memcpy(list->buffers[0].data, x->pending.data(), n);
  x->pending.erase(x->pending.begin(), x->pending.begin() + std::ptrdiff_t(n));
  *frames = uint32_t(n / bpf);
  list->buffers[0].data_byte_size = uint32_t(n);
  if (x->drained && x->pending.empty()) *flags |= QT_EXTRACTION_COMPLETE;
  return QT_NO_ERR;
}

__attribute__((visibility("default"))) qt_err qt_extraction_end(qt_extraction *x)
{
  if (!x) return QT_ERR_PARAM;
  release(x);
  return QT_NO_ERR;
}

}  // extern "C"
