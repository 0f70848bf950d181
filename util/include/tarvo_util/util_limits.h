/* Limits of the foundation library: sizes, counts and timeouts, in one
 * place.  Each area keeps its own block. */
#ifndef TARVO_UTIL_LIMITS_H
#define TARVO_UTIL_LIMITS_H

/* --- arrays and strings --- */


/* --- threads and time --- */
/* Calendar years that convert to and from seconds. */
#define SYS_CALTIME_YEAR_MIN 1601
#define SYS_CALTIME_YEAR_MAX 30827


/* --- files, processes and log --- */


/* --- charsets and ARIB text --- */


/* --- sockets --- */


/* --- HTTP messages, server answers and client --- */


/* --- URIs and DLNA values --- */


/* --- XML, SOAP and UPnP descriptions --- */


/* --- digests and UUIDs --- */


#endif
