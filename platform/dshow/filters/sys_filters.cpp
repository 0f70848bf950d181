// The system filters' library: one factory table for all of them.
#include "sys_filters.h"

#include <tarvo_dshow/dshow_sys.h>

namespace {

const CFactoryTemplate templates[] = {
  {u"File Source (Async.)", &CLSID_AsyncReader, sys_new_file_source, nullptr, nullptr},
  {u"Wave Parser", &CLSID_WAVEParser, sys_new_wave_parser, nullptr, nullptr},
  {u"ACM Wrapper", &CLSID_ACMWrapper, sys_new_acm_wrapper, nullptr, nullptr},
  {u"WM ASF Reader", &CLSID_WMAsfReader, sys_new_asf_reader, nullptr, nullptr},
  {u"DMO Wrapper Filter", &CLSID_DMOWrapperFilter, sys_new_dmo_wrapper, nullptr, nullptr},
};

}  // namespace

TARVO_DSHOW_CLASS_OBJECT(templates, 5)
TARVO_DSHOW_REGISTRATION
