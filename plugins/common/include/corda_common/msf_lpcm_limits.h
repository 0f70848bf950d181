/* Limits of the LPCM plug-ins, in one place. */
#ifndef CORDA_COMMON_MSF_LPCM_LIMITS_H
#define CORDA_COMMON_MSF_LPCM_LIMITS_H

#define MSF_LPCM_BLOCK 8000u        /* bytes per chunk of a graph's body */
#define MSF_LPCM_ZERO_PIECE 4096u   /* zero fill of the decoders that send as they read */
#define MSF_LPCM_PIECE_MAX 16384u   /* largest piece a decoder hands over at once (4096 stereo frames) */
#define MSF_LPCM_CHUNK_HEAD 10u     /* room for a chunk's hexadecimal length and CR LF */
#define MSF_LPCM_RATE_CD 44100u
#define MSF_LPCM_RATE_DAT 48000u
#define MSF_LPCM_VORBIS_CHANNELS_MAX 8  /* Vorbis orders the channels of up to 8; a link of more plays as silence */
#define MSF_LPCM_VORBIS_READ_FRAMES 1024 /* asked of vorbisfile at once: 8 channels of 16 bits fill a largest piece */

#endif
