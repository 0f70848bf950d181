// Pieces shared by the object model's source files.
#pragma once

#include <tarvo_avcp/avcp_didl.h>

#include <expat.h>

#include <cstddef>
#include <string_view>

namespace avcp_didl {

// Feeds n bytes of text to the parser in pieces of AVCP_DIDL_PARSE_PIECE,
// the last one final; false when expat refuses a piece.
bool feed(XML_Parser parser, const char *text, size_t n);

// Interned name equal to text, or nullptr.
const char *element_find(std::string_view text);
const char *attribute_find(std::string_view text);

// The pair of avcp_didl_property_parameter_set, from texts that need not
// be NUL-terminated; the second form splits name@attribute first.
avcp_didl_name_pair pair_from(std::string_view element, std::string_view attribute);
avcp_didl_name_pair pair_from(std::string_view name);

// p is the table's name at index, by pointer or, for names that come from
// another table, by text.
bool is_name(const char *p, int index);

// The pair names the object itself: its element is NULL, "container" or
// "item".
bool names_object(const avcp_didl_name_pair &pair);
// The object's attribute that such a pair names; nullptr when the pair has
// no attribute, names the other kind of object, or the attribute is absent.
const char *object_attribute(const avcp_didl_object *object, const avcp_didl_name_pair &pair);

}  // namespace avcp_didl
