/* For the AV control point library only: the shared HTTP client (use it
 * between tarvo_cp_impl_hc_lock and _unlock) and the parallel SOAP client
 * of a control point, whose context stays private. */
#ifndef TARVO_CP_TARVO_CP_IMPL_H
#define TARVO_CP_TARVO_CP_IMPL_H

#include <tarvo_cp/tarvo_cp.h>
#include <tarvo_util/soap.h>

#ifdef __cplusplus
extern "C" {
#endif

http_client *tarvo_cp_impl_http_client(tarvo_cp_ctx *ctx);
parallel_soap_client_rec *tarvo_cp_impl_parallel_soap_client(tarvo_cp_ctx *ctx);

#ifdef __cplusplus
}
#endif
#endif
