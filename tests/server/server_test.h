// A data folder laid out as an installation lays it out, and a server
// record with its ConnectionManager state and content database started
// on it.
#pragma once

#include <vennard/content_db.h>
#include <vennard/server.h>

#include <string>
#include <vector>

#include "tarvo_test.h"

namespace server_test {

// A laid-out data folder (scripts/layout-data) in a scratch folder.
struct data_folder {
  tarvo_test::scratch_dir dir;
  std::string home = dir.path.string();
  std::string conf = home + "/conf";
  data_folder();
  void put(const std::string &key, const std::string &text) const;
  std::string get(const std::string &key) const;
  bool exists(const std::string &key) const;
};

// The test plug-in module of a variant (first, second, nofree, initfail,
// broken), as a filter line.
std::string plugin(const std::string &variant);
// A fresh log file for the test plug-ins ($TARVO_TEST_PLUGIN_LOG) and its
// lines.
struct plugin_log {
  std::string path;
  plugin_log();
  ~plugin_log();
  std::vector<std::string> lines() const;
  size_t count(const std::string &line) const;
};

// A server record on a data folder; start() runs the ConnectionManager
// state and the content database, stop() (or the end) stops them.
struct server {
  data_folder data;
  server_rec s{};
  bool started = false;
  server();
  ~server();
  bool start();
  void stop();
};

// The content-database lock for a test's reads and edits, which the save
// thread must not see half done.
struct held {
  server_rec *s;
  bool ok;
  explicit held(server_rec *srv) : s(srv), ok(content_db_lock(srv) != 0) {}
  ~held()
  {
    if (ok) content_db_unlock(s);
  }
};

// A heap string handed out by the server, freed.
std::string take(char *s);
// The text of a heap list, comma-joined.
std::string joined(char **list);

}  // namespace server_test
