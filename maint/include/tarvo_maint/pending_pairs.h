/* The pending-rename list (REG_MULTI_SZ, UTF-16LE): pairs of a source and
 * a destination name, each ended by a NUL, the list by an empty source. */
#ifndef TARVO_MAINT_PENDING_PAIRS_H
#define TARVO_MAINT_PENDING_PAIRS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes of the list that ulvane reads. */
#define PENDING_PAIRS_READ_MAX 8192u

/* 1 when name (n UTF-16 units) holds path (m units) followed by "/" or the
 * end of the name; a prefix before the path ("\??\", "!") still matches. */
int pending_name_matches(const uint16_t *name, uint32_t n, const uint16_t *path, uint32_t m);

/* Copies to out the pairs of in (size bytes; an unterminated last name
 * ends at the end of the data) in which neither name matches one of the
 * path_count paths (NUL-terminated UTF-16), then the final NUL.  out holds
 * at least size + 8 bytes (names without their NUL get one).  Returns the number of pairs kept; *out_size the
 * bytes written, *dropped the pairs left out. */
uint32_t pending_pairs_filter(const uint8_t *in, uint32_t size, const uint16_t *const *paths, uint32_t path_count,
                              uint8_t *out, uint32_t *out_size, uint32_t *dropped);

#ifdef __cplusplus
}
#endif
#endif
