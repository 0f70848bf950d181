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
  uint16_t block_align;
  uint16_t samples_per_block; /* of an ADPCM format (2, 17); 0 for others */
  uint32_t fact_samples;    /* the "fact" chunk's sample count; 0 without one */
} wav_info;

/* The play time of the file in ms: from the "fact" sample count of a
 * compressed format, else from the data size and the format's byte rate;
 * 0 when neither gives one. */
uint64_t wav_info_duration_ms(const wav_info *info);

/* Reads the "fmt " and "data" chunks of a RIFF WAVE file, in either order,
 * and a "fact" chunk before the data,
 * from file (a sys_file handle at offset 0) into info, which it clears
 * first.  On return the position is past the last chunk read.  0 for a
 * file that is not a WAVE file or ends before both chunks; info may then be
 * partly filled. */
int wav_info_parse(wav_info *info, int file);

#ifdef __cplusplus
}
#endif
#endif
