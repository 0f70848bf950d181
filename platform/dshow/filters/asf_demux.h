/* FFmpeg's ASF demuxer over a caller's reads, and a stream's format as the
 * WAVEFORMATEX that the WM ASF Reader's pin offers. */
#ifndef TARVO_DSHOW_ASF_DEMUX_H
#define TARVO_DSHOW_ASF_DEMUX_H

#include <tarvo_dshow/dshow.h>

#include <cstdint>
#include <vector>

struct AVCodecParameters;
struct AVFormatContext;
struct AVIOContext;

/* Reads at most size bytes at the position: the count, 0 at the end, or a
 * negative FFmpeg error.  Seeks as FFmpeg's seek callback does (whence
 * SEEK_SET, SEEK_CUR, SEEK_END or AVSEEK_SIZE). */
typedef int (*asf_read_fn)(void *ctx, uint8_t *buf, int size);
typedef int64_t (*asf_seek_fn)(void *ctx, int64_t offset, int whence);

struct AsfDemux {
  AVIOContext *io = nullptr;
  AVFormatContext *fmt = nullptr;
};

/* Reads the ASF header: S_OK, VFW_E_INVALID_FILE_FORMAT for a stream that
 * is no ASF, E_ACCESSDENIED for protected content (there is no licence
 * support), or E_OUTOFMEMORY.  Closed again on failure. */
HRESULT asf_demux_open(AsfDemux *d, void *ctx, asf_read_fn read, asf_seek_fn seek);
void asf_demux_close(AsfDemux *d);

/* The audio stream's format: a WAVEFORMATEX with its codec data as extra
 * bytes, checked by wave_format_valid; empty when the stream has no wave
 * tag or its format is refused. */
std::vector<BYTE> asf_stream_format(const AVCodecParameters *par);

#endif
