// links: tarvo_dshow_ffmpeg
// The WM ASF Reader's input: arbitrary bytes as an ASF file through the
// protection check, the demuxer and the stream formats the pins would
// offer, each stream's first packets through the decoder the format names;
// and the same bytes' start as a format block for the glue, with the rest
// as its input.
#include "asf_demux.h"
#include "ffmpeg_glue.h"
#include "wave_format.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int MAX_PACKETS = 64;
constexpr size_t MAX_FORMAT = 512;

struct Bytes {
  const uint8_t *p;
  size_t n;
  size_t at;
};

int read_bytes(void *ctx, uint8_t *buf, int size)
{
  auto *b = static_cast<Bytes *>(ctx);
  size_t k = std::min(b->n - b->at, size_t(size));
  if (k == 0) return AVERROR_EOF;
  std::memcpy(buf, b->p + b->at, k);
  b->at += k;
  return int(k);
}

int64_t seek_bytes(void *ctx, int64_t offset, int whence)
{
  auto *b = static_cast<Bytes *>(ctx);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) return int64_t(b->n);
  int64_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? int64_t(b->at) + offset : int64_t(b->n) + offset;
  if (to < 0 || to > int64_t(b->n)) return AVERROR(EINVAL);
  b->at = size_t(to);
  return to;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  Bytes bytes{data, size, 0};
  AsfDemux demux;
  if (asf_demux_open(&demux, &bytes, read_bytes, seek_bytes) == S_OK) {
    std::vector<std::unique_ptr<FfDecoder>> decoders(demux.fmt->nb_streams);
    for (unsigned i = 0; i < demux.fmt->nb_streams; i++) {
      std::vector<BYTE> f = asf_stream_format(demux.fmt->streams[i]->codecpar);
      if (f.empty()) continue;
      if (!wave_format_valid(f.data(), f.size())) __builtin_trap();
      decoders[i] = std::make_unique<FfDecoder>();
      decoders[i]->out_channels = 2;
      if (ff_decoder_open(decoders[i].get(), f.data(), f.size()) != S_OK) decoders[i].reset();
    }
    AVPacket *pkt = av_packet_alloc();
    std::vector<BYTE> pcm;
    for (int n = 0; pkt && n < MAX_PACKETS && av_read_frame(demux.fmt, pkt) >= 0; n++) {
      if (unsigned(pkt->stream_index) < decoders.size() && decoders[size_t(pkt->stream_index)]) {
        pcm.clear();
        ff_decoder_feed(decoders[size_t(pkt->stream_index)].get(), pkt->data, size_t(pkt->size), &pcm);
      }
      av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    for (auto &d : decoders)
      if (d) {
        pcm.clear();
        ff_decoder_feed(d.get(), nullptr, 0, &pcm);
        ff_decoder_close(d.get());
      }
    asf_demux_close(&demux);
  }

  // The glue on its own: a format block, then its input.
  // As long as its cbSize says, within MAX_FORMAT.
  size_t head = size < 18 ? size : std::min<size_t>({size, MAX_FORMAT, 18 + size_t(data[16] | data[17] << 8)});
  FfDecoder d;
  d.out_channels = size & 1 ? 2 : 0;
  if (ff_decoder_open(&d, data, head) == S_OK) {
    std::vector<BYTE> pcm;
    for (size_t at = head; at < size; at += 1024) {
      pcm.clear();
      ff_decoder_feed(&d, data + at, std::min<size_t>(1024, size - at), &pcm);
    }
    pcm.clear();
    ff_decoder_feed(&d, nullptr, 0, &pcm);
    ff_decoder_close(&d);
  }
  return 0;
}
