// How requesters see objects of the content database.
#include "object_view.h"

#include <vennard/content_db.h>

#include <tarvo_util/sys_str.h>

namespace {

bool marked(const didl_object *o)
{
  const char *p = didl_attribute_get(&o->attributes, DIDL_NAME(AT_TARVO_PRIVATE));
  return p && !sys_str_diff(p, "1");
}

}  // namespace

bool object_private(server_rec *s, const didl_object *o)
{
  return marked(o) || object_target_private(s, o);
}

bool object_target_private(server_rec *s, const didl_object *o)
{
  const char *ref = didl_attribute_get(&o->attributes, DIDL_NAME(AT_REF_ID));
  const didl_object *target = ref ? content_db_get(s, ref) : nullptr;
  return target && marked(target);
}

bool object_view(server_rec *s, const didl_object *o, didl_object *view)
{
  *view = *o;
  const char *ref = didl_attribute_get(&o->attributes, DIDL_NAME(AT_REF_ID));
  if (!ref) return true;
  const didl_object *target = content_db_get(s, ref);
  if (!target) return false;
  view->properties = target->properties;
  return true;
}

const char *object_class(const didl_object *o)
{
  const didl_property *p = didl_property_first(o, DIDL_NAME(EL_UPNP_CLASS));
  return p ? p->text : nullptr;
}
