// Editing a server's objects: CreateObject from a title and class or from
// a copy of another object, the UpdateObject edits of properties and
// attributes as tag-value lists, and the storage figures of a container.
#include <tarvo_avcp/tarvo_avcp.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/xml.h>

namespace {

constexpr uint32_t kListReserve = 500, kCreateReserve = 500, kCopyReserve = 1000;

// The position of name in a NULL-terminated list (exact), or -1.
int index_of(const char *const *list, const char *name)
{
  for (int i = 0; list && list[i]; i++)
    if (!sys_str_diff(list[i], name)) return i;
  return -1;
}

// How a fragment's attributes change: names dropped, values replaced, and
// attributes added after the kept ones.
struct attr_edit {
  const char *const *drop = nullptr;
  const char *const *change = nullptr;
  const char *const *change_values = nullptr;
  const char *const *add = nullptr;
  const char *const *add_values = nullptr;
};

bool attributes(sys_stralloc_rec *sa, const char *const *names, const char *const *values, const attr_edit &e)
{
  for (uint32_t i = 0; names && names[i]; i++) {
    if (index_of(e.drop, names[i]) >= 0) continue;
    int c = index_of(e.change, names[i]);
    const char *v = c >= 0 && e.change_values ? e.change_values[c] : values ? values[i] : "";
    if (!xml_gen_attribute_append(sa, names[i], v ? v : "")) return false;
  }
  for (uint32_t i = 0; e.add && e.add[i]; i++)
    if (!xml_gen_attribute_append(sa, e.add[i], e.add_values && e.add_values[i] ? e.add_values[i] : "")) return false;
  return true;
}

// One property as XML: "<name attrs>text</name>", no line end.
bool fragment(sys_stralloc_rec *sa, const char *element, const char *const *names, const char *const *values,
              const char *text, const attr_edit &e = {})
{
  return sys_stralloc_cats(sa, "<") && sys_stralloc_cats(sa, element) && attributes(sa, names, values, e) &&
         sys_stralloc_cats(sa, ">") && xml_gen_encode_append(sa, text ? text : "") && sys_stralloc_cats(sa, "</") &&
         sys_stralloc_cats(sa, element) && sys_stralloc_cats(sa, ">");
}

bool property_fragment(sys_stralloc_rec *sa, const avcp_didl_property *p, const char *text, const attr_edit &e = {})
{
  return p && fragment(sa, p->element, p->attribute_names, p->attribute_values, text, e);
}

// The two tag-value lists of one UpdateObject, entry by entry.
struct tag_values {
  own::stralloc current, next, frag;
  bool ok = sys_stralloc_ready(&current.s, kListReserve) && sys_stralloc_ready(&next.s, kListReserve);

