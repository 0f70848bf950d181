/* MPEG-2 program streams: the time seek that turns a requested play-time
 * range into a byte range of the file (the PES helpers are the metadata
 * library's, tarvo_tag/mpeg_pes.h). */
#ifndef VENNARD_MPEG_PS_H
#define VENNARD_MPEG_PS_H

#include <stdint.h>
#include <tarvo_tag/mpeg_pes.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_file.h>

#ifdef __cplusplus
extern "C" {
#endif

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
