/* The decoding side of the MP4 LPCM plug-in on the movie toolbox stand-in,
 * which it loads at first use: for the plug-in's entry points and the
 * benchmark. */
#ifndef CORDA_LPCM_MP4_CORDA_LPCM_MP4_H
#define CORDA_LPCM_MP4_CORDA_LPCM_MP4_H

#include <corda_common/msf_lpcm.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The toolbox is loaded, started and at least the required version. */
int lpcm_qt_ready(void);
/* Leaves the toolbox when this plug-in started it. */
void lpcm_qt_stop(void);
/* 1 when the toolbox opens the file as a movie. */
int lpcm_qt_movie_check(const char *path);
/* The job's file into out (skip and budget set); 1 when the whole budget
 * and the final chunk went out. */
int lpcm_qt_decode(const msf_lpcm_job *job, msf_lpcm_out *out);

#ifdef __cplusplus
}
#endif
#endif
