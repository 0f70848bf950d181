// Pieces shared by the source files of the ContentDirectory service.
#pragma once

#include <vennard/content_db.h>
#include <vennard/content_directory.h>
#include <vennard/server.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <initializer_list>
#include <utility>

namespace cds {

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
  const char *arg(const char *name) const;
  bool no_args() const { return !names[0]; }
};

// A response with out-arguments in order (values escaped); 501 when memory
// runs out.
uint32_t respond(const call &c, std::initializer_list<std::pair<const char *, const char *>> out);

// An unsigned 32-bit decimal: digits only.
bool number_arg(const char *text, uint32_t *n);
// "1", "true", "yes" / "0", "false", "no".
bool boolean_arg(const char *text, bool *value);

// The content-database lock for a scope.
struct db_lock {
  server_rec *s;
  bool held;
  explicit db_lock(server_rec *srv) : s(srv), held(content_db_lock(srv) != 0) {}
  ~db_lock()
  {
    if (held) content_db_unlock(s);
  }
  db_lock(const db_lock &) = delete;
  db_lock &operator=(const db_lock &) = delete;
};

struct text {
  sys_stralloc_rec sa{};
  ~text() { sys_stralloc_free(&sa); }
  const char *c_str() const { return sa.buf ? sa.buf : ""; }
};

struct str_list {
  sys_str_list l = nullptr;
  ~str_list() { sys_str_list_free(l); }
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
