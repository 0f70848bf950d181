// Pieces shared by the readers and writers of the configuration store.
#pragma once

#include <vennard/conf_store.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>

namespace conf {

// <data_home>/conf[/key[/name]], without a NUL.
int path_join(sys_stralloc_rec *sa, const char *data_home, const char *key, const char *name);
// NUL-terminates sa and hands its buffer out.
int path_finish(sys_stralloc_rec *sa, char **out);
bool name_ok(const char *name);

}  // namespace conf
