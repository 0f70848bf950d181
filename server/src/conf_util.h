// Pieces shared by the readers and writers of the configuration store.
#pragma once

#include <vennard/conf_store.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>

namespace conf {

struct sa_guard {
  sys_stralloc_rec s{};
  ~sa_guard() { sys_stralloc_free(&s); }
};

struct path_guard {
  char *s = nullptr;
  ~path_guard() { sys_alloc_free(s); }
};

struct fd_guard {
  int fd = -1;
  ~fd_guard() { sys_file_close(fd); }
};

// Heap strings gathered for a sys_str_list; freed unless handed out.
struct str_list {
  sys_ptralloc_rec pa{};
  ~str_list();
};

// <data_home>/conf[/key[/name]], without a NUL.
int path_join(sys_stralloc_rec *sa, const char *data_home, const char *key, const char *name);
// NUL-terminates sa and hands its buffer out.
int path_finish(sys_stralloc_rec *sa, char **out);
bool name_ok(const char *name);
int list_finish(str_list &l, sys_str_list *out);

}  // namespace conf
