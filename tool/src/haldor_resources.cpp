// haldor's compiled-in strings in English and Japanese, and its version record.
#include "haldor_resources.h"

#include <tarvo_ui/ui_resource.h>

TARVO_VERSION_INFO("Tarvo Media Server Tool", "1.0.0");

namespace {

const UI_RESOURCE_ROW strings[] = {
    {0, HALDOR_IDS_OLE_INIT_FAILED,
     "Failed to initialise OLE. Make sure the OLE libraries are the right version.",
     "OLE の初期化に失敗しました。OLE ライブラリのバージョンが正しいことを確認してください。"},
    {0, HALDOR_IDS_FOLDER_DIALOG_TITLE, "Select the folder to publish.", "公開するフォルダを選択してください。"},
    {0, HALDOR_IDS_SETTING_XML, "./setting.xml", nullptr},
    {0, HALDOR_IDS_PRODUCT_TITLE, "Tarvo Media Server Tool", nullptr},
    {0, HALDOR_IDS_DOC_TEMPLATE, "Haldor2", nullptr},
};

const UI_RESOURCE_TABLE table = {strings, sizeof strings / sizeof strings[0], nullptr, 0, nullptr, 0};

}  // namespace

void haldor_resources_init() { UiSetResources(&table); }
