/* DIDL-Lite object model: interned names, records, parser, finders and
 * document framing. */
#ifndef TARVO_AVCP_DIDL_H
#define TARVO_AVCP_DIDL_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The private namespace of the tarvo: names; every deliverable that reads
 * or writes them uses this URI. */
#define AVCP_DIDL_NS_TARVO_URI "urn:tarvo-org:metadata-1-0/tarvo/DIDL-Lite/"

/* How values of a name compare (sorting). */
enum avcp_didl_value_type_code {
  AVCP_DIDL_TYPE_INT32 = 0,
  AVCP_DIDL_TYPE_UINT32 = 1,
  AVCP_DIDL_TYPE_INT64 = 2,
  AVCP_DIDL_TYPE_UINT64 = 3,
  AVCP_DIDL_TYPE_BOOLEAN = 4,
  AVCP_DIDL_TYPE_STRING = 5,
  AVCP_DIDL_TYPE_URI = 6,
  AVCP_DIDL_TYPE_UNKNOWN = 7
};

/* The leading run both name tables share: namespaces, the DIDL-Lite,
 * dc: and upnp: element names.  X(index suffix, text, value type: the
 * avcp_didl_value_type_code without its AVCP_DIDL_TYPE_ prefix). */
#define AVCP_DIDL_NAMES_UPNP(X)                                               \
  X(NS_DIDL_LITE, "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/", UNKNOWN)    \
  X(NS_DIDL_LITE_BARE, "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite", UNKNOWN) \
  X(NS_UPNP, "urn:schemas-upnp-org:metadata-1-0/upnp/", UNKNOWN)              \
  X(NS_UPNP_BARE, "urn:schemas-upnp-org:metadata-1-0/upnp", UNKNOWN)          \
  X(NS_DC, "http://purl.org/dc/elements/1.1/", UNKNOWN)                       \
  X(NS_DLNA, "urn:schemas-dlna-org:metadata-1-0/", UNKNOWN)                   \
  X(NS_TARVO, AVCP_DIDL_NS_TARVO_URI, UNKNOWN)                                \
  X(NS_ARIB, "urn:schemas-arib-or-jp:elements-1-0/", UNKNOWN)                 \
  X(EL_DIDL_LITE, "DIDL-Lite", UNKNOWN)                                       \
  X(EL_CONTAINER, "container", UNKNOWN)                                       \
  X(EL_ITEM, "item", UNKNOWN)                                                 \
  X(EL_RES, "res", URI)                                                       \
  X(EL_DESC, "desc", UNKNOWN)                                                 \
  X(EL_DC_TITLE, "dc:title", STRING)                                          \
  X(EL_DC_CREATOR, "dc:creator", STRING)                                      \
  X(EL_DC_PUBLISHER, "dc:publisher", STRING)                                  \
  X(EL_DC_CONTRIBUTOR, "dc:contributor", STRING)                              \
  X(EL_DC_RELATION, "dc:relation", URI)                                       \
  X(EL_DC_DESCRIPTION, "dc:description", STRING)                              \
  X(EL_DC_RIGHTS, "dc:rights", STRING)                                        \
  X(EL_DC_DATE, "dc:date", STRING)                                            \
  X(EL_DC_LANGUAGE, "dc:language", STRING)                                    \
  X(EL_UPNP_CLASS, "upnp:class", STRING)                                      \
  X(EL_UPNP_STORAGE_TOTAL, "upnp:storageTotal", INT64)                        \
  X(EL_UPNP_STORAGE_USED, "upnp:storageUsed", INT64)                          \
  X(EL_UPNP_STORAGE_FREE, "upnp:storageFree", INT64)                          \
  X(EL_UPNP_STORAGE_MAX_PARTITION, "upnp:storageMaxPartition", INT64)         \
  X(EL_UPNP_STORAGE_MEDIUM, "upnp:storageMedium", STRING)                     \
  X(EL_UPNP_SEARCH_CLASS, "upnp:searchClass", STRING)                         \
  X(EL_UPNP_CREATE_CLASS, "upnp:createClass", STRING)                         \
  X(EL_UPNP_WRITE_STATUS, "upnp:writeStatus", STRING)                         \
  X(EL_UPNP_ARTIST, "upnp:artist", STRING)                                    \
  X(EL_UPNP_ACTOR, "upnp:actor", STRING)                                      \
  X(EL_UPNP_AUTHOR, "upnp:author", STRING)                                    \
  X(EL_UPNP_PRODUCER, "upnp:producer", STRING)                                \
  X(EL_UPNP_DIRECTOR, "upnp:director", STRING)                                \
  X(EL_UPNP_GENRE, "upnp:genre", STRING)                                      \
  X(EL_UPNP_ALBUM, "upnp:album", STRING)                                      \
  X(EL_UPNP_PLAYLIST, "upnp:playlist", STRING)                                \
  X(EL_UPNP_ALBUM_ART_URI, "upnp:albumArtURI", URI)                           \
  X(EL_UPNP_ARTIST_DISCOGRAPHY_URI, "upnp:artistDiscographyURI", URI)         \
  X(EL_UPNP_LYRICS_URI, "upnp:lyricsURI", URI)                                \
  X(EL_UPNP_LONG_DESCRIPTION, "upnp:longDescription", STRING)                 \
  X(EL_UPNP_ICON, "upnp:icon", URI)                                           \
  X(EL_UPNP_REGION, "upnp:region", STRING)                                    \
  X(EL_UPNP_RATING, "upnp:rating", STRING)                                    \
  X(EL_UPNP_RADIO_CALL_SIGN, "upnp:radioCallSign", STRING)                    \
  X(EL_UPNP_RADIO_STATION_ID, "upnp:radioStationID", STRING)                  \
  X(EL_UPNP_RADIO_BAND, "upnp:radioBand", STRING)                             \
  X(EL_UPNP_CHANNEL_NR, "upnp:channelNr", INT32)                              \
  X(EL_UPNP_CHANNEL_NAME, "upnp:channelName", STRING)                         \
  X(EL_UPNP_SCHEDULED_START_TIME, "upnp:scheduledStartTime", STRING)          \
  X(EL_UPNP_SCHEDULED_END_TIME, "upnp:scheduledEndTime", STRING)              \
  X(EL_UPNP_DVD_REGION_CODE, "upnp:DVDRegionCode", INT32)                     \
  X(EL_UPNP_ORIGINAL_TRACK_NUMBER, "upnp:originalTrackNumber", INT32)         \
  X(EL_UPNP_TOC, "upnp:toc", STRING)                                          \
  X(EL_UPNP_USER_ANNOTATION, "upnp:userAnnotation", STRING)

