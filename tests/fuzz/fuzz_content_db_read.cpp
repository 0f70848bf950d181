// links: vennard_core
// The database file's own reader against expat over the same text: what
// the reader reads must come out as expat reads it, and a load must give
// what expat gives, failure or objects.
#include "../../server/src/content_db_impl.h"
#include "../server/didl_test.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct outcome {
  bool ok;
  std::string objects;
  bool operator==(const outcome &) const = default;
};

template <class Read> outcome run(Read read)
{
  sys_ptralloc_rec objects{};
  bool ok = read(&objects);
  outcome o{ok, ok ? didl_test::dump(objects) : ""};
  if (ok) didl_object_array_free(&objects);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const char *text = reinterpret_cast<const char *>(data);
  outcome expat = run([&](sys_ptralloc_rec *o) { return didl::parse_text(text, size, false, nullptr, o); });
  outcome own = run([&](sys_ptralloc_rec *o) { return didl::parse_text(text, size, false, cdb::file_text_read, o); });
  if (own.ok && !(own == expat)) std::abort();
  outcome load = run([&](sys_ptralloc_rec *o) { return cdb::file_objects(text, size, true, o); });
  if (!(load == expat)) std::abort();
  return 0;
}
