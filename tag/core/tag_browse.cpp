// Metadata of one file or folder as a parsed object, restricted to a
// ContentDirectory filter.
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_avcp/avcp_didl_criteria.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_tag/tarvo_tag.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/uri.h>

#include <cstring>

#include "tag_impl.h"

namespace {

const char *at(const sys_ptralloc_rec *a, uint32_t i) { return static_cast<const char *>(a->buf[i]); }

int container_defaults(const char *path, const sys_file_stat_rec *st, sys_ptralloc_rec *names,
                       sys_ptralloc_rec *values)
{
  return tag_property_add(TAG_NAME(UPNP_CLASS), "object.container", names, values) &&
         tag_title_from_path(path, 1, names, values) && tag_date_property_add(st->mtime, names, values);
}

// The file's res holds its file: URI; properties keep the order found.
int browse_xml(const char *path, bool folder, const avcp_didl_filter *filter, const tag_property_list &list,
               char **text)
{
  const char *element = folder ? "container" : "item";
  tag::text t;
  bool ok = avcp_didl_xml_begin(&t.s) && t.add("<") && t.add(element) && t.add(">\r\n");
  if (ok && !folder && avcp_didl_filter_match(filter, "res")) {
    ok = t.add("<res");
    for (uint32_t i = 0; ok && i < list.names.len; i++) {
      const char *name = at(&list.names, i);
      if (sys_str_start(name, "res@") && avcp_didl_filter_match(filter, name)) ok = t.attribute(name + 4, at(&list.values, i));
    }
    char *uri = nullptr;
    ok = ok && t.add(">") && uri_from_path(path, &uri) && t.escaped(uri) && t.add("</res>\r\n");
    sys_alloc_free(uri);
  }
  for (uint32_t i = 0; ok && i < list.names.len; i++) {
    const char *name = at(&list.names, i);
    if (!std::strchr(name, '@') && avcp_didl_filter_match(filter, name)) ok = t.element(name, at(&list.values, i));
  }
  return ok && t.add("</") && t.add(element) && t.add(">\r\n") && avcp_didl_xml_end(&t.s) && t.give(text);
}

// The first object of the text, taken out of its list.
int first_object(const char *text, avcp_didl_object **object)
{
  avcp_didl_object_list list = nullptr;
  if (!avcp_didl_parse(text, &list)) return 0;
  avcp_didl_object *first = list[0];
  if (first) {
    uint32_t n = 1;
    while (list[n]) n++;
    std::memmove(list, list + 1, n * sizeof *list);
  }
  avcp_didl_object_list_free(list);
  if (!first) return 0;
  *object = first;
  return 1;
}

}  // namespace

extern "C" int tarvo_tag_browse_metadata(const char *path, int file, const sys_file_stat_rec *st, const char *filter,
                                         avcp_didl_object **object)
{
  avcp_didl_filter f = nullptr;
  if (!avcp_didl_filter_parse(&f, filter)) return 0;
  tag_property_list list{};
  bool folder = st->is_dir != 0;
  char *text = nullptr;
  int ok = (folder ? container_defaults(path, st, &list.names, &list.values)
                   : tag_properties_from_file(path, file, st, mimetype_from_path_static(path), &list.names,
                                              &list.values)) &&
           browse_xml(path, folder, &f, list, &text) && first_object(text, object);
  sys_alloc_free(text);
  tag::list_free(list);
  avcp_didl_filter_free(&f);
  return ok;
}
