// links: tollamy_core tarvo_util
// The page controllers in process, from an arbitrary request sent as a
// query or as a POST body (with a declared length that may be short), by
// the free pass: every answer is the content-type line and a well-formed
// XML document, and no file of the program's folder changes (the login
// folder is absent, so a password change cannot write; settings are only
// written at exit).  The local server's port answers nothing, so each
// server call fails at once.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <tarvo_util/xml_walk.h>

#include "fuzz_tollamy.h"
#include "tollamy_request.h"

namespace {

using fuzz_tollamy::listing;
using fuzz_tollamy::put;

std::string texts(const char *lang)
{
  std::string t = "<text_list>";
  for (const char *k : {"COMMON_FAILED", "SECURITY_TITLE", "MIMETYPE_ADD", "LIST_LOADING", "LANGUAGE_ITEM_JA",
                        "PASSWORD_MISSMATCH_MESSAGE", "PASSWORD_INVALIDCHAR_MESSAGE", "COMMON_APPLY"})
    t += std::string("<text><id>") + k + "</id><value>" + lang + " &amp;&lt;\xe3\x81\x82</value></text>";
  return t + "</text_list>";
}

struct folder {
  std::string dir;
  tollamy_config config;
  std::set<std::string> before;
  int body = -1;
  int home = -1;
  folder()
  {
    dir = fuzz_tollamy::make_folder("fuzz_tollamy_pages_");
    put(dir + "/text/text_en.xml", texts("en"));
    put(dir + "/text/text_ja.xml", texts("ja"));
    std::string wide;
    for (int i = 0; i < 900; i++) wide += "\xe3\x81\x82";
    put(dir + "/html/tollamy_page_security.html.part", "<b>[[SECURITY_TITLE]]</b>" + wide + "[[SECURITY_CHECK_SHOW_SECURITY_DIALOG]]");
    put(dir + "/html/tollamy_page_security_client_list_loading.html.part", "[[LIST_LOADING]]");
    put(dir + "/html/tollamy_page_mimetype_page_register.html.part", "<i a=\"[[MIMETYPE]]\">[[EXTENTION]]&[[MIMETYPE_ADD]]</i>");
    put(dir + "/html/tollamy_page_backup_page_browse_container.html.part", "[[UDN]]'[[ICON_URL]]'[[FRIENDLY_NAME]]");
    put(dir + "/html/tollamy_page_view.html.part", "[[lang_ja]][[lang_en]][[LANGUAGE_ITEM_JA]]");
    put(dir + "/html/tollamy_menu.html.part", "<p>[[COMMON_APPLY]]</p>");
    put(dir + "/ms/conf/upnp_port", "1\n");
    put(dir + "/config/list.xml", "<default_filetype_list><filetype><extention>a</extention><mimetype>b/c</mimetype>"
                                  "</filetype></default_filetype_list>");
    // The loads, and the text reload after a language change, read the
    // program's folder; the fuzzer's own paths are relative to where it
    // started.
    home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0 || chdir(dir.c_str()) != 0 || !tollamy_load_params(&config) || !tollamy_load_settings(&config) ||
        !tollamy_load_texts(&config) || fchdir(home) != 0)
      std::abort();
    body = memfd_create("tollamy-body", MFD_CLOEXEC);
    if (body < 0) std::abort();
    listing(dir, &before);
  }
};

// The body on standard input; the declared length one longer when short.
void post(folder *f, const std::string &text, bool short_body)
{
  if (ftruncate(f->body, 0) || lseek(f->body, 0, SEEK_SET) ||
      write(f->body, text.data(), text.size()) != ssize_t(text.size()) || lseek(f->body, 0, SEEK_SET) ||
      dup2(f->body, 0) < 0)
    std::abort();
  setenv("REQUEST_METHOD", "POST", 1);
  setenv("CONTENT_LENGTH", std::to_string(text.size() + (short_body ? 1 : 0)).c_str(), 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static folder f;
  if (size < 1 || size > 8192) return 0;
  std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  clearenv();
  if (data[0] & 1) {
    post(&f, text, data[0] & 2);
  } else {
    if (text.find('\0') != text.npos) return 0;
    setenv("REQUEST_METHOD", "GET", 1);
    setenv("QUERY_STRING", text.c_str(), 1);
  }
  setenv("REMOTE_ADDR", "127.0.0.1", 1);
  tollamy_config config = f.config;
  tollamy_request r;
  r.config = &config;
  if (chdir(f.dir.c_str()) != 0) std::abort();
  if (tollamy_request_read(&r)) tollamy_request_handle(&r);
  if (fchdir(f.home) != 0) std::abort();
  fuzz_tollamy::check_answer(r.answer);
  std::set<std::string> after;
  listing(f.dir, &after);
  if (after != f.before) std::abort();
  return 0;
}
