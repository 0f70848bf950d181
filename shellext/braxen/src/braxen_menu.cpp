// libbraxen.so: "Media Server Title Edit..." on one published media file;
// the title the user confirms goes into the file's sidecar, which the
// server's sidecar plug-in reads when it rescans the file.
#include <braxen/braxen_sidecar.h>
#include <shellext_common/server_check.h>
#include <tarvo_shellext/shellext.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/xml.h>

#include <cstring>
#include <string>

namespace {

const char *const item_label = "Media Server Title Edit...";

const shellext_registration registration = {
    "{C724DE8D-4CE5-428D-829D-170E7C3623ED}",
    "BraxenMenu Class",
    "Braxen.BraxenMenu",
    "Braxen.BraxenMenu.1",
    "{7A25F4B6-5DD6-47E2-B55D-35A8C75308D6}",
    "*/Shellex/ContextMenuHandlers/{C724DE8D-4CE5-428D-829D-170E7C3623ED}",
    nullptr,
    nullptr,
};

struct handler {
  std::string path;
};

std::string folder_of(const std::string &path)
{
  size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// The server's first object for the media file: 1 when the search found
// one; *title its dc:title text when it has one.
int find_object(tarvo_avcpl_handle *client, const std::string &media, std::string *title)
{
  char *criteria = braxen_filename_criteria(media.c_str());
  if (!criteria) return 0;
  avcp_didl_object_list list = nullptr;
  uint32_t returned = 0;
  uint32_t r = tarvo_avcpl_search(client, "0", criteria, "", 0, 1, "", &list, &returned, nullptr, nullptr);
  int found = r == 0 && returned != 0;
  if (found && title && list && list[0]) {
    avcp_didl_property *p = avcp_didl_property_find(list[0], "dc:title");
    if (p && p->text) *title = p->text;
  }
  if (r == 0) avcp_didl_object_list_free(list);
  sys_alloc_free(criteria);
  return found;
}

bool published(tarvo_avcpl_handle *client, const std::string &path)
{
  sys_str_list shares = nullptr;
  if (!shellext_server_service_running() || !shellext_server_active() || tarvo_avcpl_share_list(client, &shares))
    return false;
  sys_str_list_free(shares);
  int state = 0;
  if (tarvo_avcpl_share_state(client, folder_of(path).c_str(), &state) || !state) return false;
  return find_object(client, path.substr(0, braxen_media_length(path.c_str())), nullptr) != 0;
}

void *create(const char *const *paths, uint32_t count)
{
  if (count != 1 || !*paths[0] || std::strlen(paths[0]) >= SHELLEXT_PATH_MAX) return nullptr;
  return new handler{paths[0]};
}

uint32_t query(void *h, shellext_menu *menu, uint32_t index, uint32_t first, uint32_t, uint32_t flags)
{
  if (flags & SHELLEXT_CMF_DEFAULTONLY) return 0;
  tarvo_avcpl_handle client = nullptr;
  if (!shellext_client_open(&client)) return 0;
  uint32_t used = 0;
  if (published(&client, static_cast<handler *>(h)->path)) {
    shellext_menu_insert(menu, index, SHELLEXT_MF_SEPARATOR, 0, nullptr);
    shellext_menu_insert(menu, index + 1, 0, first, item_label);
    used = 1;
  }
  tarvo_avcpl_free(&client);
  return used;
}

int32_t command_string(void *, uint32_t, uint32_t, char *, uint32_t) { return SHELLEXT_S_OK; }

int32_t invoke(void *h, uint32_t offset)
{
  if (offset != 0) return SHELLEXT_E_INVALIDARG;
  const std::string &path = static_cast<handler *>(h)->path;
  std::string media = path.substr(0, braxen_media_length(path.c_str())), title;
  tarvo_avcpl_handle client = nullptr;
  if (!shellext_client_open(&client)) return SHELLEXT_E_INVALIDARG;
  find_object(&client, media, &title);
  tarvo_avcpl_free(&client);
  // The dialog shows a name that is not UTF-8 as the server lists it.
  own::str shown;
  if (!xml_gen_legal_copy(media.c_str() + media.rfind('/') + 1, &shown.s)) return SHELLEXT_S_OK;
  char *text = nullptr;
  if (!shellext_ui_title_edit(shown.s, title.c_str(), &text)) return SHELLEXT_S_OK;
  braxen_trim_title(text);
  int32_t r = SHELLEXT_S_OK;
  if (title != text) r = braxen_write_sidecar(media.c_str(), text);
  sys_alloc_free(text);
  return r;
}

void release(void *h) { delete static_cast<handler *>(h); }

const shellext_class braxen_class = {"TarvoBraxenMenu", 0, create, query, command_string, invoke, release};

}  // namespace

SHELLEXT_DEFINE_MODULE(braxen_class)

SHELLEXT_DEFINE_REGISTRATION(registration)
