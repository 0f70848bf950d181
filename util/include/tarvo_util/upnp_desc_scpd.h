/* UPnP service descriptions: the short form (action names and evented
 * variables), the full form (every state variable), and value checks
 * against a state variable. */
#ifndef TARVO_UTIL_UPNP_DESC_SCPD_H
#define TARVO_UTIL_UPNP_DESC_SCPD_H

#include <stdint.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

#define UPNP_DESC_SERVICE_NS "urn:schemas-upnp-org:service-1-0"

/* Both lists are present after a successful parse. */
typedef struct {
  sys_str_list action_names;
  sys_str_list evented_variable_names;
} upnp_desc_scpd_rec;

/* Texts exactly as they stand between the tags; NULL when absent. */
typedef struct {
  char *minimum;
  char *maximum;
  char *step;
} upnp_desc_value_range_rec;

typedef struct {
  char *send_events; /* the sendEvents attribute */
  char *name;
  char *data_type;
  upnp_desc_value_range_rec *range;
  sys_str_list allowed_values;
  void *reserved; /* left NULL by the parser, freed with the record */
} upnp_desc_state_variable_rec;

typedef struct {
  sys_str_list action_names;
  upnp_desc_state_variable_rec **state_variables; /* NULL-terminated */
} upnp_desc_scpd2_rec;

int upnp_desc_scpd_parse(const char *xml, upnp_desc_scpd_rec **scpd);
void upnp_desc_scpd_free(upnp_desc_scpd_rec *scpd);
int upnp_desc_scpd2_parse(const char *xml, upnp_desc_scpd2_rec **scpd2);
void upnp_desc_scpd2_free(upnp_desc_scpd2_rec *scpd2);
/* The first variable with exactly this name, or NULL. */
upnp_desc_state_variable_rec *upnp_desc_scpd2_get_state_variable(const upnp_desc_scpd2_rec *scpd2,
                                                                 const char *name);

/* 1 when the variable has the call's data type and its range or value list
 * admits the value; 0 for another type or an unreadable bound. */
int upnp_desc_scpd2_is_allowed_i2(const upnp_desc_state_variable_rec *variable, int16_t value);
int upnp_desc_scpd2_is_allowed_ui2(const upnp_desc_state_variable_rec *variable, uint16_t value);
int upnp_desc_scpd2_is_allowed_i4(const upnp_desc_state_variable_rec *variable, int32_t value);
int upnp_desc_scpd2_is_allowed_ui4(const upnp_desc_state_variable_rec *variable, uint32_t value);
int upnp_desc_scpd2_is_allowed_i8(const upnp_desc_state_variable_rec *variable, int64_t value);
int upnp_desc_scpd2_is_allowed_ui8(const upnp_desc_state_variable_rec *variable, uint64_t value);
int upnp_desc_scpd2_is_allowed_string(const upnp_desc_state_variable_rec *variable, const char *value);

#ifdef __cplusplus
}
#endif
#endif
