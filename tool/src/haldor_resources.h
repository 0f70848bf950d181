// The ids of haldor's compiled-in strings.
#pragma once

enum : unsigned {
  HALDOR_IDS_OLE_INIT_FAILED = 100,
  HALDOR_IDS_FOLDER_DIALOG_TITLE = 101,
  HALDOR_IDS_SETTING_XML = 102,
  HALDOR_IDS_PRODUCT_TITLE = 128,
  HALDOR_IDS_DOC_TEMPLATE = 57344,
};

// Hands the table to the desktop layer; first thing in main.
void haldor_resources_init();
