// The title editor on a file whose name is Latin-1 bytes, against the real
// server with its sidecar plug-in: the menu finds the file's item, the
// dialog shows the name and the current title, the sidecar goes beside the
// file under its raw name, and the rescan shows the new title.
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "../plugins/plugin_server.h"
#include "helper_host.h"

namespace {

namespace fs = std::filesystem;

// The service manager says the server runs; the dialog helper logs its
// arguments and confirms the title "New".
void desktop_fake(const std::string &dir)
{
  fs::create_directories(dir + "/scm/vennard.service");
  fs::create_directories(dir + "/tmp");
  tarvo_test::write_file(dir + "/scm/vennard.service/config", "start=auto\n");
  tarvo_test::write_file(dir + "/scm/vennard.service/state", "state=running\n");
  tarvo_test::write_file(dir + "/ui", "#!/bin/sh\nprintf '%s|' \"$@\" >> \"$(dirname \"$0\")/ui.log\"\necho New\n");
  fs::permissions(dir + "/ui", fs::perms::owner_all);
  setenv("TARVO_SCM_DIR", (dir + "/scm").c_str(), 1);
  setenv("TMPDIR", (dir + "/tmp").c_str(), 1);
  setenv("TARVO_SHELLEXT_UI", (dir + "/ui").c_str(), 1);
  setenv("TARVO_RUNTIME_DIR", (dir + "/run").c_str(), 1);
}

std::string menu_of(shellext_test::host_module &braxen, const std::string &path)
{
  auto items = braxen.items({path}, false);
  std::string labels;
  for (const auto &i : items) labels += i.label + "\n";
  shellext_test::free_items(items);
  return labels;
}

}  // namespace

TEST(TitleEditOnBytes, ALatin1NameIsFoundEditedAndRetitledThroughTheServer)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  plugin_test::running_server srv("corda_didl\n");
  const std::string media = srv.media + "/caf\xE9.mp3", shown = "caf\xEF\xBF\xBD";
  std::string make = "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=1000:duration=1 -c:a libmp3lame "
                     "-metadata title=Old '" + srv.media + "/made.mp3'";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "ffmpeg with the lame encoder is needed";
  fs::rename(srv.media + "/made.mp3", media);
  desktop_fake(srv.dir / "desk");
  shellext_test::host_module braxen(std::string(std::getenv("TARVO_BIN")) + "/libbraxen.so");
  ASSERT_TRUE(braxen.lib);
  ASSERT_TRUE(srv.start());
  auto titled = [](const std::string &t) {
    return [t](const std::string &c) { return c.find("<dc:title>" + t + "</dc:title>") != std::string::npos; };
  };
  ASSERT_TRUE(titled("Old")(srv.children_when(titled("Old"))));

  // A sidecar of the file's own second would not count as newer.
  struct stat st{};
  ASSERT_EQ(stat(media.c_str(), &st), 0);
  while (std::time(nullptr) <= std::max(st.st_mtime, st.st_ctime)) usleep(20000);

  // The menu, and its sidecar standing for the file, find the item.
  EXPECT_EQ(menu_of(braxen, media), "Media Server Title Edit...\n");
  EXPECT_EQ(menu_of(braxen, media + ".didl"), "Media Server Title Edit...\n");
  auto items = braxen.items({media}, false);
  ASSERT_EQ(items.size(), 1u);
  braxen.activate(items.at(0));
  shellext_test::free_items(items);
  EXPECT_EQ(tarvo_test::read_file(srv.dir / "desk/ui.log"), "title-edit|" + shown + ".mp3|Old|");
  EXPECT_NE(tarvo_test::read_file(media + ".didl").find("<dc:title>New</dc:title>"), std::string::npos);

  // The share watcher sees the sidecar; the rescan merges it.
  std::string listing = srv.children_when(titled("New"));
  EXPECT_TRUE(titled("New")(listing)) << listing;
  EXPECT_EQ(menu_of(braxen, media), "Media Server Title Edit...\n");
  EXPECT_EQ(srv.stop(), 0);
}
