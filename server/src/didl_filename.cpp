// File names that XML cannot hold, in the model's strings: the database
// file and the answers carry them in the form that util's XML writer
// gives (a "%" and the bytes as %XX), the model keeps their bytes.
#include "didl_impl.h"

#include <cstring>

namespace didl {

bool filename_escape(const char *raw, std::string *out)
{
  own::stralloc sa;
  if (!xml_gen_filename_append(&sa.s, raw)) return false;
  out->assign(sa.s.buf ? sa.s.buf : "", sa.s.len);
  return true;
}

bool filename_unescape(const char *stored, std::string *out)
{
  out->resize(std::strlen(stored));
  if (!xml_filename_decode(stored, out->data())) return false;
  out->resize(std::strlen(out->c_str()));
  return true;
}

}  // namespace didl
