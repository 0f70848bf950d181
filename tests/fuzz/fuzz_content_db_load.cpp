// links: vennard_core
// The content database file as the server finds it at start: whatever
// loads must be in index order, and what a save writes must load again to
// the same text.
#include <vennard/conf_store.h>
#include <vennard/server.h>

#include "../../server/src/content_db_impl.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include "fuzz_scratch.h"

namespace {

const char kDefault[] =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
    "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:tarvo=\"urn:tarvo-org:metadata-1-0/tarvo/DIDL-Lite/\">"
    "<container id=\"0\" parentID=\"-1\" restricted=\"1\" childCount=\"0\" tarvo:containerUpdateID=\"0\" "
    "tarvo:children=\"\"><dc:title>root</dc:title><upnp:class>object.container</upnp:class></container>"
    "</DIDL-Lite>";

struct world {
  std::string home;
  server_rec s{};
  world()
  {
    home = fuzz_scratch::folder("tarvo-fuzz-db-");
    std::filesystem::create_directories(home + "/conf/sync/data");
    std::ofstream(home + "/conf/data_default.xml") << kDefault;
    std::ofstream(home + "/conf/special_object") << "S\nContainer:A\n";
    sys_str_clone(home.c_str(), &s.data_home);
    sys_mutex_create(&s.content.mutex);
    sys_mutex_create(&s.content.save_mutex);
    conf_list_append(s.data_home, CONF_KEY_SPECIAL_OBJECT, &s.content.special);
  }
};

world &w()
{
  static world one;
  return one;
}

std::string read(const std::string &path)
{
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void ordered(server_rec *s)
{
  content_db_rec &d = s->content;
  if (d.root >= d.index.len) std::abort();
  for (uint32_t i = d.root + 2; i < d.index.len; i++)
    if (cdb::entry_at(s, i - 1)->number > cdb::entry_at(s, i)->number) std::abort();
  if (content_db_get(s, "0") != content_db_root(s)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  server_rec *s = &w().s;
  std::string conf = w().home + "/conf/";
  {
    std::ofstream f(conf + "data.xml", std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(data), std::streamsize(size));
  }
  if (content_db_load(s)) {
    ordered(s);
    if (!content_db_save(s)) std::abort();
    std::string first = read(conf + "data.xml");
    if (!content_db_load(s)) std::abort();
    ordered(s);
    if (!content_db_save(s) || read(conf + "data.xml") != first) std::abort();
  }
  cdb::index_free(s);
  return 0;
}
