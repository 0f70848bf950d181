/* The UPnP AV actions of ContentDirectory (with the vendor share actions),
 * AVTransport, ConnectionManager and RenderingControl: for each action a
 * request builder, a response parser (actions with OUT arguments), a call
 * on the caller's HTTP client and a one-call form on a control URL.
 *
 * For service s and action a:
 *   int avcp_<s>_make_<a>_request(IN..., char **body)
 *       1 with a new body (sys_alloc_free), or 0 with *body untouched;
 *   int avcp_<s>_parse_<a>_response(char **names, char **values, OUT...)
 *       1/0 on the response argument lists; OUT pointers may be NULL (the
 *       argument must still be present);
 *   uint32_t avcp_<s>_<a>2(http_client *client, IN..., OUT...)
 *       on a client whose URL is the service's control URL;
 *   uint32_t avcp_<s>_<a>(const char *control_url, IN..., OUT...)
 *       on a client of its own.
 * The calls return 0, the errorCode of the peer's SOAP fault unchanged, or
 * 501 for every local, transport or parse failure.  Strings handed out
 * through char** are freed with sys_alloc_free, lists through char*** with
 * sys_str_list_free.  A failed parse frees what it had handed out and sets
 * those pointers to NULL. */
#ifndef TARVO_AVCP_ACTION_H
#define TARVO_AVCP_ACTION_H

#include <stdint.h>
#include <tarvo_util/http_client.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

const char *avcp_type_msd(void);
const char *avcp_type_mrd(void);
const char *avcp_type_cds(void);
const char *avcp_type_cms(void);
const char *avcp_type_avts(void);
const char *avcp_type_rcs(void);

/* The action tables.  A row of an _OUT table is
 *   X(service, action, (IN parameters), (IN names), (OUT parameters), (OUT names))
 * and a row of a _NONE table (no OUT arguments) X(service, action, (IN
 * parameters), (IN names)).  Parameters are in the order of the action. */

#define AVCP_CDS_ACTIONS_OUT(X)                                                                              \
  X(cds, get_search_capabilities, (), (), (char **search_caps), (search_caps))                                \
  X(cds, get_sort_capabilities, (), (), (char **sort_caps), (sort_caps))                                      \
  X(cds, get_system_update_id, (), (), (uint32_t *id), (id))                                                  \
  X(cds, browse_metadata, (const char *object_id, const char *filter), (object_id, filter),                   \
    (char **result, uint32_t *update_id), (result, update_id))                                                \
  X(cds, browse_direct_children,                                                                              \
    (const char *object_id, const char *filter, uint32_t starting_index, uint32_t requested_count,            \
     const char *sort_criteria),                                                                              \
    (object_id, filter, starting_index, requested_count, sort_criteria),                                      \
    (char **result, uint32_t *number_returned, uint32_t *total_matches, uint32_t *update_id),                 \
    (result, number_returned, total_matches, update_id))                                                      \
  X(cds, search,                                                                                              \
    (const char *container_id, const char *search_criteria, const char *filter, uint32_t starting_index,      \
     uint32_t requested_count, const char *sort_criteria),                                                    \
    (container_id, search_criteria, filter, starting_index, requested_count, sort_criteria),                  \
    (char **result, uint32_t *number_returned, uint32_t *total_matches, uint32_t *update_id),                 \
    (result, number_returned, total_matches, update_id))                                                      \
  X(cds, create_object, (const char *container_id, const char *elements), (container_id, elements),           \
    (char **object_id, char **result), (object_id, result))                                                   \
  X(cds, import_resource, (const char *source_uri, const char *destination_uri),                              \
    (source_uri, destination_uri), (uint32_t *transfer_id), (transfer_id))                                    \
  X(cds, export_resource, (const char *source_uri, const char *destination_uri),                              \
    (source_uri, destination_uri), (uint32_t *transfer_id), (transfer_id))                                    \
  X(cds, get_transfer_progress, (uint32_t transfer_id), (transfer_id),                                        \
    (char **transfer_status, uint64_t *transfer_length, uint64_t *transfer_total),                            \
    (transfer_status, transfer_length, transfer_total))                                                       \
  X(cds, create_reference, (const char *container_id, const char *object_id), (container_id, object_id),      \
    (char **new_id), (new_id))                                                                                \
  X(cds, share_list, (), (), (char ***path_list), (path_list))                                                \
  X(cds, share_state, (const char *path), (path), (int *state), (state))