/* The run of attribute names both tables share, in the same form. */
#define AVCP_DIDL_NAMES_UPNP_ATTRIBUTES(X)                                    \
  X(AT_ID, "id", STRING)                                                      \
  X(AT_PARENT_ID, "parentID", STRING)                                         \
  X(AT_RESTRICTED, "restricted", BOOLEAN)                                     \
  X(AT_IMPORT_URI, "importUri", URI)                                          \
  X(AT_SEARCHABLE, "searchable", BOOLEAN)                                     \
  X(AT_CHILD_COUNT, "childCount", INT32)                                      \
  X(AT_REF_ID, "refID", STRING)                                               \
  X(AT_PROTOCOL_INFO, "protocolInfo", STRING)                                 \
  X(AT_SIZE, "size", UINT64)                                                  \
  X(AT_DURATION, "duration", STRING)                                          \
  X(AT_BITRATE, "bitrate", UINT32)                                            \
  X(AT_SAMPLE_FREQUENCY, "sampleFrequency", UINT32)                           \
  X(AT_BITS_PER_SAMPLE, "bitsPerSample", UINT32)                              \
  X(AT_NR_AUDIO_CHANNELS, "nrAudioChannels", UINT32)                          \
  X(AT_RESOLUTION, "resolution", STRING)                                      \
  X(AT_COLOR_DEPTH, "colorDepth", UINT32)                                     \
  X(AT_PROTECTION, "protection", STRING)                                      \
  X(AT_TYPE, "type", UNKNOWN)                                                 \
  X(AT_NAME_SPACE, "nameSpace", UNKNOWN)                                      \
  X(AT_NAME, "name", STRING)                                                  \
  X(AT_INCLUDE_DERIVED, "includeDerived", BOOLEAN)                            \
  X(AT_ROLE, "role", STRING)

/* The name table, in table order: X(index suffix, text, value type). */
#define AVCP_DIDL_NAMES(X)                                                    \
  AVCP_DIDL_NAMES_UPNP(X)                                                     \
  X(EL_DLNA_CONTAINER_TYPE, "dlna:containerType", UNKNOWN)                    \
  X(EL_DLNA_TAKE_OUT, "dlna:takeOut", UNKNOWN)                                \
  X(EL_ARIB_OBJECT_TYPE, "arib:objectType", UNKNOWN)                          \
  X(EL_ARIB_LONG_DESCRIPTION, "arib:longDescription", UNKNOWN)                \
  X(EL_ARIB_VIDEO_COMPONENT_TYPE, "arib:videoComponentType", UNKNOWN)         \
  X(EL_ARIB_AUDIO_COMPONENT_TYPE, "arib:audioComponentType", UNKNOWN)         \
  X(EL_ARIB_COPY_CONTROL_INFO, "arib:copyControlInfo", UNKNOWN)               \
  X(EL_ARIB_DATA_PROGRAM_INFO, "arib:dataProgramInfo", UNKNOWN)               \
  X(EL_ARIB_MULTI_VIEW_INFO, "arib:multiViewInfo", UNKNOWN)                   \
  X(EL_ARIB_CAPTION_INFO, "arib:captionInfo", UNKNOWN)                        \
  X(EL_ARIB_MULTI_ES_INFO, "arib:multiESInfo", UNKNOWN)                       \
  X(EL_ARIB_CA_PROGRAM_INFO, "arib:caProgramInfo", UNKNOWN)                   \
  AVCP_DIDL_NAMES_UPNP_ATTRIBUTES(X)                                          \
  X(AT_QUALITY_INDICATOR, "qualityIndicator", UNKNOWN)                        \
  X(AT_SYNC, "sync", UNKNOWN)                                                 \
  X(AT_PRICE, "price", UNKNOWN)                                               \
  X(AT_AVAILABLE, "available", UNKNOWN)                                       \
  X(AT_DLNA_PROFILE_ID, "dlna:profileID", UNKNOWN)                            \
  X(AT_DLNA_IFO_FILE_URI, "dlna:ifoFileURI", UNKNOWN)                         \
  X(AT_DLNA_CLEARTEXT_SIZE, "dlna:cleartextSize", UNKNOWN)                    \
  X(AT_TARVO_FILENAME, "tarvo:filename", STRING)                              \
  X(AT_TARVO_PRIVATE, "tarvo:private", BOOLEAN)                               \
  X(AT_TARVO_FILTER, "tarvo:filter", STRING)                                  \
  X(AT_ARIB_RESOLUTION, "arib:resolution", UNKNOWN)                           \
  X(WILDCARD, "*", UNKNOWN)

