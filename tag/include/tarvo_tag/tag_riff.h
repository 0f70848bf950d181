/* The WAV format record of the metadata library, for callers that need a
 * WAV file's sample format (the transcoding plug-ins) as well as for its
 * reader. */
#ifndef TARVO_TAG_RIFF_H
#define TARVO_TAG_RIFF_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  uint16_t format_tag;      /* wFormatTag; 0xFFFE for WAVE_FORMAT_EXTENSIBLE */
  uint16_t channels;
  uint16_t bits_per_sample; /* the valid bits of an extensible format; 0 when fmt has none */
  uint32_t sample_rate;
  uint32_t bytes_per_second;
  uint32_t data_size;       /* bytes of the data chunk that the file holds */
} wav_info;

/* Reads the "fmt " and "data" chunks of a RIFF WAVE file, in either order,
 * from file (a sys_file handle at offset 0) into info, which it clears
 * first.  On return the position is past the last chunk read.  0 for a
 * file that is not a WAVE file or ends before both chunks; info may then be
 * partly filled. */
int wav_info_parse(wav_info *info, int file);

#ifdef __cplusplus
}
#endif
#endif
