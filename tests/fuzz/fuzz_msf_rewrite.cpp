// links: corda_common tarvo_util
// The plug-ins' rewrite frame on arbitrary item text, with hooks that drop
// one element name and add an element before each end tag: whatever it
// accepts comes out NUL-terminated within the capacity and parses again.
#include <corda_common/msf_common.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int drop_b(msf_rewrite_rec *, const char *name, const char *const *, const char *const *)
{
  return std::strcmp(name, "b") ? MSF_TAG_COPY : MSF_TAG_DROP;
}

int add_before_end(msf_rewrite_rec *f, const char *)
{
  return sys_stralloc_cats(&f->out, "<added x=\"&amp;\"></added>");
}

const msf_rewrite_hooks kHooks = {drop_b, nullptr, add_before_end, nullptr};
const msf_rewrite_hooks kCopy = {nullptr, nullptr, nullptr, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string text(reinterpret_cast<const char *>(data), size);
  if (text.find('\0') != std::string::npos) return 0;
  const uint32_t capacity = 1u << 16;
  std::vector<char> out(capacity), again(capacity);
  if (!msf_rewrite_run(&kHooks, nullptr, text.c_str(), out.data(), capacity)) return 0;
  if (!std::memchr(out.data(), 0, capacity)) std::abort();
  // The output is a document the frame (and so the server) reads again.
  if (!msf_rewrite_run(&kCopy, nullptr, out.data(), again.data(), capacity)) std::abort();
  return 0;
}
