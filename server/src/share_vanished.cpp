// What a complete walk of a folder removes among its container's children
// that nothing on disk matched: the objects of its vanished files and
// subfolders.  What a client made there (a reference, an item of no file
// of the folder, a container no subfolder made) stays.
#include "share_impl.h"

#include <string_view>
#include <vector>

namespace scan {

namespace {

// Some res of the object names a file that `wanted` accepts.
template <class Wanted> bool names_file(const didl_object *o, Wanted wanted)
{
  for (uint32_t j = 0; j < o->properties.len; j++) {
    const didl_property *p = property_at(o, j);
    if (p->element != DIDL_NAME(EL_RES)) continue;
    const char *file = didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILENAME));
    if (file && wanted(std::string_view(file))) return true;
  }
  return false;
}

bool below(std::string_view file, std::string_view prefix)
{
  return file.size() > prefix.size() && file.substr(0, prefix.size()) == prefix;
}

// A file of the folder itself, not of a subfolder.
bool directly_in(std::string_view file, std::string_view prefix)
{
  return below(file, prefix) && file.find('/', prefix.size()) == std::string_view::npos;
}

// Something below the container stands for a file below the folder: how
// a subfolder's container made before the scanner last started, which no
// record names, is told from a client's.  Each object is looked at once at
// most.
bool holds_files_below(server_rec *s, const didl_object *container, std::string_view prefix)
{
  own::uint32alloc positions;
  if (!content_db_child_positions(s, container, &positions)) return true;  // in doubt, as before
  std::vector<uint32_t> stack(positions.buf, positions.buf + positions.len);
  for (uint64_t budget = content_db_count(s); !stack.empty() && budget; budget--) {
    uint32_t pos = stack.back();
    stack.pop_back();
    content_db_made_mark mark;
    content_db_made_mark_take(s, &mark);
    const didl_object *o = content_db_at(s, pos);
    bool found = o && names_file(o, [prefix](std::string_view f) { return below(f, prefix); });
    positions.len = 0;
    bool more = o && !found && o->element == DIDL_NAME(EL_CONTAINER);
    if (more && !content_db_child_positions(s, o, &positions)) found = true;
    else if (more) stack.insert(stack.end(), positions.buf, positions.buf + positions.len);
    content_db_made_rewind(s, &mark);
    if (found) return true;
  }
  return false;
}

}  // namespace

bool stood_for_on_disk(server_rec *s, const didl_object *o, const std::string &prefix, bool subfolder_record)
{
  if (names_file(o, [&prefix](std::string_view f) { return directly_in(f, prefix); })) return true;
  if (o->element != DIDL_NAME(EL_CONTAINER)) return false;
  return subfolder_record || holds_files_below(s, o, prefix);
}

}  // namespace scan
