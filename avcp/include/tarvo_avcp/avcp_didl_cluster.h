/* Grouping DIDL-Lite objects by the value of one name (clusters) or by a
 * part of their date (date clusters).  A grouping holds pointers to the
 * caller's objects and to texts inside them: the objects must outlive the
 * grouping and its results. */
#ifndef TARVO_AVCP_DIDL_CLUSTER_H
#define TARVO_AVCP_DIDL_CLUSTER_H

#include <stdint.h>
#include <tarvo_avcp/avcp_didl.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct avcp_didl_cluster avcp_didl_cluster;
typedef struct avcp_didl_date_cluster avcp_didl_date_cluster;

/* key: a value inside one of the objects, NULL for the objects without
 * one; objects: NULL-terminated. */
typedef struct avcp_didl_cluster_result {
  const char *key;
  avcp_didl_object **objects;
} avcp_didl_cluster_result;

/* key: the date part, -1 for the objects without a usable date. */
typedef struct avcp_didl_date_cluster_result {
  int32_t key;
  avcp_didl_object **objects;
} avcp_didl_date_cluster_result;

enum avcp_didl_date_part {
  AVCP_DIDL_DATE_YEAR = 1,
  AVCP_DIDL_DATE_MONTH = 2,
  AVCP_DIDL_DATE_DAY = 3,
  AVCP_DIDL_DATE_WEEKDAY = 4
};

/* key_text: name, name@attribute or @attribute. */
int avcp_didl_cluster_init(avcp_didl_cluster **handle, const char *key_text);
int avcp_didl_cluster_add(avcp_didl_cluster **handle, avcp_didl_object *object);
/* exact 0: key texts match without regard to ASCII case. */
int avcp_didl_cluster_add2(avcp_didl_cluster **handle, avcp_didl_object *object, int exact);
/* Hands out a NULL-terminated array of results in creation order. */
int avcp_didl_cluster_final(avcp_didl_cluster **handle, avcp_didl_cluster_result ***results_out);
/* sort_quick comparator over result pointers; ctx points at an int that is
 * nonzero for ascending order. */
int avcp_didl_cluster_result_compare(const void *a, const void *b, void *ctx);
void avcp_didl_cluster_result_sort(avcp_didl_cluster_result **results, uint32_t count, int ascending);
void avcp_didl_cluster_result_list_free(avcp_didl_cluster_result **results);
void avcp_didl_cluster_free(avcp_didl_cluster **handle);

/* part: an avcp_didl_date_part; prefer_scheduled: take
 * upnp:scheduledStartTime before dc:date. */
int avcp_didl_date_cluster_init(avcp_didl_date_cluster **handle, int part, int prefer_scheduled);
int avcp_didl_date_cluster_add(avcp_didl_date_cluster **handle, avcp_didl_object *object);
int avcp_didl_date_cluster_final(avcp_didl_date_cluster **handle, avcp_didl_date_cluster_result ***results_out);
int avcp_didl_date_cluster_result_compare(const void *a, const void *b, void *ctx);
void avcp_didl_date_cluster_result_sort(avcp_didl_date_cluster_result **results, uint32_t count, int ascending);
void avcp_didl_date_cluster_result_list_free(avcp_didl_date_cluster_result **results);
void avcp_didl_date_cluster_free(avcp_didl_date_cluster **handle);

#ifdef __cplusplus
}
#endif
#endif
