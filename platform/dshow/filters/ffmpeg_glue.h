/* The small bridge between wave formats and FFmpeg's decoders: a decoder
 * opened from a checked WAVEFORMATEX, its output as interleaved 16-bit PCM,
 * and FFmpeg's errors as HRESULTs. */
#ifndef TARVO_DSHOW_FFMPEG_GLUE_H
#define TARVO_DSHOW_FFMPEG_GLUE_H

#include <tarvo_dshow/dshow.h>

#include <vector>

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;
struct FfConverter;

/* The Windows Media tags beside those of com_wave.h. */
#define WAVE_FORMAT_WMAVOICE9 0x000A
#define WAVE_FORMAT_WMAUDIO1 0x0160
#define WAVE_FORMAT_WMAUDIO2 0x0161
#define WAVE_FORMAT_WMAUDIO3 0x0162

/* 1 when the format's tag is one the decoders here take (MS and IMA ADPCM,
 * MPEG layer 2 and 3, WMA v1, v2, Pro and voice) and the format block
 * passes wave_format_valid. */
int ff_wave_decodable(const BYTE *format, size_t size);

/* A decoder of one stream, delivering 16-bit interleaved PCM. */
struct FfDecoder {
  AVCodecContext *ctx = nullptr;
  AVCodecParserContext *parser = nullptr;  // MPEG audio: frames from a byte stream
  AVPacket *pkt = nullptr;
  AVFrame *frame = nullptr;
  FfConverter *conv = nullptr;  // made at the first frame, to out_channels at out_rate
  int block = 0;  // ADPCM and WMA: the bytes of one packet
  // The PCM the graph agreed on: the format's rate and channels, which the
  // opener may change before the first feed (2 folds more channels).
  int out_channels = 0;
  int out_rate = 0;
  std::vector<BYTE> pending;  // ADPCM bytes short of a block; MPEG bytes before a sync
  bool need_sync = true;      // MPEG: no frame header found since the last reset
};

HRESULT ff_decoder_open(FfDecoder *d, const BYTE *format, size_t size);
void ff_decoder_close(FfDecoder *d);
/* Forgets buffered input, for a flush. */
void ff_decoder_reset(FfDecoder *d);
/* Decodes bytes (NULL, 0: drains at the end) and appends the PCM to out.
 * Damaged packets are skipped; an error is returned only when decoding
 * cannot go on. */
HRESULT ff_decoder_feed(FfDecoder *d, const BYTE *data, size_t size, std::vector<BYTE> *out);
HRESULT ff_hresult(int averror);

#endif