/* Index of each name in avcp_didl_name_table: AVCP_DIDL_EL_DC_TITLE and
 * so on. */
enum avcp_didl_name_index {
#define AVCP_DIDL_NAME_ENUM_(id, text, type) AVCP_DIDL_##id,
  AVCP_DIDL_NAMES(AVCP_DIDL_NAME_ENUM_)
#undef AVCP_DIDL_NAME_ENUM_
  AVCP_DIDL_NAME_COUNT
};

/* Every name held in a record points into this table, so two names are
 * the same exactly when the pointers are equal. */
extern const char *const avcp_didl_name_table[AVCP_DIDL_NAME_COUNT];
#define AVCP_DIDL_NAME(id) (avcp_didl_name_table[AVCP_DIDL_##id])

/* One child element of an object. */
typedef struct avcp_didl_property {
  const char **attribute_names; /* NULL-terminated, interned; array owned */
  sys_str_list attribute_values; /* parallel to the names; owned */
  const char *element;           /* interned, prefixed ("dc:title", "res") */
  char *text;                    /* the element's own text, trimmed; owned */
} avcp_didl_property;

/* One container or item. */
typedef struct avcp_didl_object {
  const char **attribute_names;
  sys_str_list attribute_values;
  const char *element; /* interned "container" or "item" */
  avcp_didl_property **properties; /* NULL-terminated; owned */
} avcp_didl_object;

/* Objects in document order, NULL-terminated; the holder owns array and
 * objects and frees them with avcp_didl_object_list_free. */
typedef avcp_didl_object **avcp_didl_object_list;

/* {element, attribute}, both interned, either may be NULL.  An element of
 * NULL with an attribute names an attribute of the object itself. */
typedef struct avcp_didl_name_pair {
  const char *element;
  const char *attribute;
} avcp_didl_name_pair;

const char *avcp_didl_element_name_find(const char *text);
const char *avcp_didl_attribute_name_find(const char *text);
void avcp_didl_property_parameter_set(const char *element_text, const char *attribute_text,
                                      avcp_didl_name_pair *pair);
void avcp_didl_split_name_attribute(char *text, char **name_out, char **attribute_out);

/* The value-type code of a pair: its attribute's, else its element's,
 * else AVCP_DIDL_TYPE_UNKNOWN. */
int avcp_didl_value_type(const avcp_didl_name_pair *pair);

/* The lookups of any name table built from these runs (this one, the
 * server's).  The name of table[first, end) equal to the length bytes at
 * text, or NULL. */
const char *avcp_didl_name_table_find(const char *const *table, uint32_t first, uint32_t end, const char *text,
                                      uint32_t length);
/* The value-type code of a pair interned in table (count names, types
 * parallel to them), as avcp_didl_value_type. */
int avcp_didl_name_table_value_type(const char *const *table, const unsigned char *types, uint32_t count,
                                    const avcp_didl_name_pair *pair);

uint32_t avcp_didl_attribute_find_index(const char *const *names, const char *name);
const char *avcp_didl_attribute_find(const char *const *names, char *const *values, const char *name);
avcp_didl_property *avcp_didl_property_find(const avcp_didl_object *object, const char *element_name);
avcp_didl_property *avcp_didl_property_find2(const avcp_didl_object *object, const char *element_name,
                                             const char *text);
int avcp_didl_derived_from(const char *class_text, const char *base);
int avcp_didl_boolean_value(const char *text);

void avcp_didl_property_free(avcp_didl_property *property);
void avcp_didl_object_free(avcp_didl_object *object);
void avcp_didl_object_list_free(avcp_didl_object_list list);

int avcp_didl_parse(const char *text, avcp_didl_object_list *list_out);

int avcp_didl_xml_begin(sys_stralloc_rec *out);
int avcp_didl_xml_end(sys_stralloc_rec *out);

#ifdef __cplusplus
}
#endif
#endif
