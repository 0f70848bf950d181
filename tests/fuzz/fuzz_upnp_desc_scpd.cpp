// links: tarvo_util
// Service descriptions: both readers, and every check over what the full
// one found.
#include <tarvo_util/upnp_desc_scpd.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string xml(reinterpret_cast<const char *>(data), size);
  upnp_desc_scpd_rec *s = nullptr;
  if (upnp_desc_scpd_parse(xml.c_str(), &s)) upnp_desc_scpd_free(s);
  upnp_desc_scpd2_rec *s2 = nullptr;
  if (!upnp_desc_scpd2_parse(xml.c_str(), &s2)) return 0;
  for (upnp_desc_state_variable_rec **v = s2->state_variables; *v; v++) {
    if ((*v)->name && upnp_desc_scpd2_get_state_variable(s2, (*v)->name) == nullptr) __builtin_trap();
    for (int64_t x : {INT64_MIN, int64_t(-1), int64_t(0), int64_t(7), INT64_MAX}) {
      upnp_desc_scpd2_is_allowed_i2(*v, int16_t(x));
      upnp_desc_scpd2_is_allowed_ui2(*v, uint16_t(x));
      upnp_desc_scpd2_is_allowed_i4(*v, int32_t(x));
      upnp_desc_scpd2_is_allowed_ui4(*v, uint32_t(x));
      upnp_desc_scpd2_is_allowed_i8(*v, x);
      upnp_desc_scpd2_is_allowed_ui8(*v, uint64_t(x));
    }
    upnp_desc_scpd2_is_allowed_string(*v, "A");
  }
  upnp_desc_scpd2_free(s2);
  return 0;
}
