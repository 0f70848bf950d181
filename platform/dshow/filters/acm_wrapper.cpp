// ACM wrapper: decodes MS and IMA ADPCM and MPEG layer 2 and 3 audio to
// 16-bit PCM of the same rate and channels.
#include "sys_decoder.h"
#include "sys_filters.h"

#include <tarvo_dshow/dshow_sys.h>

#include <new>

namespace {

class AcmWrapper final : public SysDecoderFilter {
 public:
  AcmWrapper(LPUNKNOWN outer, HRESULT *) : SysDecoderFilter("ACM wrapper", outer, CLSID_ACMWrapper) {}


 protected:
  int TakesTag(WORD tag) override
  {
    return tag == 2 || tag == 17 || tag == WAVE_FORMAT_MPEG || tag == WAVE_FORMAT_MPEGLAYER3;
  }
};

}  // namespace

CUnknown *sys_new_acm_wrapper(LPUNKNOWN outer, HRESULT *phr)
{
  return sys_create<AcmWrapper>(outer, phr);
}