#define AVCP_CDS_ACTIONS_NONE(X)                                                                             \
  X(cds, destroy_object, (const char *object_id), (object_id))                                                \
  X(cds, update_object, (const char *object_id, const char *current_tag_value, const char *new_tag_value),    \
    (object_id, current_tag_value, new_tag_value))                                                            \
  X(cds, stop_transfer_resource, (uint32_t transfer_id), (transfer_id))                                       \
  X(cds, delete_resource, (const char *resource_uri), (resource_uri))                                         \
  X(cds, share, (const char *path), (path))                                                                   \
  X(cds, unshare, (const char *path), (path))

#define AVCP_AVTS_ACTIONS_OUT(X)                                                                             \
  X(avts, get_media_info, (uint32_t instance_id), (instance_id),                                              \
    (uint32_t *nr_tracks, char **media_duration, char **current_uri, char **current_uri_metadata,             \
     char **next_uri, char **next_uri_metadata, char **play_medium, char **record_medium,                     \
     char **write_status),                                                                                    \
    (nr_tracks, media_duration, current_uri, current_uri_metadata, next_uri, next_uri_metadata, play_medium,  \
     record_medium, write_status))                                                                            \
  X(avts, get_transport_info, (uint32_t instance_id), (instance_id),                                          \
    (char **current_transport_state, char **current_transport_status, char **current_speed),                  \
    (current_transport_state, current_transport_status, current_speed))                                       \
  X(avts, get_position_info, (uint32_t instance_id), (instance_id),                                           \
    (uint32_t *track, char **track_duration, char **track_metadata, char **track_uri, char **rel_time,        \
     char **abs_time, int32_t *rel_count, int32_t *abs_count),                                                \
    (track, track_duration, track_metadata, track_uri, rel_time, abs_time, rel_count, abs_count))             \
  X(avts, get_device_capabilities, (uint32_t instance_id), (instance_id),                                     \
    (char **play_media, char **rec_media, char **rec_quality_modes), (play_media, rec_media, rec_quality_modes)) \
  X(avts, get_transport_settings, (uint32_t instance_id), (instance_id),                                      \
    (char **play_mode, char **rec_quality_mode), (play_mode, rec_quality_mode))                               \
  X(avts, get_current_transport_actions, (uint32_t instance_id), (instance_id), (char **actions), (actions))

#define AVCP_AVTS_ACTIONS_NONE(X)                                                                            \
  X(avts, set_av_transport_uri, (uint32_t instance_id, const char *current_uri, const char *current_uri_metadata), \
    (instance_id, current_uri, current_uri_metadata))                                                         \
  X(avts, set_next_av_transport_uri, (uint32_t instance_id, const char *next_uri, const char *next_uri_metadata), \
    (instance_id, next_uri, next_uri_metadata))                                                               \
  X(avts, stop, (uint32_t instance_id), (instance_id))                                                        \
  X(avts, play, (uint32_t instance_id, const char *speed), (instance_id, speed))                              \
  X(avts, pause, (uint32_t instance_id), (instance_id))                                                       \
  X(avts, record, (uint32_t instance_id), (instance_id))                                                      \
  X(avts, seek, (uint32_t instance_id, const char *unit, const char *target), (instance_id, unit, target))    \
  X(avts, next, (uint32_t instance_id), (instance_id))                                                        \
  X(avts, previous, (uint32_t instance_id), (instance_id))                                                    \
  X(avts, set_play_mode, (uint32_t instance_id, const char *new_play_mode), (instance_id, new_play_mode))     \
  X(avts, set_record_quality_mode, (uint32_t instance_id, const char *new_record_quality_mode),               \
    (instance_id, new_record_quality_mode))

