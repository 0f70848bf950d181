// The server program on a laid-out data folder with test ports, running
// (auto_run set, unless asked otherwise) and, on request, with the test
// backup module libsm_backup.so serving X_ContentBackup; killed with the
// object.
#pragma once

#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <tarvo_util/tarvo_vendor.h>

#include "tarvo_test.h"
#include "vennard_spawn.h"

namespace tarvo_test {

struct vennard_run {
  uint16_t upnp_port, http_port, dmsm_port;
  scratch_dir dir;
  std::string service_dir = dir / "service";
  std::string data = dir / "data";
  pid_t pid = -1;

  explicit vennard_run(uint16_t base_port, bool backup_module = false, bool auto_run = true)
      : upnp_port(base_port), http_port(uint16_t(base_port + 1)), dmsm_port(uint16_t(base_port + 2))
  {
    std::filesystem::create_directories(service_dir);
    write_file(service_dir + "/service_name", "Tarvo Media Server\n");
    write_file(service_dir + "/data_home", data + "\n");
    std::string layout = data_dir() + "/../scripts/layout-data " + data + " " + std::to_string(upnp_port) + " " +
                         std::to_string(http_port) + " " + std::to_string(dmsm_port);
    if (std::system(layout.c_str()) != 0) return;
    if (auto_run) write_file(data + "/conf/auto_run", "");
    if (backup_module) add_backup_module();
    spawn_vennard(service_dir, &pid);
  }
  ~vennard_run()
  {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int st;
    for (int i = 0; i < 200 && waitpid(pid, &st, WNOHANG) == 0; i++) usleep(50 * 1000);
    if (waitpid(pid, &st, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
    }
  }
  std::string conf(const std::string &key) const { return data + "/conf/" + key; }

 private:
  void add_backup_module()
  {
    std::string desc = conf("upnp_root/description/av_msd.xml");
    std::string text = read_file(desc);
    const char *bin = std::getenv("TARVO_BIN");
    std::string service = "<service tarvo:serviceModule=\"" + std::string(bin ? bin : "bin") +
                          "/libsm_backup.so\"><serviceType>" TARVO_VENDOR_BACKUP_TYPE
                          "</serviceType><serviceId>" TARVO_VENDOR_BACKUP_ID "</serviceId>"
                          "<SCPDURL>ContentBackup.xml</SCPDURL><controlURL>control/ContentBackup</controlURL>"
                          "<eventSubURL>event/ContentBackup</eventSubURL></service>";
    text.replace(text.find("</serviceList>"), 0, service);
    write_file(desc, text);
  }
};

}  // namespace tarvo_test
