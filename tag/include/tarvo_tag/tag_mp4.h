/* The reader of MP4 and 3GPP files (the ISO base media file format): the
 * box walk and what it gathers, the reader that turns it into item
 * properties, and the AAC configuration decoder.  Used inside the library
 * and by its tests. */
#ifndef TARVO_TAG_MP4_H
#define TARVO_TAG_MP4_H

#include <stdint.h>
#include <tarvo_tag/tag_reader.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Codec kinds of a sample entry.  MP4_CODEC_OTHER is an entry of a sound
 * or video track whose type is none of the listed ones (HEVC, AC-3, ALAC,
 * Opus...): its channels and rate, or its size, come from the generic
 * entry fields, and it carries no bit rate. */
enum {
  MP4_CODEC_NONE = 0,
  MP4_CODEC_AAC = 1,      /* "mp4a" */
  MP4_CODEC_AMR = 2,      /* "samr", "sawb" */
  MP4_CODEC_AMR_WBP = 3,  /* "sawp" */
  MP4_CODEC_MP4V = 4,     /* "mp4v" */
  MP4_CODEC_H263 = 5,     /* "s263" */
  MP4_CODEC_AVC = 6,      /* "avc1", "avcp" */
  MP4_CODEC_OTHER = 7
};

/* What the walk gathers.  Zero-filled by mp4_parse; the texts are heap
 * strings or NULL, freed by mp4_info_free. */
typedef struct {
  uint64_t duration_ms; /* 0 when unknown */
  uint32_t audio_bitrate; /* bits per second */
  uint32_t audio_channels;
  uint32_t audio_sample_rate;
  uint32_t video_codec; /* non-zero when a video track was chosen */
  uint16_t video_width;
  uint16_t video_height;
  uint32_t video_bitrate; /* average, bits per second */
  char *title;
  char *artist;
  char *composer;
  char *comment;
  char *album;
  char *genre;
  char *rights;
  uint32_t track; /* 0 when absent */
} mp4_info;

/* Walks the file from offset 0: 1 when it is an acceptable MP4 or 3GPP
 * file with an enabled audio or video track, else 0 with nothing left to
 * free.  The file position is left anywhere. */
int mp4_parse(mp4_info *info, int file, const sys_file_stat_rec *st);
void mp4_info_free(mp4_info *info);

/* The MP4 and 3GPP reader (see tag_reader).  An item without a video
 * track becomes audio/mp4, or audio/3gpp when the given subtype is 3gpp. */
int mp4_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
             sys_ptralloc_rec *values);

/* An AAC AudioSpecificConfig. */
typedef struct {
  uint32_t object_type; /* after an SBR extension, the core's */
  uint32_t sample_rate; /* Hz; an explicit SBR rate replaces the core's */
  uint32_t channels;    /* from the channel configuration, else the program config */
} mp4_audio_config;

/* Decodes len bytes; 0 when they end before the fields do. */
int mp4_audio_specific_config(const unsigned char *data, uint32_t len, mp4_audio_config *out);

#ifdef __cplusplus
}
#endif
#endif
