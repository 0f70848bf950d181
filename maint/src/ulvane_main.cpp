// ulvane <folder name>: removes from the pending-rename list every pair that
// concerns the system's folders (the program-files and common
// application-data folders with the name appended), so that a restart does
// not undo a reinstallation.  The list is deleted, rewritten whole or left
// alone.  Exit 0 when the list is clean or absent, 1 otherwise.
#include <tarvo_maint/pending_pairs.h>
#include <tarvo_platform/path.h>
#include <tarvo_platform/registry.h>
#include <tarvo_platform/special_folder.h>
#include <tarvo_util/charset.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char *const session_key = "HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/Control/Session Manager";
const char *const value_name = "PendingFileRenameOperations";

// The folder with the name appended, as UTF-16 (*out freed by the caller).
bool product_path(int (*folder)(char *, uint32_t), const char *name, sys_wchar **out)
{
  char buf[PATH_APPEND_MAX];
  if (!folder(buf, sizeof buf) || !path_append(buf, sizeof buf, name)) return false;
  return utf8_to_wcs2(buf, out) != 0;
}

int clean(const char *name)
{
  std::vector<uint8_t> data(PENDING_PAIRS_READ_MAX);
  uint32_t size = PENDING_PAIRS_READ_MAX, type = 0;
  uint32_t r = registry_query_value(session_key, value_name, &type, data.data(), &size);
  if (r == REGISTRY_NOT_FOUND) return 0;
  if (r != REGISTRY_OK) {
    std::fprintf(stderr, "ulvane: cannot read %s (error %u)\n", value_name, r);
    return 1;
  }
  // Another type holds no pairs: rewriting it as a list would make one up.
  if (type != REGISTRY_MULTI_SZ) {
    std::fprintf(stderr, "ulvane: %s is not a list of strings (type %u); left unchanged\n", value_name, type);
    return 1;
  }
  sys_wchar *paths[2] = {nullptr, nullptr};
  int status = 1;
  if (product_path(special_folder_program_files, name, &paths[0]) &&
      product_path(special_folder_common_appdata, name, &paths[1])) {
    std::vector<uint8_t> kept(size + 8);
    uint32_t kept_size = 0, dropped = 0;
    uint32_t pairs = pending_pairs_filter(data.data(), size, paths, 2, kept.data(), &kept_size, &dropped);
    r = pairs ? registry_set_value(session_key, value_name, REGISTRY_MULTI_SZ, kept.data(), kept_size)
              : registry_delete_value(session_key, value_name);
    status = r == REGISTRY_OK ? 0 : 1;
    if (status) std::fprintf(stderr, "ulvane: cannot write %s (error %u)\n", value_name, r);
  } else {
    std::fprintf(stderr, "ulvane: cannot compose the product folders\n");
  }
  sys_alloc_free(paths[0]);
  sys_alloc_free(paths[1]);
  return status;
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: ulvane <folder name>\n");
    return 1;
  }
  return clean(argv[1]);
}
