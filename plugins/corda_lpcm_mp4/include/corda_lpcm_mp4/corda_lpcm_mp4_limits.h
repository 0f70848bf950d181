/* Limits of the MP4 LPCM plug-in. */
#ifndef CORDA_LPCM_MP4_LIMITS_H
#define CORDA_LPCM_MP4_LIMITS_H

#define LPCM_QT_MIN_VERSION 0x07028000  /* the first toolbox release whose extraction the plug-in uses */
#define LPCM_QT_FRAMES 4096u            /* frames asked for per fill */
#define LPCM_QT_PATH_MAX 255u           /* a file reference holds at most 255 path bytes */
#define LPCM_QT_LIBRARY "libtarvo_qt.so"

#endif
