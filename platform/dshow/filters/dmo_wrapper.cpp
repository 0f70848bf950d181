// DMO wrapper: a transform filter that, once Init names one of the two
// decoder objects it knows, decodes what that object takes to 16-bit PCM at
// the input's rate, more than two channels folded to stereo.
//
// The decoder objects and the format tags they take are a table.  For
// tests, TARVO_DMO_WMA_TAGS and TARVO_DMO_VOICE_TAGS replace an object's
// tags with a list of hexadecimal tags separated by commas (empty: none),
// read when Init is called.
#include "sys_decoder.h"
#include "sys_filters.h"

#include <tarvo_dshow/dshow_sys.h>

#include <cstdlib>
#include <new>
#include <vector>

namespace {

struct DecoderObject {
  const CLSID *clsid;
  const char *test_tags;  // the variable that replaces the tags
  WORD tags[3];           // 0 ends the list
};

const DecoderObject decoder_objects[] = {
  {&CLSID_CWMADecMediaObject, "TARVO_DMO_WMA_TAGS", {WAVE_FORMAT_WMAUDIO1, WAVE_FORMAT_WMAUDIO2, WAVE_FORMAT_WMAUDIO3}},
  {&CLSID_CWMSPDecMediaObject, "TARVO_DMO_VOICE_TAGS", {WAVE_FORMAT_WMAVOICE9, 0, 0}},
};

// "161,0x0a": the tags of a test table; words that are no tag are skipped.
std::vector<WORD> parse_tags(const char *s)
{
  std::vector<WORD> tags;
  while (*s) {
    char *end = nullptr;
    unsigned long v = std::strtoul(s, &end, 16);
    if (end != s && v > 0 && v <= 0xFFFF) tags.push_back(WORD(v));
    s = end != s ? end : s + 1;
    while (*s == ',' || *s == ' ') s++;
  }
  return tags;
}

class DmoWrapper final : public SysDecoderFilter, public IDMOWrapperFilter {
 public:
  DmoWrapper(LPUNKNOWN outer, HRESULT *) : SysDecoderFilter("DMO wrapper", outer, CLSID_DMOWrapperFilter) {}
  DECLARE_IUNKNOWN

  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IDMOWrapperFilter) return GetInterface(static_cast<IDMOWrapperFilter *>(this), ppv);
    return SysDecoderFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT Init(REFCLSID clsidDMO, REFCLSID catDMO) override
  {
    CAutoLock l(m_csFilter);
    if (m_ready) return E_UNEXPECTED;
    if (catDMO != DMOCATEGORY_AUDIO_DECODER && catDMO != GUID_NULL) return REGDB_E_CLASSNOTREG;
    for (const DecoderObject &o : decoder_objects) {
      if (clsidDMO != *o.clsid) continue;
      try {
        if (const char *test = std::getenv(o.test_tags))
          m_tags = parse_tags(test);
        else
          for (WORD t : o.tags)
            if (t) m_tags.push_back(t);
      } catch (...) {
        return E_OUTOFMEMORY;
      }
      m_ready = true;
      return S_OK;
    }
    return REGDB_E_CLASSNOTREG;
  }

 protected:
  int TakesTag(WORD tag) override
  {
    CAutoLock l(m_csFilter);
    for (WORD t : m_tags)
      if (t == tag) return 1;
    return 0;
  }
  WORD OutputChannels(WORD channels) override { return channels > 2 ? 2 : channels; }

 private:
  bool m_ready = false;
  std::vector<WORD> m_tags;
};

}  // namespace

CUnknown *sys_new_dmo_wrapper(LPUNKNOWN outer, HRESULT *phr)
{
  return sys_create<DmoWrapper>(outer, phr);
}
