// Writes the test media of media_fixtures.h into the folder given as its
// argument, with FFmpeg's encoders and muxers: the same 1 kHz tone in every
// file.  Each file is written under a temporary name and renamed, so that a
// reader never sees half a file.
#include "media_fixtures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Fixture {
  const char *name;
  const char *muxer;
  const char *encoder;
  int rate;
  int channels;
  int64_t bit_rate;  // 0: the encoder's default
  int vbr_quality;   // > 0: variable bit rate at this quality
  const char *mux_options;  // "key=value:key=value"
  bool tagged;              // title, artist and album in the file's metadata
};

const Fixture fixtures[] = {
  {MEDIA_WAV_PCM, "wav", "pcm_s16le", 44100, 2, 0, 0, nullptr, false},
  {MEDIA_WAV_MS_ADPCM, "wav", "adpcm_ms", 44100, 2, 0, 0, nullptr, false},
  {MEDIA_WAV_IMA_ADPCM, "wav", "adpcm_ima_wav", 44100, 2, 0, 0, nullptr, false},
  {MEDIA_WAV_MP2, "wav", "mp2", 44100, 2, 192000, 0, nullptr, false},
  {MEDIA_WAV_MP3, "wav", "libmp3lame", 44100, 2, 128000, 0, nullptr, false},
  {MEDIA_WAV_6CH, "wav", "pcm_s16le", 44100, 6, 0, 0, nullptr, false},
  {MEDIA_MP3_CBR, "mp3", "libmp3lame", 44100, 2, 128000, 0, "id3v2_version=0:write_xing=0", false},
  {MEDIA_MP3_VBR, "mp3", "libmp3lame", 44100, 2, 0, 4, "id3v2_version=0:write_xing=1", false},
  {MEDIA_MP3_ID3, "mp3", "libmp3lame", 44100, 2, 128000, 0, "id3v2_version=3:write_xing=0", true},
  {MEDIA_WMA, "asf", "wmav2", 44100, 2, 128000, 0, nullptr, false},
  {MEDIA_M4A, "mp4", "aac", 44100, 2, 128000, 0, nullptr, false},
  {MEDIA_OGG_44100, "ogg", "libvorbis", 44100, 2, 0, 0, nullptr, false},
  {MEDIA_OGG_48000, "ogg", "libvorbis", 48000, 2, 0, 0, nullptr, false},
  {MEDIA_OGG_32000, "ogg", "libvorbis", 32000, 2, 0, 0, nullptr, false},
  {MEDIA_OGG_6CH, "ogg", "libvorbis", 44100, 6, 0, 0, nullptr, false},
};

// Sample i of the tone, -1 to 1.
double tone(int64_t i, int rate)
{
  return TARVO_MEDIA_AMPLITUDE * std::sin(2 * M_PI * TARVO_MEDIA_TONE_HZ * double(i) / rate);
}

// Fills frames [first, first + n) of the frame in its sample format; the
// frame's remaining samples (a padded last frame) are silence.
void fill(AVFrame *f, int64_t first, int n, int rate)
{
  const int channels = f->ch_layout.nb_channels;
  const auto fmt = AVSampleFormat(f->format);
  const bool planar = av_sample_fmt_is_planar(fmt);
  for (int i = 0; i < f->nb_samples; i++) {
    double v = i < n ? tone(first + i, rate) : 0;
    for (int c = 0; c < channels; c++) {
      int plane = planar ? c : 0, at = planar ? i : i * channels + c;
      switch (av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_S16:
          reinterpret_cast<int16_t *>(f->extended_data[plane])[at] = int16_t(std::lrint(v * 32767));
          break;
        case AV_SAMPLE_FMT_S32:
          reinterpret_cast<int32_t *>(f->extended_data[plane])[at] = int32_t(std::lrint(v * 2147483647.0));
          break;
        case AV_SAMPLE_FMT_FLT:
          reinterpret_cast<float *>(f->extended_data[plane])[at] = float(v);
          break;
        case AV_SAMPLE_FMT_DBL:
          reinterpret_cast<double *>(f->extended_data[plane])[at] = v;
          break;
        default:
          break;
      }
    }
  }
}

bool sample_format_usable(AVSampleFormat fmt)
{
  switch (av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_DBL:
      return true;
    default:
      return false;
  }
}

int drain(AVCodecContext *enc, AVFormatContext *oc, AVStream *st, AVPacket *pkt)
{
  for (;;) {
    int r = avcodec_receive_packet(enc, pkt);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
    if (r < 0) return r;
    av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
    pkt->stream_index = st->index;
    r = av_interleaved_write_frame(oc, pkt);
    if (r < 0) return r;
  }
}

