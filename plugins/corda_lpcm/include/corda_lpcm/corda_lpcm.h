/* The decoding side of the LPCM plug-in, for the plug-in's entry points and
 * for the tests, benchmark and fuzz targets that drive it directly:
 * WMA, MP3 and WAV through filter graphs, Ogg Vorbis through vorbisfile. */
#ifndef CORDA_LPCM_CORDA_LPCM_H
#define CORDA_LPCM_CORDA_LPCM_H

#include <corda_common/msf_lpcm.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the file decodes: a graph for WMA, MP3 and WAV that builds and
 * connects (the MIME subtype chooses it), or an Ogg Vorbis file of 44100
 * or 48000 Hz with 1 or 2 channels. */
int lpcm_decodable(const char *path, const char *mime);

/* The job's file into out, the decoder chosen by the file's extension
 * ("mp3", "wma", "wav" in any case: a graph; others: Ogg Vorbis).  1 when
 * the whole budget and the final chunk went out. */
int lpcm_decode(const msf_lpcm_job *job, msf_lpcm_out *out);

/* The Ogg Vorbis half on an open file (a sys_file handle at any offset;
 * not closed here). */
int lpcm_vorbis_decodable_fd(int file);
int lpcm_vorbis_stream_fd(int file, const msf_lpcm_job *job, msf_lpcm_out *out);

#ifdef __cplusplus
}
#endif
#endif
