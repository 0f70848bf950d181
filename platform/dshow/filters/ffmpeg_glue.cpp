// Wave formats to FFmpeg decoders, and their frames to 16-bit PCM.
#include "ffmpeg_glue.h"

#include "wave_format.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <tarvo_ffaudio/ffaudio_convert.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

// FFmpeg's own messages about damaged input stay out of the host's output.
[[maybe_unused]] const int quiet = (av_log_set_level(AV_LOG_FATAL), 0);

AVCodecID codec_of(WORD tag)
{
  switch (tag) {
    case 2:
      return AV_CODEC_ID_ADPCM_MS;
    case 17:
      return AV_CODEC_ID_ADPCM_IMA_WAV;
    case WAVE_FORMAT_MPEG:
      return AV_CODEC_ID_MP2;
    case WAVE_FORMAT_MPEGLAYER3:
      return AV_CODEC_ID_MP3;
    case WAVE_FORMAT_WMAVOICE9:
      return AV_CODEC_ID_WMAVOICE;
    case WAVE_FORMAT_WMAUDIO1:
      return AV_CODEC_ID_WMAV1;
    case WAVE_FORMAT_WMAUDIO2:
      return AV_CODEC_ID_WMAV2;
    case WAVE_FORMAT_WMAUDIO3:
      return AV_CODEC_ID_WMAPRO;
    default:
      return AV_CODEC_ID_NONE;
  }
}

// The frame as interleaved 16-bit samples of the agreed format appended to
// out; a frame that cannot be converted is skipped.
HRESULT convert(FfDecoder *d, std::vector<BYTE> *out)
{
  if (!d->conv && !(d->conv = ffaudio_converter_new(d->out_channels, d->out_rate))) return E_OUTOFMEMORY;
  int r = ffaudio_convert(d->conv, d->frame, 0, out);
  return r == AVERROR(ENOMEM) ? E_OUTOFMEMORY : r < 0 ? S_FALSE : S_OK;
}

HRESULT decode(FfDecoder *d, AVPacket *pkt, std::vector<BYTE> *out)
{
  int r = avcodec_send_packet(d->ctx, pkt);
  if (r < 0 && r != AVERROR_EOF && r != AVERROR(EAGAIN)) {
    // A damaged packet is dropped; running out of memory is not.
    if (r == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    return S_OK;
  }
  for (;;) {
    r = avcodec_receive_frame(d->ctx, d->frame);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return S_OK;
    if (r < 0) return r == AVERROR(ENOMEM) ? E_OUTOFMEMORY : S_OK;
    HRESULT hr = convert(d, out);
    av_frame_unref(d->frame);
    if (FAILED(hr)) return hr;
  }
}

HRESULT send(FfDecoder *d, const BYTE *p, size_t n, std::vector<BYTE> *out)
{
  if (av_new_packet(d->pkt, int(n)) < 0) return E_OUTOFMEMORY;
  std::memcpy(d->pkt->data, p, n);
  HRESULT hr = decode(d, d->pkt, out);
  av_packet_unref(d->pkt);
  return hr;
}

// The length of the MPEG audio frame whose header is at p, or 0.
size_t mpeg_frame_length(const BYTE *p)
{
  static const uint16_t v1[3][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
  };
  static const uint16_t v2[2][15] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
  };
  static const uint32_t rates[3] = {44100, 48000, 32000};
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
  int version = (p[1] >> 3) & 3, layer = 4 - ((p[1] >> 1) & 3), bri = p[2] >> 4, sri = (p[2] >> 2) & 3;
  if (version == 1 || layer == 4 || bri == 0 || bri == 15 || sri == 3) return 0;
  bool mpeg1 = version == 3;
  uint32_t rate = rates[sri] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  uint32_t kbps = mpeg1 ? v1[layer - 1][bri] : v2[layer == 1 ? 0 : 1][bri];
  uint32_t pad = (p[2] >> 1) & 1;
  if (layer == 1) return (12 * kbps * 1000 / rate + pad) * 4;
  return (layer == 3 && !mpeg1 ? 72 : 144) * kbps * 1000 / rate + pad;
}

// The offset of the first frame header that a second one follows at its
// frame's length, or SIZE_MAX when the bytes hold none yet.
size_t mpeg_resync(const std::vector<BYTE> &b)
{
  for (size_t i = 0; i + 4 <= b.size(); i++) {
    size_t n = mpeg_frame_length(&b[i]);
    if (n == 0) continue;
    if (i + n + 4 > b.size()) return SIZE_MAX;
    if (mpeg_frame_length(&b[i + n]) && (b[i + n + 1] & 0xFE) == (b[i + 1] & 0xFE) &&
        (b[i + n + 2] & 0x0C) == (b[i + 2] & 0x0C))
      return i;
  }
  return SIZE_MAX;
}

}  // namespace

int ff_wave_decodable(const BYTE *format, size_t size)
{
  if (!wave_format_valid(format, size)) return 0;
  WAVEFORMATEX w;
  std::memcpy(&w, format, sizeof w);
  return codec_of(w.wFormatTag) != AV_CODEC_ID_NONE && avcodec_find_decoder(codec_of(w.wFormatTag)) != nullptr;
}

