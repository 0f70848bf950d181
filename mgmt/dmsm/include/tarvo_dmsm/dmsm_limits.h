/* Limits of the management-port client. */
#ifndef TARVO_DMSM_LIMITS_H
#define TARVO_DMSM_LIMITS_H

/* Bytes of a request URL with its NUL: the longest,
 * "http://127.0.0.1:65535/set_auto_run_state", has 41 characters. */
#define DMSM_URL_MAX 100u

#endif
