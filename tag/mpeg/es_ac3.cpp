// AC-3: the sync information and the bit stream information after it.
#include "es_impl.h"

namespace es {

int ac3_complete(const void *record)
{
  return static_cast<const es_audio_info *>(record)->ac3_sync.syncword != 0;
}

int ac3_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed)
{
  auto *a = static_cast<es_audio_info *>(record);
  const unsigned char *p = payload->buf;
  uint32_t len = payload->len;
  if (already_complete(ac3_complete, a, payload, consumed)) return ES_RESULT_COMPLETE;
  uint32_t at = 0;
  while (at + 1 < len && !(p[at] == 0x0B && p[at + 1] == 0x77)) at++;
  if (at + 1 >= len) {
    // The last byte may be the first of a sync word.
    *consumed = len > 0 ? len - 1 : 0;
    return ES_RESULT_MORE;
  }
  bits b(p + at, len - at);
  ac3_sync_info s{};
  s.syncword = uint16_t(b.get(16));
  b.skip(16);
  s.fscod = uint8_t(b.get(2));
  s.frmsizecod = uint8_t(b.get(6));
  ac3_bsi i{};
  i.bsid = uint8_t(b.get(5));
  i.bsmod = uint8_t(b.get(3));
  i.acmod = uint8_t(b.get(3));
  if ((i.acmod & 1) && i.acmod != 1) b.skip(2);
  if (i.acmod & 4) b.skip(2);
  if (i.acmod == 2) b.skip(2);
  i.lfeon = uint8_t(b.get(1));
  if (!b.ok()) {
    *consumed = at;
    return ES_RESULT_MORE;
  }
  a->ac3_sync = s;
  a->ac3 = i;
  return ES_RESULT_COMPLETE;
}

}  // namespace es
