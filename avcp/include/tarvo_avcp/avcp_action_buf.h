/* Browse and Search answers read into the caller's buffer and parsed there
 * in place: on success the buffer begins with the decoded Result text
 * (DIDL-Lite) and its NUL, and the numbers are stored through the
 * pointers that are not NULL.  Nothing is allocated for the answer. */
#ifndef TARVO_AVCP_ACTION_BUF_H
#define TARVO_AVCP_ACTION_BUF_H

#include <stdint.h>
#include <tarvo_util/http_client.h>

#ifdef __cplusplus
extern "C" {
#endif

/* buf holds the NUL-terminated response body; nothing is written at or
 * past size.  1/0; after a failure the buffer's content is undefined and no
 * number is stored. */
int avcp_cds_parse_browse_direct_children_response_buf(char *buf, uint32_t size, uint32_t *number_returned,
                                                       uint32_t *total_matches, uint32_t *update_id);
int avcp_cds_parse_search_response_buf(char *buf, uint32_t size, uint32_t *number_returned,
                                       uint32_t *total_matches, uint32_t *update_id);

/* The senders, for this library's device-addressed layer: 0, the fault's
 * errorCode, or 501.  The metadata form does not demand that
 * NumberReturned and TotalMatches read 1. */
uint32_t avcp_cds_browse_metadata_buf2(http_client *client, char *buf, uint32_t size, const char *object_id,
                                       const char *filter, uint32_t *update_id);
uint32_t avcp_cds_browse_direct_children_buf2(http_client *client, char *buf, uint32_t size,
                                              const char *object_id, const char *filter, uint32_t starting_index,
                                              uint32_t requested_count, const char *sort_criteria,
                                              uint32_t *number_returned, uint32_t *total_matches,
                                              uint32_t *update_id);
uint32_t avcp_cds_search_buf2(http_client *client, char *buf, uint32_t size, const char *container_id,
                              const char *search_criteria, const char *filter, uint32_t starting_index,
                              uint32_t requested_count, const char *sort_criteria, uint32_t *number_returned,
                              uint32_t *total_matches, uint32_t *update_id);

#ifdef __cplusplus
}
#endif
#endif
