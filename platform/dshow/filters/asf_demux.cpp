// FFmpeg's ASF demuxer over a caller's reads.
#include "asf_demux.h"

#include "sys_limits.h"
#include "wave_format.h"

#include <tarvo_dshow/dshow_sys.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstring>

namespace {

// Object ids as the file stores them.
const BYTE header_object[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const BYTE protection_objects[2][16] = {
  {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11, 0xB4, 0xB7, 0x00, 0xC0, 0x4F, 0xB8, 0xB0, 0xC8},
  {0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C, 0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C},
};

uint64_t le(const BYTE *p, int n)
{
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; i--) v = v << 8 | p[i];
  return v;
}

bool read_at(void *ctx, asf_read_fn read, asf_seek_fn seek, uint64_t at, BYTE *buf, int n)
{
  if (at > uint64_t(INT64_MAX) || seek(ctx, int64_t(at), SEEK_SET) != int64_t(at)) return false;
  for (int got = 0; got < n;) {
    int r = read(ctx, buf + got, n - got);
    if (r <= 0) return false;
    got += r;
  }
  return true;
}

// 1 when the header holds a content-encryption object.
bool protected_content(void *ctx, asf_read_fn read, asf_seek_fn seek)
{
  BYTE head[30];
  if (!read_at(ctx, read, seek, 0, head, sizeof head) || std::memcmp(head, header_object, 16) != 0) return false;
  const uint64_t header_size = le(head + 16, 8), count = le(head + 24, 4);
  uint64_t at = sizeof head;
  for (uint64_t i = 0; i < count && i < SYS_ASF_MAX_HEADER_OBJECTS; i++) {
    BYTE obj[24];
    if (!read_at(ctx, read, seek, at, obj, sizeof obj)) break;
    const uint64_t size = le(obj + 16, 8);
    if (size < sizeof obj || at > header_size || size > header_size - at) break;
    for (const BYTE *id : protection_objects)
      if (std::memcmp(obj, id, 16) == 0) return true;
    at += size;
  }
  return false;
}

}  // namespace

HRESULT asf_demux_open(AsfDemux *d, void *ctx, asf_read_fn read, asf_seek_fn seek)
{
  const bool locked = protected_content(ctx, read, seek);
  if (seek(ctx, 0, SEEK_SET) != 0) return VFW_E_INVALID_FILE_FORMAT;
  if (locked) return E_ACCESSDENIED;
  auto *buffer = static_cast<unsigned char *>(av_malloc(SYS_ASF_IO_BYTES));
  if (!buffer) return E_OUTOFMEMORY;
  d->io = avio_alloc_context(buffer, SYS_ASF_IO_BYTES, 0, ctx, read, nullptr, seek);
  if (!d->io) {
    av_free(buffer);
    return E_OUTOFMEMORY;
  }
  d->fmt = avformat_alloc_context();
  if (!d->fmt) {
    asf_demux_close(d);
    return E_OUTOFMEMORY;
  }
  d->fmt->pb = d->io;
  d->fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
  const AVInputFormat *asf = av_find_input_format("asf");
  if (!asf || avformat_open_input(&d->fmt, nullptr, asf, nullptr) < 0) {
    d->fmt = nullptr;  // freed by the failed open
    asf_demux_close(d);
    return VFW_E_INVALID_FILE_FORMAT;
  }
  return S_OK;
}

void asf_demux_close(AsfDemux *d)
{
  if (d->fmt) avformat_close_input(&d->fmt);
  if (d->io) {
    av_freep(&d->io->buffer);
    avio_context_free(&d->io);
  }
}

std::vector<BYTE> asf_stream_format(const AVCodecParameters *par)
{
  std::vector<BYTE> f;
  unsigned tag = par->codec_tag;
  if (!tag) {
    const AVCodecTag *const tables[] = {avformat_get_riff_audio_tags(), nullptr};
    tag = av_codec_get_tag(tables, par->codec_id);
  }
  if (!tag || tag > 0xFFFF || par->extradata_size < 0 ||
      size_t(par->extradata_size) > SYS_WAVE_MAX_FORMAT_BYTES - sizeof(WAVEFORMATEX))
    return f;
  WAVEFORMATEX w{};
  w.wFormatTag = WORD(tag);
  w.nChannels = WORD(std::clamp(par->ch_layout.nb_channels, 0, 0xFFFF));
  w.nSamplesPerSec = DWORD(std::max(par->sample_rate, 0));
  w.nAvgBytesPerSec = DWORD(std::clamp<int64_t>(par->bit_rate / 8, 0, 0x7FFFFFFF));
  w.nBlockAlign = WORD(std::clamp(par->block_align, 0, 0xFFFF));
  w.wBitsPerSample = WORD(std::clamp(par->bits_per_coded_sample, 0, 0xFFFF));
  w.cbSize = WORD(par->extradata_size);
  try {
    f.resize(sizeof w + w.cbSize);
  } catch (...) {
    return f;
  }
  std::memcpy(f.data(), &w, sizeof w);
  if (w.cbSize) std::memcpy(f.data() + sizeof w, par->extradata, w.cbSize);
  if (!wave_format_valid(f.data(), f.size())) f.clear();
  return f;
}
