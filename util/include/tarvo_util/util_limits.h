/* Limits of the foundation library: sizes, counts and timeouts, in one
 * place.  Each area keeps its own block. */
#ifndef TARVO_UTIL_LIMITS_H
#define TARVO_UTIL_LIMITS_H

/* --- arrays and strings --- */


/* --- threads and time --- */


/* --- files, processes and log --- */


/* --- charsets and ARIB text --- */


/* --- sockets --- */


/* --- HTTP messages, server answers and client --- */


/* --- URIs and DLNA values --- */


/* --- XML, SOAP and UPnP descriptions --- */
/* expat takes an int length: longer input is fed in pieces of this size. */
#define XML_PARSE_PIECE_MAX (1u << 30)
/* Room reserved up front for a written device description. */
#define UPNP_DESC_XML_RESERVE 3000u
/* A SOAP answer body larger than this is a transport failure. */
#define SOAP_BODY_MAX (64u * 1024u * 1024u)
/* The parallel client: default timeout and the longest single wait. */
#define PARALLEL_SOAP_TIMEOUT_MS 30000
#define PARALLEL_SOAP_WAIT_SLICE_MS 300

/* --- digests and UUIDs --- */


#endif
