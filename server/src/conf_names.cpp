// Record names that come from requests: a file-type extension or a MAC
// address becomes a file name in the configuration store, so only the
// well-formed ones are taken.
#include <vennard/conf_store.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_str.h>

extern "C" {

int conf_extension_valid(const char *ext)
{
  if (!ext || !*ext) return 0;
  uint32_t n = 0;
  for (const char *c = ext; *c; c++, n++) {
    bool ok = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '-' ||
              *c == '_' || *c == '+';
    if (!ok || n >= CONF_EXTENSION_MAX) return 0;
  }
  return 1;
}

int conf_mac_valid(const char *mac)
{
  if (!mac) return 0;
  for (uint32_t i = 0; i < 17; i++) {
    bool ok = i % 3 == 2 ? mac[i] == '-' : sys_str_hex_digit(mac[i]) >= 0;
    if (!ok) return 0;
  }
  return mac[17] == 0;
}

}  // extern "C"
