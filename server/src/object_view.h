// How requesters see objects of the content database: what a requester
// that is not local may not see, and reference items shown with their
// target's properties.  Under the content-database lock.
#pragma once

#include <vennard/didl.h>
#include <vennard/server.h>

// tarvo:private is "1" on the object, or on the object a reference names.
bool object_private(server_rec *s, const didl_object *o);
// The object is a reference whose target is private.
bool object_target_private(server_rec *s, const didl_object *o);
// A reference item as requesters see it: its own attributes and element
// with its target's properties, sharing both (never free the view).  Other
// objects are copied as they are.  false when the target is missing.
bool object_view(server_rec *s, const didl_object *o, didl_object *view);
// The text of the object's first upnp:class, or nullptr.
const char *object_class(const didl_object *o);