  // An entry of the fragment that make writes, or an empty one.
  template <class Make> void cur(Make make) { ok = ok && make(&frag.s) && entry(&current.s); }
  template <class Make> void now(Make make) { ok = ok && make(&frag.s) && entry(&next.s); }
  void cur_empty() { ok = ok && csv_append(&current.s, ""); }
  void now_empty() { ok = ok && csv_append(&next.s, ""); }
  bool entry(sys_stralloc_rec *list)
  {
    if (!sys_stralloc_append(&frag.s, "")) return false;
    bool r = csv_append(list, frag.s.buf);
    frag.s.len = 0;
    return r;
  }
  uint32_t send(http_client *client, const char *object_id)
  {
    if (!ok) return SOAP_ACTION_FAILED;
    csv_end(&current.s);
    csv_end(&next.s);
    if (!sys_stralloc_append(&current.s, "") || !sys_stralloc_append(&next.s, "")) return SOAP_ACTION_FAILED;
    return avcp_cds_update_object2(client, object_id, current.s.buf, next.s.buf);
  }
};

// The one object of a CreateObject Result.
uint32_t created(uint32_t r, char *result, avcp_didl_object **object)
{
  own::str keep(result);
  if (r || !object) return r;
  avcp_didl_object_list list = nullptr;
  if (!avcp_didl_parse(result ? result : "", &list)) return SOAP_ACTION_FAILED;
  bool one = list[0] && !list[1];
  if (one) {
    *object = list[0];
    list[0] = nullptr;
  }
  avcp_didl_object_list_free(list);
  return one ? 0 : SOAP_ACTION_FAILED;
}

// "<item id="" restricted="0" parentID="...">" and its line end.
bool object_head(sys_stralloc_rec *sa, const char *element, const char *parent_id)
{
  return avcp_didl_xml_begin(sa) && sys_stralloc_cats(sa, "<") && sys_stralloc_cats(sa, element) &&
         xml_gen_attribute_append(sa, "id", "") && xml_gen_attribute_append(sa, "restricted", "0") &&
         xml_gen_attribute_append(sa, "parentID", parent_id ? parent_id : "") && sys_stralloc_cats(sa, ">\r\n");
}

bool object_tail(sys_stralloc_rec *sa, const char *element)
{
  return sys_stralloc_cats(sa, "</") && sys_stralloc_cats(sa, element) && sys_stralloc_cats(sa, ">\r\n") &&
         avcp_didl_xml_end(sa) && sys_stralloc_append(sa, "");
}

uint32_t create(http_client *client, const char *element, const char *parent_id, const char *title,
                const char *cls, avcp_didl_object **object)
{
  own::stralloc sa;
  bool storage = element[0] == 'c' && avcp_didl_derived_from(cls ? cls : "", "object.container.storageFolder");
  if (!sys_stralloc_ready(&sa.s, kCreateReserve) || !object_head(&sa.s, element, parent_id) ||
      !xml_gen_element_append(&sa.s, "dc:title", title) || !xml_gen_element_append(&sa.s, "upnp:class", cls) ||
      (storage && !xml_gen_element_append(&sa.s, "upnp:storageUsed", "-1")) || !object_tail(&sa.s, element))
    return SOAP_ACTION_FAILED;
  char *result = nullptr;
  uint32_t r = avcp_cds_create_object2(client, parent_id, sa.s.buf, nullptr, &result);
  return created(r, result, object);
}

// A copied property: res without its text and importUri, the others as
// they are; the server decides searchClass, createClass and writeStatus.
bool copied_property(sys_stralloc_rec *sa, const avcp_didl_property *p)
{
  const char *e = p->element;
  if (!sys_str_diff(e, "upnp:searchClass") || !sys_str_diff(e, "upnp:createClass") ||
      !sys_str_diff(e, "upnp:writeStatus"))
    return true;
  if (sys_str_diff(e, "res")) return property_fragment(sa, p, p->text) && sys_stralloc_cats(sa, "\r\n");
  const char *import[] = {"importUri", nullptr};
  attr_edit drop;
  drop.drop = import;
  return sys_stralloc_cats(sa, "<res") && attributes(sa, p->attribute_names, p->attribute_values, drop) &&
         sys_stralloc_cats(sa, "/>\r\n");
}

// The leading signed number of a text, which must be there.
bool signed_number(const char *s, int64_t *out)
{
  if (!s) return false;
  const char *d = *s == '+' || *s == '-' ? s + 1 : s;
  return *d >= '0' && *d <= '9' && sys_str_scan_int64(s, out);
}

}  // namespace