#define AVCP_CMS_ACTIONS_OUT(X)                                                                              \
  X(cms, get_protocol_info, (), (), (char **source, char **sink), (source, sink))                             \
  X(cms, prepare_for_connection,                                                                              \
    (const char *remote_protocol_info, const char *peer_connection_manager, int32_t peer_connection_id,       \
     const char *direction),                                                                                  \
    (remote_protocol_info, peer_connection_manager, peer_connection_id, direction),                           \
    (int32_t *connection_id, int32_t *av_transport_id, int32_t *rcs_id),                                      \
    (connection_id, av_transport_id, rcs_id))                                                                 \
  X(cms, get_current_connection_ids, (), (), (char **connection_ids), (connection_ids))                       \
  X(cms, get_current_connection_info, (int32_t connection_id), (connection_id),                               \
    (int32_t *rcs_id, int32_t *av_transport_id, char **protocol_info, char **peer_connection_manager,         \
     int32_t *peer_connection_id, char **direction, char **status),                                           \
    (rcs_id, av_transport_id, protocol_info, peer_connection_manager, peer_connection_id, direction, status))

#define AVCP_CMS_ACTIONS_NONE(X) X(cms, connection_complete, (int32_t connection_id), (connection_id))

#define AVCP_RCS_ACTIONS_OUT(X)                                                                              \
  X(rcs, list_presets, (uint32_t instance_id), (instance_id), (char **current_preset_name_list),             \
    (current_preset_name_list))                                                                               \
  X(rcs, get_brightness, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))               \
  X(rcs, get_contrast, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))                 \
  X(rcs, get_sharpness, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))                \
  X(rcs, get_red_video_gain, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))           \
  X(rcs, get_green_video_gain, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))         \
  X(rcs, get_blue_video_gain, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))          \
  X(rcs, get_red_video_black_level, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))    \
  X(rcs, get_green_video_black_level, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))  \
  X(rcs, get_blue_video_black_level, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))   \
  X(rcs, get_color_temperature, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))        \
  X(rcs, get_horizontal_keystone, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))      \
  X(rcs, get_vertical_keystone, (uint32_t instance_id), (instance_id), (uint16_t *current), (current))        \
  X(rcs, get_mute, (uint32_t instance_id, const char *channel), (instance_id, channel), (int *current_mute),  \
    (current_mute))                                                                                           \
  X(rcs, get_volume, (uint32_t instance_id, const char *channel), (instance_id, channel),                     \
    (uint16_t *current_volume), (current_volume))                                                             \
  X(rcs, get_volume_db, (uint32_t instance_id, const char *channel), (instance_id, channel),                  \
    (int16_t *current_volume), (current_volume))                                                              \
  X(rcs, get_volume_db_range, (uint32_t instance_id, const char *channel), (instance_id, channel),            \
    (int16_t *min_value, int16_t *max_value), (min_value, max_value))                                         \
  X(rcs, get_loudness, (uint32_t instance_id, const char *channel), (instance_id, channel),                   \
    (int *current_loudness), (current_loudness))

