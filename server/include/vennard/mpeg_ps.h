/* MPEG-2 program streams: PES helpers and the time seek that turns a
 * requested play-time range into a byte range of the file. */
#ifndef VENNARD_MPEG_PS_H
#define VENNARD_MPEG_PS_H

#include <stdint.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_file.h>

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

/* Finds the byte range of the file that covers the play times of *times
 * (start < total, start < end <= total).  range->size and the corrected
 * start and end times are set; the file position is 0 again on success.
 * bitrate is the resource's rate in bytes per second.  0 when the file has
 * no video PTS or the start cannot be found. */
int mpeg_ps_time_seek(http_server_range_rec *range, http_server_npt_rec *times, uint32_t bitrate,
                      int file, const sys_file_stat_rec *st);

#ifdef __cplusplus
}
#endif
#endif
