// links: braxen_core vennard_core tarvo_avcp tarvo_util
// The title editor's search criteria for any file name: the server's
// criteria reader gets exactly one equality on res@tarvo:filename whose
// operand is the whole name, as its bytes.
#include <braxen/braxen_sidecar.h>
#include <tarvo_util/sys_alloc.h>
#include <vennard/didl.h>

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string path(reinterpret_cast<const char *>(data), size);
  path = path.c_str();  // a file name holds no NUL
  // The file manager hands over absolute paths; only they are told apart
  // from the "%" form of a name that XML cannot carry.
  if (!path.empty() && path[0] != '/') path.insert(0, "/");
  char *criteria = braxen_filename_criteria(path.c_str());
  if (path.empty()) {
    if (criteria) std::abort();
    return 0;
  }
  if (!criteria) std::abort();
  didl_search s{};
  if (!didl_search_parse(&s, criteria, 1) || s.nodes.len != 1 || s.postfix.len != 1) std::abort();
  auto *r = static_cast<avcp_didl_search_relation *>(s.nodes.buf[0]);
  if (!r->element || std::strcmp(r->element, "res") || !r->attribute || std::strcmp(r->attribute, "tarvo:filename") ||
      std::strcmp(r->op, "=") || r->operand != path)
    std::abort();
  didl_search_free(&s);
  sys_alloc_free(criteria);
  return 0;
}
