/* Limits shared by the plug-ins, in one place. */
#ifndef CORDA_COMMON_MSF_LIMITS_H
#define CORDA_COMMON_MSF_LIMITS_H

#define MSF_OUT_BUFFER 8192u           /* the answer's socket buffer */
#define MSF_OUT_TIMEOUT_MS 10000u      /* longest wait for the client to take the answer */
#define MSF_READER_FAIL_PAUSE_MS 1000u /* pause after a refused request, before the connection closes */

#endif
