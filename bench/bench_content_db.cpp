// links: vennard_core
// The content database file with 10,000 and 100,000 objects: loading it
// and saving it; and destroying a share of 50,000 items that are each
// referenced from a category container, as unsharing a large library
// does.
#include <benchmark/benchmark.h>
#include <vennard/conf_store.h>
#include <vennard/server.h>

#include "../server/src/content_db_impl.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// A data folder holding a database of one share: folders of 100 music
// items, each item referenced from Container:AllMusic right after it was
// made, as the share scanner makes them.
struct database {
  std::filesystem::path home;
  explicit database(int items)
  {
    char t[] = "/tmp/tarvo-bench-XXXXXX";
    home = mkdtemp(t);
    std::filesystem::create_directories(home / "conf/sync/data");
    std::ofstream(home / "conf/special_object") << "Container:AllMusic\nContainer:UserFiles\n";
    std::string objects, all_music, share_children;
    int folders = (items + 99) / 100;
    uint64_t next = 2;
    for (int f = 0; f < folders; f++) {
      uint64_t folder = next++;
      share_children += (f ? "," : "") + std::to_string(folder);
      std::string folder_children, folder_text;
      int in_folder = std::min(100, items - f * 100);
      for (int i = 0; i < in_folder; i++) {
        std::string id = std::to_string(next++), ref = std::to_string(next++);
        folder_children += (i ? "," : "") + id;
        all_music += (all_music.empty() ? "" : ",") + ref;
        folder_text +=
            "<item id=\"" + id + "\" parentID=\"" + std::to_string(folder) + "\" restricted=\"1\" tarvo:referenced=\"" +
            ref + "\">\r\n<dc:title>Track " + id + "</dc:title>\r\n<upnp:class>object.item.audioItem.musicTrack</upnp:class>\r\n"
            "<upnp:artist>Artist " + std::to_string(i % 7) + "</upnp:artist>\r\n<upnp:album>Album " + std::to_string(f) +
            "</upnp:album>\r\n<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3\" size=\"4000000\" "
            "duration=\"0:03:25.000\" tarvo:filename=\"/srv/music/" + std::to_string(f) + "/" + id +
            ".mp3\" tarvo:timestamp=\"1241354096\">/" + id + "-" + std::to_string(next) + ".mp3</res>\r\n</item>\r\n"
            "<item id=\"" + ref + "\" parentID=\"Container:AllMusic\" refID=\"" + id + "\" restricted=\"1\">\r\n</item>\r\n";
      }
      objects += "<container id=\"" + std::to_string(folder) + "\" parentID=\"1\" restricted=\"1\" searchable=\"1\" "
                 "childCount=\"" + std::to_string(in_folder) + "\" tarvo:containerUpdateID=\"1\" tarvo:children=\"" +
                 folder_children + "\">\r\n<dc:title>Folder " + std::to_string(f) +
                 "</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n</container>\r\n" + folder_text;
    }
    std::ofstream out(home / "conf/data.xml", std::ios::binary);
    out << "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"\r\n"
           "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"\r\n"
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\r\n"
           "xmlns:tarvo=\"urn:tarvo-org:metadata-1-0/tarvo/DIDL-Lite/\">\r\n"
        << "<container id=\"Container:AllMusic\" parentID=\"0\" restricted=\"1\" searchable=\"0\" childCount=\""
        << items << "\" tarvo:containerUpdateID=\"1\" tarvo:children=\"" << all_music
        << "\">\r\n<dc:title>All Music</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n</container>\r\n"
        << "<container id=\"Container:UserFiles\" parentID=\"0\" restricted=\"1\" searchable=\"1\" childCount=\"1\" "
           "tarvo:containerUpdateID=\"1\" tarvo:children=\"1\">\r\n<dc:title>Folders</dc:title>\r\n"
           "<upnp:class>object.container</upnp:class>\r\n</container>\r\n"
        << "<container id=\"0\" parentID=\"-1\" restricted=\"1\" searchable=\"1\" childCount=\"2\" "
           "tarvo:containerUpdateID=\"1\" tarvo:maxObjectID=\""
        << next << "\" tarvo:children=\"Container:AllMusic,Container:UserFiles\">\r\n<dc:title>root</dc:title>\r\n"
        << "<upnp:class>object.container</upnp:class>\r\n</container>\r\n"
        << "<container id=\"1\" parentID=\"Container:UserFiles\" restricted=\"1\" searchable=\"1\" childCount=\""
        << folders << "\" tarvo:containerUpdateID=\"1\" tarvo:children=\"" << share_children
        << "\">\r\n<dc:title>Music</dc:title>\r\n<upnp:class>object.container</upnp:class>\r\n</container>\r\n"
        << objects << "</DIDL-Lite>\r\n";
  }
  ~database()
  {
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
  }
};

