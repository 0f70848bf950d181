// The one escaper for every text the tool places inside a quoted literal of
// page script: names from the network and addresses among them.
#pragma once

#include <string>
#include <string_view>

// text as the inside of a single- or double-quoted script string: backslash,
// both quotes, CR, LF, U+2028, U+2029, "<" and every other control byte are
// escaped; any other text (plain names, addresses) comes out unchanged.
std::string js_string_escape(std::string_view text);
