/* Bounds of the system filters. */
#ifndef TARVO_DSHOW_SYS_LIMITS_H
#define TARVO_DSHOW_SYS_LIMITS_H

/* Formats a decoder is given at all. */
#define SYS_WAVE_MAX_CHANNELS 8
#define SYS_WAVE_MAX_RATE 384000
/* The largest format chunk read from a file; a larger one is refused. */
#define SYS_WAVE_MAX_FORMAT_BYTES 4096
/* Chunks walked before the format and data chunks must have been seen. */
#define SYS_WAVE_MAX_CHUNKS 1024
/* About this much audio in each sample the WAVE parser delivers. */
#define SYS_WAVE_SAMPLE_MS 100

#endif