// Writes one fixture; an FFmpeg error text on failure.
std::string write_fixture(const Fixture &fx, const std::string &path)
{
  const AVCodec *codec = avcodec_find_encoder_by_name(fx.encoder);
  if (!codec) return std::string("no encoder ") + fx.encoder;
  AVFormatContext *oc = nullptr;
  if (avformat_alloc_output_context2(&oc, nullptr, fx.muxer, path.c_str()) < 0) return "no muxer";
  AVCodecContext *enc = avcodec_alloc_context3(codec);
  AVFrame *frame = av_frame_alloc();
  AVPacket *pkt = av_packet_alloc();
  AVDictionary *mux_opts = nullptr;
  std::string err;
  int r = 0;
  auto fail = [&](const char *what) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(r, text, sizeof text);
    err = std::string(what) + ": " + text;
  };
  AVStream *st = avformat_new_stream(oc, nullptr);
  if (!enc || !frame || !pkt || !st) {
    err = "out of memory";
    goto done;
  }
  enc->sample_rate = fx.rate;
  av_channel_layout_default(&enc->ch_layout, fx.channels);
  enc->sample_fmt = AV_SAMPLE_FMT_NONE;
  for (const AVSampleFormat *f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; f++)
    if (sample_format_usable(*f)) {
      enc->sample_fmt = *f;
      break;
    }
  if (enc->sample_fmt == AV_SAMPLE_FMT_NONE) {
    err = "no usable sample format";
    goto done;
  }
  enc->time_base = AVRational{1, fx.rate};
  if (fx.bit_rate) enc->bit_rate = fx.bit_rate;
  if (fx.vbr_quality > 0) {
    enc->flags |= AV_CODEC_FLAG_QSCALE;
    enc->global_quality = FF_QP2LAMBDA * fx.vbr_quality;
  }
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if ((r = avcodec_open2(enc, codec, nullptr)) < 0) {
    fail("open encoder");
    goto done;
  }
  if ((r = avcodec_parameters_from_context(st->codecpar, enc)) < 0) {
    fail("parameters");
    goto done;
  }
  st->time_base = enc->time_base;
  if (fx.tagged) {
    av_dict_set(&oc->metadata, "title", MEDIA_ID3_TITLE, 0);
    av_dict_set(&oc->metadata, "artist", MEDIA_ID3_ARTIST, 0);
    av_dict_set(&oc->metadata, "album", MEDIA_ID3_ALBUM, 0);
  }
  if (fx.mux_options) av_dict_parse_string(&mux_opts, fx.mux_options, "=", ":", 0);
  if ((r = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) {
    fail("create");
    goto done;
  }
  if ((r = avformat_write_header(oc, &mux_opts)) < 0) {
    fail("header");
    goto done;
  }
  {
    const int64_t total = int64_t(fx.rate) * TARVO_MEDIA_SECONDS;
    const bool variable = codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
    const bool small_last = codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
    const int per = enc->frame_size > 0 && !variable ? enc->frame_size : 1024;
    for (int64_t at = 0; at < total; at += per) {
      int n = int(std::min<int64_t>(per, total - at));
      av_frame_unref(frame);
      frame->format = enc->sample_fmt;
      frame->sample_rate = fx.rate;
      frame->nb_samples = n < per && !variable && !small_last ? per : n;  // a last frame padded with silence
      av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
      if ((r = av_frame_get_buffer(frame, 0)) < 0) {
        fail("frame");
        goto done;
      }
      fill(frame, at, n, fx.rate);
      frame->pts = at;
      if ((r = avcodec_send_frame(enc, frame)) < 0 || (r = drain(enc, oc, st, pkt)) < 0) {
        fail("encode");
        goto done;
      }
    }
    if ((r = avcodec_send_frame(enc, nullptr)) < 0 || (r = drain(enc, oc, st, pkt)) < 0) {
      fail("flush");
      goto done;
    }
    if ((r = av_write_trailer(oc)) < 0) fail("trailer");
  }
done:
  if (oc && oc->pb) avio_closep(&oc->pb);
  av_dict_free(&mux_opts);
  av_packet_free(&pkt);
  av_frame_free(&frame);
  avcodec_free_context(&enc);
  avformat_free_context(oc);
  return err;
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  av_log_set_level(AV_LOG_ERROR);
  const std::string dir = argv[1];
  int failed = 0;
  for (const Fixture &fx : fixtures) {
    const std::string path = dir + "/" + fx.name, part = path + ".part";
    std::string err = write_fixture(fx, part);
    if (err.empty() && std::rename(part.c_str(), path.c_str()) != 0) err = "rename failed";
    if (!err.empty()) {
      std::remove(part.c_str());
      std::fprintf(stderr, "%s: %s\n", fx.name, err.c_str());
      failed++;
    }
  }
  return failed ? 1 : 0;
}
