#include <tarvo_util/hosts_file.h>

#include <cstdlib>
#include <string_view>

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

extern "C" {

const char *hosts_file_path(void)
{
  const char *file = std::getenv("TARVO_HOSTS_FILE");
  return file && *file ? file : "/etc/hosts";
}

uint32_t hosts_text_name(const char *data, uint32_t size, const char *addr, const char **name)
{
  std::string_view text(data ? data : "", data ? size : 0), want(addr ? addr : "");
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    line = line.substr(0, line.find('#'));
    // The address, then the names: the first is the host's own.
    std::string_view field[2];
    size_t n = 0;
    for (size_t i = 0; i < line.size() && n < 2;) {
      if (blank(line[i])) {
        i++;
        continue;
      }
      size_t k = i;
      while (k < line.size() && !blank(line[k])) k++;
      field[n++] = line.substr(i, k - i);
      i = k;
    }
    if (n == 2 && field[0] == want) {
      *name = field[1].data();
      return uint32_t(field[1].size());
    }
  }
  return 0;
}

}  // extern "C"
