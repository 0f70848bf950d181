/* What the two LPCM plug-ins share: the audio/L16 resources written after
 * each file resource of an item, the cheap checks of whether to rewrite,
 * the serving steps (request reader, byte range or time seek, header), and
 * the body writer that every decoder feeds (skip, budget, chunks, zero
 * fill, final chunk). */
#ifndef CORDA_COMMON_MSF_LPCM_H
#define CORDA_COMMON_MSF_LPCM_H

#include <stdint.h>
#include <corda_common/msf_common.h>
#include <corda_common/msf_lpcm_limits.h>

#ifdef __cplusplus
extern "C" {
#endif

/* --- the rewrite --- */

typedef struct {
  const char *filter;  /* the tarvo:filter value, the plug-in's name */
  int single_rate;     /* only the resource at the source's rate (Ogg) */
  int add_dynamic;     /* the item gains one <tarvo:dynamic> element */
} msf_lpcm_style;

/* After the end tag of each res with a tarvo:filename and no tarvo:filter
 * whose nrAudioChannels is above 0: one or two audio/L16 res, the rate
 * 44100 first when the source has exactly 44100 Hz, else 48000.  The
 * result follows msf_rewrite_run. */
int msf_lpcm_rewrite(const msf_lpcm_style *style, const char *text, char *buffer, uint32_t capacity);

/* Bytes per second of channels at rate, and bytes for duration_ms at that
 * rate rounded down to whole frames. */
uint64_t msf_lpcm_bytes_per_second(uint32_t rate, uint32_t channels);
uint64_t msf_lpcm_bytes_for(uint32_t rate, uint32_t channels, uint64_t ms);

/* The checks before any decoder: a path that names a regular file whose
 * creation and modification times are newer than a nonzero stored
 * timestamp.  1 when the item may need a rewrite. */
int msf_lpcm_file_changed(const char *path, const uint64_t *timestamp);

/* ".lpcm" for a protocolInfo whose third field is audio/L16, else NULL. */
const char *msf_lpcm_dot_suffix(const char *protocol_info);

/* --- the body --- */

/* The body of one answer: skip bytes are dropped first, then budget bytes
 * go out, as chunks when chunked.  block 0 sends every piece as it comes;
 * otherwise pieces are gathered and sent block bytes at a time. */
typedef struct {
  int socket;
  int chunked;
  uint32_t skip;
  uint64_t budget;
  uint32_t block;
  uint32_t fill;
  uint8_t buf[MSF_LPCM_CHUNK_HEAD + MSF_LPCM_PIECE_MAX + 2];
} msf_lpcm_out;

void msf_lpcm_out_init(msf_lpcm_out *o, int socket, int chunked, uint32_t skip, uint64_t budget,
                       uint32_t block);
/* Takes len bytes of big-endian samples; 0 when a send failed. */
int msf_lpcm_out_put(msf_lpcm_out *o, const void *data, uint32_t len);
/* Sends what is gathered, zeros for the rest of the budget in pieces of
 * the block (MSF_LPCM_ZERO_PIECE when 0), then the final chunk. */
int msf_lpcm_out_finish(msf_lpcm_out *o);

/* --- serving --- */

/* What a decoder is asked for: the file from start_ms, at rate and
 * channels, into out (whose skip and budget are set). */
typedef struct {
  const char *path;
  const char *mime;          /* of the source item's resource */
  uint32_t rate, channels;
  uint32_t duration_ms;
  uint32_t start_ms;
} msf_lpcm_job;

typedef struct {
  /* The status line of a refusal before anything else is looked at, or
   * NULL; may be NULL itself. */
  const char *(*precheck)(const char *path);
  /* 1 when the whole budget went out (zero-filled) with the final chunk. */
  int (*decode)(const msf_lpcm_job *job, msf_lpcm_out *out);
  uint32_t block;            /* of the body writer */
} msf_lpcm_decoder;

/* tarvo_msf_http_get of an LPCM plug-in: the keep-alive flag of the
 * request after a whole answer, 0 after any failure. */
int msf_lpcm_serve(plugin_http_get_request *request, const msf_lpcm_decoder *decoder);

#ifdef __cplusplus
}
#endif
#endif
