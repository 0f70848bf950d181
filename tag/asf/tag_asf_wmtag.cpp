// Placeholder until the ASF header walk lands: no file is read as ASF.
#include "tarvo_tag/tag_asf.h"

struct WMTag {
  char *collection_id;
};

extern "C" WMTag *WMTag_New(int) { return nullptr; }
extern "C" char *WMTag_GetWMCollectionID(WMTag *tag) { return tag ? tag->collection_id : nullptr; }
extern "C" void WMTag_Delete(WMTag *) {}
