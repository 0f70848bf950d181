/* Limits of the sidecar-title plug-in, in one place. */
#ifndef CORDA_DIDL_LIMITS_H
#define CORDA_DIDL_LIMITS_H

/* A sidecar is read whole under the content-database lock, and what it
 * adds must fit the 50000-byte rewrite buffer anyway. */
#define CORDA_DIDL_SIDECAR_MAX (1u << 20)
#define CORDA_DIDL_READ_TRIES 10u        /* reads of a sidecar while it is being copied into place */
#define CORDA_DIDL_RETRY_PAUSE_MS 1000u  /* between two of them */

#endif
