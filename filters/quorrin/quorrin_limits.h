/* Bounds of the MP3 parser. */
#ifndef TARVO_QUORRIN_LIMITS_H
#define TARVO_QUORRIN_LIMITS_H

/* Bytes read at the start of the stream, and the window scanned for three
 * consecutive frames behind the wrappers and tags. */
#define QUORRIN_SCAN_BYTES 65536

/* Unsynchronised bytes that delivery passes over before it gives up. */
#define QUORRIN_MAX_UNSYNCED 65536

/* The longest "fmt " chunk a RIFF wrapper may carry, and the least that is
 * handed out (a WAVEFORMATEX). */
#define QUORRIN_RIFF_FMT_MIN 16
#define QUORRIN_RIFF_FMT_MAX 40
#define QUORRIN_WAVEFORMATEX_BYTES 18

/* Bytes of a trailing ID3v1 tag. */
#define QUORRIN_ID3V1_BYTES 128

#endif
