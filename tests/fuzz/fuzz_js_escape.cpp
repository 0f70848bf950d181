// links: haldor_core
// The script string escaper on arbitrary bytes: its output holds no raw
// quote, backslash, line end or "<", and reads back to the input; where
// JavaScriptCore is there, the quoted literal of a UTF-8 input evaluates to
// the input.
#include "host_watch.h"
#include "js_escape.h"

#include <glib.h>

#include <cstdlib>
#include <cstring>
#include <string>

#ifdef TARVO_HAVE_JSC
#include <JavaScriptCore/JavaScript.h>
#endif

namespace {

void put_utf8(std::string *out, unsigned code)
{
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Reads a script string literal's inside as the page would; aborts on any
// text that would end or break the literal.
std::string decode(const std::string &s)
{
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\'' || c == '"' || c == '\n' || c == '\r' || c == '<' || c < 0x20) std::abort();
    if (c == 0xE2 && s.compare(i, 2, "\xE2\x80") == 0 && i + 2 < s.size() &&
        (static_cast<unsigned char>(s[i + 2]) & 0xFE) == 0xA8)
      std::abort();
    if (c != '\\') {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (++i >= s.size()) std::abort();
    switch (s[i]) {
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case '\\': case '\'': case '"': out.push_back(s[i]); break;
      case 'u': {
        if (i + 4 >= s.size()) std::abort();
        put_utf8(&out, static_cast<unsigned>(std::stoul(s.substr(i + 1, 4), nullptr, 16)));
        i += 4;
        break;
      }
      default: std::abort();
    }
  }
  return out;
}

#ifdef TARVO_HAVE_JSC
}  // namespace

// The engine's collector keeps what it allocates until it runs: not ours.
extern "C" const char *__lsan_default_suppressions() { return "leak:libjavascriptcoregtk-4.1.so\n"; }

namespace {

void evaluate(const std::string &in, const std::string &escaped)
{
  if (!g_utf8_validate(in.data(), gssize(in.size()), nullptr)) return;  // a page's strings are Unicode
  static JSGlobalContextRef ctx = JSGlobalContextCreate(nullptr);
  std::string script = "'" + escaped + "'";
  JSStringRef source = JSStringCreateWithUTF8CString(script.c_str());
  JSValueRef error = nullptr;
  JSValueRef v = JSEvaluateScript(ctx, source, nullptr, nullptr, 1, &error);
  JSStringRelease(source);
  if (!v || error || !JSValueIsString(ctx, v)) std::abort();
  JSStringRef got = JSValueToStringCopy(ctx, v, nullptr);
  glong units = 0;
  gunichar2 *want = g_utf8_to_utf16(in.data(), glong(in.size()), nullptr, &units, nullptr);
  bool same = want && JSStringGetLength(got) == size_t(units) &&
              std::memcmp(JSStringGetCharactersPtr(got), want, size_t(units) * sizeof(gunichar2)) == 0;
  g_free(want);
  JSStringRelease(got);
  if (!same) std::abort();
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string in(reinterpret_cast<const char *>(data), size);
  std::string escaped = js_string_escape(in);
  if (decode(escaped) != in) std::abort();
#ifdef TARVO_HAVE_JSC
  evaluate(in, escaped);
#endif
  // The hosts-format reader keeps to the bytes and names no blank name.
  std::string name;
  if (hosts_file_name(in.data(), in.size(), "127.0.0.1", &name) &&
      (name.empty() || name.find_first_of(" \t\r\n#") != std::string::npos))
    std::abort();
  return 0;
}