extern "C" {

uint32_t tarvo_avcp_cds_create_item(http_client *client, const char *parent_id, const char *title, const char *cls,
                                    avcp_didl_object **object)
{
  return create(client, "item", parent_id, title, cls, object);
}

uint32_t tarvo_avcp_cds_create_container(http_client *client, const char *parent_id, const char *title,
                                         const char *cls, avcp_didl_object **object)
{
  return create(client, "container", parent_id, title, cls, object);
}

uint32_t tarvo_avcp_cds_add_property(http_client *client, const char *object_id, const char *element,
                                     const char *text, const char *const *attribute_names,
                                     const char *const *attribute_values)
{
  if (!element) return SOAP_ACTION_FAILED;
  tag_values t;
  t.cur_empty();
  t.now([&](sys_stralloc_rec *f) { return fragment(f, element, attribute_names, attribute_values, text); });
  return t.send(client, object_id);
}

uint32_t tarvo_avcp_cds_remove_property(http_client *client, const char *object_id,
                                        const avcp_didl_property *property)
{
  if (!property) return SOAP_ACTION_FAILED;
  tag_values t;
  t.cur([&](sys_stralloc_rec *f) { return property_fragment(f, property, property->text); });
  t.now_empty();
  return t.send(client, object_id);
}

uint32_t tarvo_avcp_cds_modify_property(http_client *client, const char *object_id,
                                        const avcp_didl_property *property, const char *text)
{
  if (!property) return SOAP_ACTION_FAILED;
  tag_values t;
  t.cur([&](sys_stralloc_rec *f) { return property_fragment(f, property, property->text); });
  t.now([&](sys_stralloc_rec *f) { return property_fragment(f, property, text); });
  return t.send(client, object_id);
}

uint32_t tarvo_avcp_cds_update_property(http_client *client, const char *object_id, const char *const *add_names,
                                        const char *const *add_texts, avcp_didl_property *const *remove,
                                        avcp_didl_property *const *change, const char *const *change_texts)
{
  tag_values t;
  for (uint32_t i = 0; add_names && add_names[i]; i++) {
    const char *text = add_texts ? add_texts[i] : nullptr;
    t.cur_empty();
    // An added element ends its entry with a line end; the others do not.
    t.now([&](sys_stralloc_rec *f) {
      return fragment(f, add_names[i], nullptr, nullptr, text) && sys_stralloc_cats(f, "\r\n");
    });
  }
  for (uint32_t i = 0; remove && remove[i]; i++) {
    t.cur([&](sys_stralloc_rec *f) { return property_fragment(f, remove[i], remove[i]->text); });
    t.now_empty();
  }
  for (uint32_t i = 0; change && change[i]; i++) {
    const char *text = change_texts ? change_texts[i] : nullptr;
    t.cur([&](sys_stralloc_rec *f) { return property_fragment(f, change[i], change[i]->text); });
    t.now([&](sys_stralloc_rec *f) { return property_fragment(f, change[i], text); });
  }
  return t.send(client, object_id);
}

uint32_t tarvo_avcp_cds_update_attribute(http_client *client, const char *object_id,
                                         const avcp_didl_property *property, const char *const *add_names,
                                         const char *const *add_values, const char *const *remove_names,
                                         const char *const *change_names, const char *const *change_values)
{
  if (!property) return SOAP_ACTION_FAILED;
  attr_edit e;
  e.drop = remove_names;
  e.change = change_names;
  e.change_values = change_values;
  e.add = add_names;
  e.add_values = add_values;
  tag_values t;
  t.cur([&](sys_stralloc_rec *f) { return property_fragment(f, property, property->text); });
  t.now([&](sys_stralloc_rec *f) { return property_fragment(f, property, property->text, e); });
  return t.send(client, object_id);
}

uint32_t tarvo_avcp_cds_add_attribute(http_client *client, const char *object_id, const avcp_didl_property *property,
                                      const char *name, const char *value)
{
  const char *names[] = {name, nullptr}, *values[] = {value, nullptr};
  return name ? tarvo_avcp_cds_update_attribute(client, object_id, property, names, values, nullptr, nullptr, nullptr)
              : SOAP_ACTION_FAILED;
}

uint32_t tarvo_avcp_cds_remove_attribute(http_client *client, const char *object_id,
                                         const avcp_didl_property *property, const char *name)
{
  const char *names[] = {name, nullptr};
  return name ? tarvo_avcp_cds_update_attribute(client, object_id, property, nullptr, nullptr, names, nullptr, nullptr)
              : SOAP_ACTION_FAILED;
}

uint32_t tarvo_avcp_cds_modify_attribute(http_client *client, const char *object_id,
                                         const avcp_didl_property *property, const char *name, const char *value)
{
  const char *names[] = {name, nullptr}, *values[] = {value, nullptr};
  return name ? tarvo_avcp_cds_update_attribute(client, object_id, property, nullptr, nullptr, nullptr, names, values)
              : SOAP_ACTION_FAILED;
}

uint32_t tarvo_avcp_cds_copy_object(http_client *client, const char *parent_id, const avcp_didl_object *source,
                                    avcp_didl_object **object)
{
  if (!source || !source->element) return SOAP_ACTION_FAILED;
  own::stralloc sa;
  bool ok = sys_stralloc_ready(&sa.s, kCopyReserve) && object_head(&sa.s, source->element, parent_id);
  for (avcp_didl_property **p = source->properties; ok && p && *p; p++) ok = copied_property(&sa.s, *p);
  if (!ok || !object_tail(&sa.s, source->element)) return SOAP_ACTION_FAILED;
  char *result = nullptr;
  uint32_t r = avcp_cds_create_object2(client, parent_id, sa.s.buf, nullptr, &result);
  return created(r, result, object);
}

uint32_t tarvo_avcp_cds_storage_usage(http_client *client, const char *object_id, int64_t *total, int64_t *used,
                                      int64_t *free_bytes)
{
  if (!total || !used || !free_bytes) return SOAP_ACTION_FAILED;
  avcp_didl_object *o = nullptr;
  uint32_t r = tarvo_avcp_cds_browse_metadata(client, object_id, "", &o, nullptr);
  if (r) return r;
  own::ptr<avcp_didl_object, avcp_didl_object_free> keep(o);
  const avcp_didl_property *cls = avcp_didl_property_find(o, "upnp:class");
  const char *c = cls && cls->text ? cls->text : nullptr;
  if (!c || !(avcp_didl_derived_from(c, "object.container.storageSystem") ||
              avcp_didl_derived_from(c, "object.container.storageVolume") ||
              avcp_didl_derived_from(c, "object.container.storageFolder")))
    return SOAP_ACTION_FAILED;
  const char *names[] = {"upnp:storageTotal", "upnp:storageUsed", "upnp:storageFree"};
  int64_t *outs[] = {total, used, free_bytes};
  for (int i = 0; i < 3; i++) {
    const avcp_didl_property *p = avcp_didl_property_find(o, names[i]);
    if (!p || !signed_number(p->text, outs[i])) return SOAP_ACTION_FAILED;
  }
  return 0;
}

}  // extern "C"
