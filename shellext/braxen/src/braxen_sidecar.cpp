// The title editor's criteria, trimming and sidecar writing.
#include <braxen/braxen_sidecar.h>
#include <fcntl.h>
#include <stdlib.h>
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_shellext/shellext.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/xml.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

std::string escaped(const char *title)
{
  std::string out;
  for (const char *p = title; *p; ++p) {
    switch (*p) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += *p;
    }
  }
  return out;
}

std::string sidecar_text(const char *title)
{
  std::string t = std::string("<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                              "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
                              "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:tarvo=\"") +
                  AVCP_DIDL_NS_TARVO_URI + "\">\r\n<item>\r\n";
  if (*title) t += "<dc:title>" + escaped(title) + "</dc:title>\r\n";
  return t + "</item>\r\n</DIDL-Lite>\r\n";
}

bool copy_over(const char *from, const std::string &to)
{
  int in = -1, out = -1;
  if (!sys_file_open_read(&in, from)) return false;
  bool ok = sys_file_open_trunc(&out, to.c_str()) != 0;
  char buf[4096];
  uint32_t got = 0;
  while (ok) {
    if (!sys_file_read(in, buf, sizeof buf, &got)) ok = false;
    if (!ok || !got) break;
    ok = sys_file_allwrite(out, buf, got) != 0;
  }
  sys_file_close(in);
  if (out >= 0 && !sys_file_close(out)) ok = false;
  return ok;
}

bool trimmed_char(const unsigned char *p, size_t *len)
{
  if (*p == 9 || *p == 10 || *p == 13 || *p == 32) return (*len = 1), true;
  if (p[0] == 0xE3 && p[1] == 0x80 && p[2] == 0x80) return (*len = 3), true;
  return false;
}

}  // namespace

extern "C" {

char *braxen_filename_criteria(const char *path)
{
  if (!path || !*path) return nullptr;
  // The request is XML: a name that it cannot carry goes in the form the
  // server gives such names.
  own::stralloc name;
  if (!xml_gen_filename_append(&name.s, path) || !sys_stralloc_append(&name.s, "")) return nullptr;
  std::string c = "res@tarvo:filename = \"";
  for (const char *p = name.s.buf; *p; ++p) {
    if (*p == '\\' || *p == '"') c += '\\';
    c += *p;
  }
  c += '"';
  char *out = static_cast<char *>(sys_alloc(c.size() + 1));
  if (out) std::memcpy(out, c.c_str(), c.size() + 1);
  return out;
}

uint32_t braxen_media_length(const char *path)
{
  size_t n = std::strlen(path);
  if (n >= 5 && !strcasecmp(path + n - 5, ".didl")) n -= 5;
  return uint32_t(n);
}

void braxen_trim_title(char *text)
{
  size_t n = std::strlen(text), len;
  // From the end; E3 80 80 at the end is always a whole U+3000.
  while (n) {
    if (n >= 3 && trimmed_char(reinterpret_cast<unsigned char *>(text + n - 3), &len) && len == 3)
      n -= 3;
    else if (trimmed_char(reinterpret_cast<unsigned char *>(text + n - 1), &len) && len == 1)
      n -= 1;
    else
      break;
  }
  text[n] = '\0';
  size_t start = 0;
  while (start < n && trimmed_char(reinterpret_cast<unsigned char *>(text + start), &len)) start += len;
  std::memmove(text, text + start, n - start + 1);
}

int32_t braxen_write_sidecar(const char *path, const char *title)
{
  const char *dir = std::getenv("TMPDIR");
  std::string tmp = std::string(dir && *dir ? dir : "/tmp") + "/didlXXXXXX";
  int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return SHELLEXT_E_INVALIDARG;
  std::string text = sidecar_text(title);
  bool written = sys_file_allwrite(fd, text.data(), uint32_t(text.size())) != 0;
  if (!sys_file_close(fd)) written = false;
  int32_t r = SHELLEXT_E_INVALIDARG;
  if (written) r = copy_over(tmp.c_str(), std::string(path) + ".didl") ? SHELLEXT_S_OK : SHELLEXT_E_FAIL;
  unlink(tmp.c_str());
  return r;
}

}  // extern "C"