#define AVCP_RCS_ACTIONS_NONE(X)                                                                             \
  X(rcs, select_preset, (uint32_t instance_id, const char *preset_name), (instance_id, preset_name))          \
  X(rcs, set_brightness, (uint32_t instance_id, uint16_t desired), (instance_id, desired))                    \
  X(rcs, set_contrast, (uint32_t instance_id, uint16_t desired), (instance_id, desired))                      \
  X(rcs, set_sharpness, (uint32_t instance_id, uint16_t desired), (instance_id, desired))                     \
  X(rcs, set_red_video_gain, (uint32_t instance_id, uint16_t desired), (instance_id, desired))                \
  X(rcs, set_green_video_gain, (uint32_t instance_id, uint16_t desired), (instance_id, desired))              \
  X(rcs, set_blue_video_gain, (uint32_t instance_id, uint16_t desired), (instance_id, desired))               \
  X(rcs, set_red_video_black_level, (uint32_t instance_id, uint16_t desired), (instance_id, desired))         \
  X(rcs, set_green_video_black_level, (uint32_t instance_id, uint16_t desired), (instance_id, desired))       \
  X(rcs, set_blue_video_black_level, (uint32_t instance_id, uint16_t desired), (instance_id, desired))        \
  X(rcs, set_color_temperature, (uint32_t instance_id, uint16_t desired), (instance_id, desired))             \
  X(rcs, set_horizontal_keystone, (uint32_t instance_id, uint16_t desired), (instance_id, desired))           \
  X(rcs, set_vertical_keystone, (uint32_t instance_id, uint16_t desired), (instance_id, desired))             \
  X(rcs, set_mute, (uint32_t instance_id, const char *channel, int desired_mute),                             \
    (instance_id, channel, desired_mute))                                                                     \
  X(rcs, set_volume, (uint32_t instance_id, const char *channel, uint16_t desired_volume),                    \
    (instance_id, channel, desired_volume))                                                                   \
  X(rcs, set_volume_db, (uint32_t instance_id, const char *channel, int16_t desired_volume),                  \
    (instance_id, channel, desired_volume))                                                                   \
  X(rcs, set_loudness, (uint32_t instance_id, const char *channel, int desired_loudness),                     \
    (instance_id, channel, desired_loudness))

/* Parameter lists spliced into a signature: AVCP_LEAD_LIST((a, b)) is
 * ", a, b" and AVCP_TRAIL_LIST((a, b)) "a, b,"; both are empty for (). */
#define AVCP_LEAD_(...) __VA_OPT__(, ) __VA_ARGS__
#define AVCP_TRAIL_(...) __VA_ARGS__ __VA_OPT__(, )
#define AVCP_LEAD_LIST(list) AVCP_LEAD_ list
#define AVCP_TRAIL_LIST(list) AVCP_TRAIL_ list

#define AVCP_DECLARE_NONE(s, a, IP, IA)                                                         \
  int avcp_##s##_make_##a##_request(AVCP_TRAIL_LIST(IP) char **body);                           \
  uint32_t avcp_##s##_##a##2(http_client * client AVCP_LEAD_LIST(IP));                          \
  uint32_t avcp_##s##_##a(const char *control_url AVCP_LEAD_LIST(IP));
#define AVCP_DECLARE_OUT(s, a, IP, IA, OP, OA)                                                  \
  int avcp_##s##_make_##a##_request(AVCP_TRAIL_LIST(IP) char **body);                           \
  int avcp_##s##_parse_##a##_response(char **names, char **values AVCP_LEAD_LIST(OP));          \
  uint32_t avcp_##s##_##a##2(http_client * client AVCP_LEAD_LIST(IP) AVCP_LEAD_LIST(OP));       \
  uint32_t avcp_##s##_##a(const char *control_url AVCP_LEAD_LIST(IP) AVCP_LEAD_LIST(OP));

AVCP_CDS_ACTIONS_OUT(AVCP_DECLARE_OUT)
AVCP_CDS_ACTIONS_NONE(AVCP_DECLARE_NONE)
AVCP_AVTS_ACTIONS_OUT(AVCP_DECLARE_OUT)
AVCP_AVTS_ACTIONS_NONE(AVCP_DECLARE_NONE)
AVCP_CMS_ACTIONS_OUT(AVCP_DECLARE_OUT)
AVCP_CMS_ACTIONS_NONE(AVCP_DECLARE_NONE)
AVCP_RCS_ACTIONS_OUT(AVCP_DECLARE_OUT)
AVCP_RCS_ACTIONS_NONE(AVCP_DECLARE_NONE)

#ifdef __cplusplus
}
#endif
#endif
