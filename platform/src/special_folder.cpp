// Folders that the system's shell would name.
#include <tarvo_platform/special_folder.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

bool put(const std::string &path, char *buf, uint32_t size)
{
  if (path.empty() || path.size() >= size) return false;
  std::memcpy(buf, path.c_str(), path.size() + 1);
  return true;
}

// The value of key in user-dirs.dirs: a line key="$HOME/x" or key="/x".
// The home folder itself means that the user has no such folder.
std::string xdg_user_dir(const char *key)
{
  const char *home = std::getenv("HOME");
  if (!home || *home != '/') return {};
  const char *config = std::getenv("XDG_CONFIG_HOME");
  std::string file = (config && *config == '/' ? std::string(config) : std::string(home) + "/.config") +
                     "/user-dirs.dirs";
  std::ifstream in(file);
  std::string line, prefix = std::string(key) + "=\"";
  while (std::getline(in, line)) {
    if (line.compare(0, prefix.size(), prefix)) continue;
    std::string value = line.substr(prefix.size());
    size_t quote = value.find('"');
    if (quote == std::string::npos) return {};
    value.resize(quote);
    // "$HOME" only as a whole path component: "$HOMEx" names no folder.
    if (!value.compare(0, 5, "$HOME") && (value.size() == 5 || value[5] == '/'))
      value = home + value.substr(5);
    else if (value.empty() || value[0] != '/')
      return {};
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    std::string h = home;
    while (h.size() > 1 && h.back() == '/') h.pop_back();
    return value == h ? std::string() : value;
  }
  return {};
}

}  // namespace

extern "C" {

int special_folder_common_appdata(char *buf, uint32_t size)
{
  const char *d = std::getenv("TARVO_COMMON_APPDATA");
  if (!d || !*d) d = "/var/lib";
  return put(d, buf, size);
}

int special_folder_common_media(int kind, char *buf, uint32_t size)
{
  const char *env = kind == SPECIAL_FOLDER_MUSIC      ? "TARVO_COMMON_MUSIC"
                    : kind == SPECIAL_FOLDER_PICTURES ? "TARVO_COMMON_PICTURES"
                    : kind == SPECIAL_FOLDER_VIDEO    ? "TARVO_COMMON_VIDEO"
                                                      : nullptr;
  if (!env) return 0;
  // Set but empty: no such folder, whatever the user's folders are.
  const char *d = std::getenv(env);
  if (d) return *d && put(d, buf, size);
  const char *key = kind == SPECIAL_FOLDER_MUSIC ? "XDG_MUSIC_DIR"
                    : kind == SPECIAL_FOLDER_PICTURES ? "XDG_PICTURES_DIR"
                                                      : "XDG_VIDEOS_DIR";
  return put(xdg_user_dir(key), buf, size);
}

}  // extern "C"
