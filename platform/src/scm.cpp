// The service manager stand-in: unit names, and the file backend that the
// tests use in place of systemd.
#include <tarvo_platform/scm.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "scm_impl.h"

namespace {

thread_local std::string last_error;

using record = std::map<std::string, std::string>;

bool read_record(const std::string &path, record *r)
{
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) (*r)[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return true;
}

// Written whole through a temporary file, as a service manager keeps its
// records.
bool write_record(const std::string &path, const record &r)
{
  std::string tmp = path + ".new";
  {
    std::ofstream out(tmp, std::ios::trunc);
    for (const auto &[k, v] : r) out << k << '=' << v << '\n';
    if (!out.flush()) return false;
  }
  if (std::rename(tmp.c_str(), path.c_str()) == 0) return true;
  unlink(tmp.c_str());
  return false;
}

// The unit's folder of the file backend; false (with the reason) when the
// unit is not registered there.
bool unit_folder(const char *dir, const char *service, std::string *out)
{
  char unit[SCM_UNIT_NAME_MAX];
  if (!scm_unit_name(service, unit, sizeof unit)) return scm_fail("bad service name");
  *out = std::string(dir) + "/" + unit;
  record r;
  if (!read_record(*out + "/config", &r)) return scm_fail(std::string("no such service: ") + unit);
  return true;
}

int file_running(const char *dir, const char *service, int *running)
{
  std::string folder;
  if (!unit_folder(dir, service, &folder)) return 0;
  record s;
  read_record(folder + "/state", &s);
  *running = s["state"] == "running";
  return 1;
}

int file_enable(const char *dir, const char *service, const char *display_name)
{
  std::string folder;
  if (!unit_folder(dir, service, &folder)) return 0;
  record c;
  read_record(folder + "/config", &c);
  c["start"] = "auto";
  c["display"] = display_name ? display_name : "";
  return write_record(folder + "/config", c) ? 1 : scm_fail("cannot write the service's configuration");
}

int file_start(const char *dir, const char *service)
{
  std::string folder;
  if (!unit_folder(dir, service, &folder)) return 0;
  record c, s;
  read_record(folder + "/config", &c);
  read_record(folder + "/state", &s);
  if (c["start"] == "disabled") return scm_fail("the service is disabled");
  if (s["state"] == "running") return scm_fail("the service is already running");
  s["state"] = "running";
  if (s["pid"].empty()) s["pid"] = "0";  // the file backend starts no process
  return write_record(folder + "/state", s) ? 1 : scm_fail("cannot write the service's state");
}

const char *file_dir()
{
  const char *d = std::getenv("TARVO_SCM_DIR");
  return d && *d ? d : nullptr;
}

}  // namespace

int scm_fail(const std::string &why)
{
  last_error = why;
  return 0;
}

extern "C" {

int scm_unit_name(const char *service, char *buf, uint32_t size)
{
  if (!service || !*service) return 0;
  std::string unit;
  if (!std::strcmp(service, SCM_SERVER_SERVICE)) {
    unit = SCM_SERVER_UNIT;
  } else {
    for (const char *p = service; *p; ++p) {
      char c = *p;
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
      bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
      if (keep)
        unit += c;
      else if (unit.empty() || unit.back() != '-')
        unit += '-';
    }
    unit += ".service";
  }
  if (unit.size() >= size || unit.size() >= SCM_UNIT_NAME_MAX) return 0;
  std::memcpy(buf, unit.c_str(), unit.size() + 1);
  return 1;
}

int scm_service_running(const char *service, int *running)
{
  if (!running) return scm_fail("no result pointer");
  if (const char *d = file_dir()) return file_running(d, service, running);
  return scm_bus_running(service, running);
}

int scm_service_enable(const char *service, const char *display_name)
{
  if (const char *d = file_dir()) return file_enable(d, service, display_name);
  return scm_bus_enable(service);
}

int scm_service_start(const char *service)
{
  if (const char *d = file_dir()) return file_start(d, service);
  return scm_bus_start(service);
}

const char *scm_last_error(void) { return last_error.c_str(); }

}  // extern "C"
