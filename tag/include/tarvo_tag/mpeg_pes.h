/* PES packet helpers of MPEG program streams, one body for the metadata
 * reader and the media server's time seek. */
#ifndef TARVO_TAG_MPEG_PES_H
#define TARVO_TAG_MPEG_PES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A PES header without a PTS gives this value. */
#define MPEG_PTS_NONE UINT64_MAX

/* 1 for the stream ids that begin PES packets: 0xBC-0xFF. */
int mpeg_is_pes_stream_id(uint32_t id);

/* Reads the PTS of a PES header from data, the bytes after the packet
 * length; *pts is MPEG_PTS_NONE when the header has none.  1 when a
 * header was recognised, 0 when the data ends first. */
int mpeg_pes_header_pts(const unsigned char *data, uint32_t len, uint64_t *pts);

/* The 33-bit time stamp packed in 5 bytes. */
uint64_t mpeg_pts_unpack(const unsigned char *b);

#ifdef __cplusplus
}
#endif
#endif
