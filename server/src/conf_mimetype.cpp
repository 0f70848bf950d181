// The MIME type of a file, from the filetype record of its extension.
#include "conf_util.h"

#include <tarvo_util/dlna.h>

using namespace conf;

extern "C" int conf_mimetype(const char *data_home, const char *path, char **type)
{
  own::str folder;
  return conf_key_path(data_home, CONF_KEY_FILETYPE, &folder.s) && mimetype_from_path(folder.s, path, type);
}