// A server record with what loading and saving need, and no threads.
struct server {
  server_rec s{};
  explicit server(const database &db) : server(db.home) {}
  explicit server(const std::filesystem::path &home)
  {
    sys_str_clone(home.c_str(), &s.data_home);
    cm_state_start(&s);
    sys_mutex_create(&s.content.mutex);
    sys_mutex_create(&s.content.save_mutex);
    conf_list_append(s.data_home, CONF_KEY_SPECIAL_OBJECT, &s.content.special);
  }
  ~server()
  {
    content_db_rec &d = s.content;
    cdb::index_free(&s);
    sys_mutex_destroy(&d.mutex);
    sys_mutex_destroy(&d.save_mutex);
    cm_state_stop(&s);
    sys_alloc_free(s.data_home);
  }
};

// Objects in the file for a number of items: the items, their references
// and a folder per 100.
int items_for(int objects) { return objects * 100 / 201; }

void BM_Load(benchmark::State &state)
{
  database db(items_for(int(state.range(0))));
  server srv(db);
  for (auto _ : state)
    if (!content_db_load(&srv.s)) state.SkipWithError("load failed");
  state.counters["objects"] = double(content_db_count(&srv.s));
}
BENCHMARK(BM_Load)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The data.xml of the data folder BENCH_CONTENT_DB_HOME names (bench_scale
// hands over the one its library left).
void BM_LoadHome(benchmark::State &state)
{
  const char *home = std::getenv("BENCH_CONTENT_DB_HOME");
  if (!home) return state.SkipWithError("no BENCH_CONTENT_DB_HOME");
  server srv{std::filesystem::path(home)};
  for (auto _ : state)
    if (!content_db_load(&srv.s)) state.SkipWithError("load failed");
  state.counters["objects"] = double(content_db_count(&srv.s));
}
BENCHMARK(BM_LoadHome)->Unit(benchmark::kMillisecond);

// Every object read under one lock, as a Search from the root reads them
// (the references' objects made for the reader and let go at the unlock).
void BM_ReadAll(benchmark::State &state)
{
  database db(items_for(int(state.range(0))));
  server srv(db);
  if (!content_db_load(&srv.s)) state.SkipWithError("load failed");
  for (auto _ : state) {
    if (!content_db_lock(&srv.s)) state.SkipWithError("lock failed");
    uint32_t n = content_db_count(&srv.s), got = 0;
    for (uint32_t i = 0; i < n; i++) got += content_db_at(&srv.s, i) != nullptr;
    content_db_unlock(&srv.s);
    if (got != n) state.SkipWithError("an object missing");
    benchmark::DoNotOptimize(got);
  }
  state.counters["objects"] = double(content_db_count(&srv.s));
}
BENCHMARK(BM_ReadAll)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State &state)
{
  database db(items_for(int(state.range(0))));
  server srv(db);
  if (!content_db_load(&srv.s)) state.SkipWithError("load failed");
  for (auto _ : state)
    if (!content_db_save(&srv.s)) state.SkipWithError("save failed");
  state.counters["bytes"] = double(std::filesystem::file_size(db.home / "conf/data.xml"));
}
BENCHMARK(BM_Save)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_DestroyShare(benchmark::State &state)
{
  database db(int(state.range(0)));
  server srv(db);
  for (auto _ : state) {
    state.PauseTiming();
    if (!content_db_load(&srv.s)) state.SkipWithError("load failed");
    state.ResumeTiming();
    if (content_db_destroy(&srv.s, "1") != 0) state.SkipWithError("destroy failed");
  }
  state.counters["left"] = double(content_db_count(&srv.s));
}
BENCHMARK(BM_DestroyShare)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
