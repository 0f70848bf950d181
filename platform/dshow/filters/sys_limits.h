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

/* The WM ASF Reader: audio streams given a pin, the least room in each of
 * its samples, the demuxer's read buffer, and how far before a seek's
 * position reading starts (100 ns units) so that the decoder has warmed up. */
#define SYS_ASF_MAX_PINS 8
#define SYS_ASF_SAMPLE_BYTES 65536
#define SYS_ASF_IO_BYTES 32768
#define SYS_ASF_SEEK_LEAD 2000000
/* Objects of an ASF header looked at for content protection. */
#define SYS_ASF_MAX_HEADER_OBJECTS 1024

#endif
