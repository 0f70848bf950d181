/* Limits of the metadata library, in one place.  Each area keeps its own
 * block. */
#ifndef TARVO_TAG_LIMITS_H
#define TARVO_TAG_LIMITS_H

/* --- core --- */
/* Opens tried before a file counts as unreadable, and the pause after each
 * failed one: a file still being written gets about ten seconds. */
#define TAG_PROPERTY_RETRY_COUNT 10
#define TAG_OPEN_RETRY_PAUSE_MS 1000u

#endif
