// Pieces shared by the source files of the ContentDirectory service.
#pragma once

#include "server_util.h"

#include <vennard/content_db.h>
#include <vennard/content_directory.h>
#include <vennard/server.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <initializer_list>
#include <utility>

namespace cds {

using namespace srv;

// One action call as the dispatcher hands it on.
struct call {
  const device_request_info *info;
  server_rec *s;
  const char *action;
  char **names;
  char **values;
  bool local;
  char **response;

  // The value of an in-argument, or nullptr.
  const char *arg(const char *name) const { return argument(names, values, name); }
  // The values of the named in-arguments into out, in order; false when
  // one is missing.
  bool args(std::initializer_list<const char *> wanted, const char **out) const;
  bool no_args() const { return !names[0]; }
};

// The response with its out-arguments, in order; 501 when memory runs out.
inline uint32_t respond(const call &c, out_values out) { return srv::respond(c.info, c.action, out, c.response); }

// An unsigned 32-bit decimal: digits only.
bool number_arg(const char *text, uint32_t *n);
// "1", "true", "yes" / "0", "false", "no".
bool boolean_arg(const char *text, bool *value);

// A lock of the server for a scope; held is false when it was refused.
template <int (*Lock)(server_rec *), void (*Unlock)(server_rec *)> struct scoped_lock {
  server_rec *s;
  bool held;
  explicit scoped_lock(server_rec *srv) : s(srv), held(Lock(srv) != 0) {}
  ~scoped_lock()
  {
    if (held) Unlock(s);
  }
  scoped_lock(const scoped_lock &) = delete;
  scoped_lock &operator=(const scoped_lock &) = delete;
};
using db_lock = scoped_lock<content_db_lock, content_db_unlock>;

// Runs op (which returns an error code or the response's) under the
// content-database lock; 501 when it is refused.
template <class Op> uint32_t locked(const call &c, Op op)
{
  db_lock lock(c.s);
  return lock.held ? op() : kFailed;
}

// Object pointers handed out by the content database (not owned).
struct object_list {
  sys_ptralloc_rec p{};
  ~object_list() { sys_ptralloc_free(&p); }
  didl_object *at(uint32_t i) const { return static_cast<didl_object *>(p.buf[i]); }
};

bool attribute_is(const didl_object *o, const char *name, const char *value);

uint32_t browse(call &c);
uint32_t search(call &c);
uint32_t create_object(call &c);
uint32_t destroy_object(call &c);
uint32_t update_object(call &c);
uint32_t create_reference(call &c);
uint32_t set_private(call &c);
uint32_t set_searchable(call &c);
uint32_t share_list(call &c);
uint32_t share_state(call &c);
uint32_t share(call &c);
uint32_t unshare(call &c);
uint32_t file_type_list(call &c);
uint32_t file_type_add(call &c);
uint32_t file_type_remove(call &c);

}  // namespace cds
