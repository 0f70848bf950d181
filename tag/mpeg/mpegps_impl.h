/* The program-stream reader's record, the container probe that tells
 * program streams from transport streams, and the file reading both
 * share.  Used inside the library only. */
#ifndef TARVO_TAG_MPEGPS_IMPL_H
#define TARVO_TAG_MPEGPS_IMPL_H

#include <stdint.h>
#include <tarvo_tag/mpeg_pes.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>

#include "mpegts_impl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Container kinds of mpeg_container_probe besides the two of the
 * transport-stream reader; 0 is none. */
#define MPEGPS_KIND_MPEG1 1u
#define MPEGPS_KIND_MPEG2 2u

/* Audio slot kinds. */
#define MPEGPS_AUDIO_MPEG 1u
#define MPEGPS_AUDIO_AC3 2u
#define MPEGPS_AUDIO_LPCM 3u

/* Streams of each kind recorded; further ones are read past. */
#define MPEGPS_SLOT_COUNT 5

typedef struct {
  uint8_t stream_id;
  uint16_t width;
  uint16_t height;
  uint8_t aspect_ratio_information;
  uint32_t frame_rate; /* frames per second x 1000; 0 unknown */
  uint32_t bit_rate;   /* bit/s; 0 for the variable-rate value */
} mpegps_video_slot;

typedef struct {
  uint8_t stream_id; /* the substream id of private stream 1 */
  uint32_t kind;     /* MPEGPS_AUDIO_* */
  uint32_t layer;    /* 1 to 3 for MPEG audio */
  uint32_t bit_rate;
  uint32_t sample_rate;
  uint32_t channels; /* 0 unknown */
} mpegps_audio_slot;

/* What the scan learns; zero-filled by its owner. */
typedef struct {
  uint32_t system_kind;    /* MPEGPS_KIND_* */
  uint32_t total_bit_rate; /* bit/s */
  mpegps_video_slot video[MPEGPS_SLOT_COUNT];
  mpegps_audio_slot audio[MPEGPS_SLOT_COUNT];
  uint32_t video_count;
  uint32_t audio_count;
  uint32_t duration;      /* ms */
  uint32_t pack_rate;     /* program_mux_rate of the first MPEG-1 pack, 50 bytes/s */
  uint32_t pack_size;     /* bytes from the first pack start code's end to the second's */
  uint32_t variable_rate; /* 1 when the last system header read had fixed_flag 0 */
} mpegps_info;

/* *kind: 3 or 4 for a transport stream of 188- or 192-byte packets, 1 or 2
 * for an MPEG-1 or MPEG-2 program stream, 0 for neither.  0 only when the
 * file cannot be read. */
int mpeg_container_probe(int file, const sys_file_stat_rec *st, uint32_t *kind);
/* The head and tail scan of a program stream; quick leaves the duration
 * out.  0 without a pack header, a video stream or its PTS. */
int mpegps_reader(mpegps_info *info, int file, const sys_file_stat_rec *st, int quick);
/* The parameters' profile part, "DLNA.ORG_PN=...;", or "". */
const char *mpegps_profile(const mpegps_info *info);

#ifdef __cplusplus
}

#include <tarvo_tag/tag_limits.h>

namespace mpegps {

// A file read forward through one buffer, its logical position kept beside
// it.  A read error sets failed; the end of the file alone does not.
struct stream {
  int fd;
  sys_filebuffer_rec fb;
  uint64_t pos = 0;
  bool failed = false;
  char buf[TAG_MPEG_BUFFER_SIZE];

  explicit stream(int f) : fd(f) { sys_filebuffer_init(&fb, fd, buf, sizeof buf); }
  stream(const stream &) = delete;
  stream &operator=(const stream &) = delete;

  // The file position moved to off exactly, the buffer started afresh.
  bool seek(uint64_t off);
  // n bytes into dst; false at the end of the data or on an error.
  bool fill(void *dst, uint32_t n);
  bool skip(uint64_t n);
};

// The next start code 00 00 01 xx with at most limit bytes slid over before
// it (0: no limit); *code is xx and the position is after it.
bool mpeg_start_code_find(stream &s, uint64_t limit, uint8_t *code);

// Stream-id classes.
inline bool is_video_id(uint32_t id) { return id >= 0xE0 && id <= 0xEF; }
inline bool is_mpeg_audio_id(uint32_t id) { return id >= 0xC0 && id <= 0xDF; }
constexpr uint8_t PACK_START = 0xBA;
constexpr uint8_t SYSTEM_HEADER = 0xBB;
constexpr uint8_t PRIVATE_STREAM_1 = 0xBD;

}  // namespace mpegps
#endif

#endif
