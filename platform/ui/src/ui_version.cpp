// The version record read back from a program's ".tarvo_version" section.
#include <tarvo_ui/ui_limits.h>
#include <tarvo_ui/ui_resource.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_owner.h>

#include <elf.h>
#include <sys/mman.h>

#include <cstring>
#include <string_view>

namespace {

// The section's bytes, when every offset stays inside the image.
bool find_section(const uint8_t *image, size_t size, const uint8_t **data, size_t *len)
{
  Elf64_Ehdr eh;
  if (size < sizeof eh || std::memcmp(image, ELFMAG, SELFMAG) != 0 || image[EI_CLASS] != ELFCLASS64) return false;
  std::memcpy(&eh, image, sizeof eh);
  if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shoff > size ||
      uint64_t(eh.e_shnum) * sizeof(Elf64_Shdr) > size - eh.e_shoff || eh.e_shstrndx >= eh.e_shnum)
    return false;
  auto header = [&](unsigned i) {
    Elf64_Shdr sh;
    std::memcpy(&sh, image + eh.e_shoff + uint64_t(i) * sizeof sh, sizeof sh);
    return sh;
  };
  Elf64_Shdr names = header(eh.e_shstrndx);
  if (names.sh_offset > size || names.sh_size > size - names.sh_offset) return false;
  static const char wanted[] = ".tarvo_version";
  for (unsigned i = 0; i < eh.e_shnum; ++i) {
    Elf64_Shdr sh = header(i);
    if (sh.sh_name >= names.sh_size || names.sh_size - sh.sh_name < sizeof wanted) continue;
    if (std::memcmp(image + names.sh_offset + sh.sh_name, wanted, sizeof wanted) != 0) continue;
    if (sh.sh_type == SHT_NOBITS || sh.sh_offset > size || sh.sh_size > size - sh.sh_offset ||
        sh.sh_size > UI_VERSION_SECTION_MAX)
      return false;
    *data = image + sh.sh_offset;
    *len = sh.sh_size;
    return true;
  }
  return false;
}

}  // namespace

extern "C" {

int UiVersionValueIn(const uint8_t *image, size_t size, const char *key, char *buf, uint32_t buf_size)
{
  const uint8_t *data;
  size_t len;
  if (!find_section(image, size, &data, &len)) return 0;
  std::string_view rest(reinterpret_cast<const char *>(data), len), k(key);
  while (!rest.empty()) {
    size_t end = rest.find('\0');
    std::string_view entry = rest.substr(0, end);
    if (entry.size() > k.size() && entry.substr(0, k.size()) == k && entry[k.size()] == '=') {
      std::string_view value = entry.substr(k.size() + 1);
      if (value.size() >= buf_size) return 0;
      std::memcpy(buf, value.data(), value.size());
      buf[value.size()] = '\0';
      return 1;
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return 0;
}

int UiVersionValue(const char *path, const char *key, char *buf, uint32_t size)
{
  own::file f;
  sys_file_stat_rec st;
  if (!sys_file_open_read(&f.fd, path) || !sys_file_stat(path, &st) || st.size == 0 ||
      st.size > UI_VERSION_FILE_MAX)
    return 0;
  void *image = mmap(nullptr, st.size, PROT_READ, MAP_PRIVATE, f.fd, 0);
  if (image == MAP_FAILED) return 0;
  int r = UiVersionValueIn(static_cast<const uint8_t *>(image), st.size, key, buf, size);
  munmap(image, st.size);
  return r;
}
}
