// Character tests shared by the AV control point and the object model.
#include <tarvo_avcp/avcp_char.h>

extern "C" int avcp_char_is_space(signed char c)
{
  return c == ' ' || (c >= 9 && c <= 13);
}
