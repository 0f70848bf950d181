/* Limits of the metadata library, in one place.  Each area keeps its own
 * block. */
#ifndef TARVO_TAG_LIMITS_H
#define TARVO_TAG_LIMITS_H

/* --- core --- */
/* Opens tried before a file counts as unreadable, and the pause after each
 * failed one: a file still being written gets about ten seconds. */
#define TAG_PROPERTY_RETRY_COUNT 10
#define TAG_OPEN_RETRY_PAUSE_MS 1000u

/* --- RIFF (WAV, AVI) and Ogg --- */
/* Bytes a WAV or AVI reader reads at most: the headers of a real file take a
 * few hundred, so a file of endless tiny chunks or streams stops here. */
#define TAG_RIFF_READ_MAX 65536u
/* Bytes vorbisfile may read through the reader: the headers, the pages it
 * needs at the end for the total time, and room for long comments. */
#define TAG_OGG_READ_MAX 262144u

#endif