HRESULT ff_hresult(int averror)
{
  if (averror >= 0) return S_OK;
  if (averror == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
  if (averror == AVERROR_INVALIDDATA) return VFW_E_INVALIDMEDIATYPE;
  if (averror == AVERROR_DECODER_NOT_FOUND) return VFW_E_TYPE_NOT_ACCEPTED;
  return E_FAIL;
}

HRESULT ff_decoder_open(FfDecoder *d, const BYTE *format, size_t size)
{
  if (size < sizeof(WAVEFORMATEX) || !ff_wave_decodable(format, size)) return VFW_E_TYPE_NOT_ACCEPTED;
  WAVEFORMATEX w;
  std::memcpy(&w, format, sizeof w);
  const AVCodec *codec = avcodec_find_decoder(codec_of(w.wFormatTag));
  d->ctx = avcodec_alloc_context3(codec);
  d->pkt = av_packet_alloc();
  d->frame = av_frame_alloc();
  if (!d->ctx || !d->pkt || !d->frame) {
    ff_decoder_close(d);
    return E_OUTOFMEMORY;
  }
  d->out_channels = w.nChannels;
  d->out_rate = int(w.nSamplesPerSec);
  d->ctx->sample_rate = int(w.nSamplesPerSec);
  av_channel_layout_default(&d->ctx->ch_layout, w.nChannels);
  d->ctx->block_align = w.nBlockAlign;
  d->ctx->bit_rate = int64_t(w.nAvgBytesPerSec) * 8;
  d->ctx->bits_per_coded_sample = w.wBitsPerSample;
  if (w.cbSize) {
    d->ctx->extradata = static_cast<uint8_t *>(av_mallocz(w.cbSize + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!d->ctx->extradata) {
      ff_decoder_close(d);
      return E_OUTOFMEMORY;
    }
    std::memcpy(d->ctx->extradata, format + sizeof w, w.cbSize);
    d->ctx->extradata_size = w.cbSize;
  }
  int r = avcodec_open2(d->ctx, codec, nullptr);
  if (r < 0) {
    ff_decoder_close(d);
    return ff_hresult(r);
  }
  if (w.wFormatTag == WAVE_FORMAT_MPEG || w.wFormatTag == WAVE_FORMAT_MPEGLAYER3) {
    d->parser = av_parser_init(codec->id);
    if (!d->parser) {
      ff_decoder_close(d);
      return E_OUTOFMEMORY;
    }
  } else {
    d->block = w.nBlockAlign;
  }
  return S_OK;
}

void ff_decoder_close(FfDecoder *d)
{
  if (d->parser) av_parser_close(d->parser);
  avcodec_free_context(&d->ctx);
  av_packet_free(&d->pkt);
  av_frame_free(&d->frame);
  ffaudio_converter_free(d->conv);
  d->conv = nullptr;
  d->parser = nullptr;
  d->pending.clear();
  d->block = 0;
  d->out_channels = d->out_rate = 0;
  d->need_sync = true;
}

void ff_decoder_reset(FfDecoder *d)
{
  if (!d->ctx) return;
  avcodec_flush_buffers(d->ctx);
  if (d->conv) ffaudio_reset(d->conv);
  d->pending.clear();
  d->need_sync = true;
  if (d->parser) {
    av_parser_close(d->parser);
    d->parser = av_parser_init(d->ctx->codec_id);
  }
}

HRESULT ff_decoder_feed(FfDecoder *d, const BYTE *data, size_t size, std::vector<BYTE> *out)
{
  if (!d->ctx) return E_UNEXPECTED;
  if (!data) {  // drain: the parser's last frame, then the decoder's
    if (d->parser) {
      uint8_t *frame = nullptr;
      int frame_size = 0;
      av_parser_parse2(d->parser, d->ctx, &frame, &frame_size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
      if (frame_size > 0) {
        HRESULT hr = send(d, frame, size_t(frame_size), out);
        if (FAILED(hr)) return hr;
      }
    }
    HRESULT hr = decode(d, nullptr, out);
    if (SUCCEEDED(hr) && d->conv && ffaudio_flush(d->conv, out) == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    return hr;
  }
  if (d->block > 0) {
    // ADPCM: one packet per block; a partial block waits for the rest.
    try {
      d->pending.insert(d->pending.end(), data, data + size);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    size_t whole = d->pending.size() / size_t(d->block) * size_t(d->block), at = 0;
    HRESULT hr = S_OK;
    for (; at < whole && SUCCEEDED(hr); at += size_t(d->block)) hr = send(d, d->pending.data() + at, size_t(d->block), out);
    d->pending.erase(d->pending.begin(), d->pending.begin() + long(at));
    return hr;
  }
  if (!d->parser) return E_OUTOFMEMORY;
  std::vector<BYTE> synced;
  if (d->need_sync) {
    // After a seek the bytes start anywhere in a frame: the parser starts
    // at a header that a second one confirms.
    try {
      d->pending.insert(d->pending.end(), data, data + size);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    size_t at = mpeg_resync(d->pending);
    if (at == SIZE_MAX) {
      if (d->pending.size() > 65536) d->pending.erase(d->pending.begin(), d->pending.end() - 4096);
      return S_OK;
    }
    synced.assign(d->pending.begin() + long(at), d->pending.end());
    d->pending.clear();
    d->need_sync = false;
    data = synced.data();
    size = synced.size();
  }
  while (size > 0) {
    uint8_t *frame = nullptr;
    int frame_size = 0;
    int used = av_parser_parse2(d->parser, d->ctx, &frame, &frame_size, data, int(size), AV_NOPTS_VALUE,
                                AV_NOPTS_VALUE, 0);
    if (used < 0) return S_OK;
    data += used;
    size -= size_t(used);
    if (frame_size > 0) {
      HRESULT hr = send(d, frame, size_t(frame_size), out);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}
