// Search criteria over the server's records.  Tokens, operator precedence
// and the test of one relation against one value are the object model's.
#include "didl_impl.h"

#include <cstring>
#include <string>

namespace {

const char *word(int index) { return avcp_didl_search_word_table[index]; }

bool token_is(const sys_stralloc_rec &t, int index) { return std::string_view(t.buf, t.len) == word(index); }

using token_rec = own::rec<sys_stralloc_rec, sys_stralloc_free>;

// Reads the relation whose name is the token just read and appends it to
// the node list and the output.
bool relation_read(didl_search *s, const char *text, uint32_t *pos, token_rec &tok, int allow_private)
{
  auto *node = static_cast<avcp_didl_search_relation *>(sys_alloc_zero(sizeof(avcp_didl_search_relation)));
  if (!node) return false;
  if (!sys_ptralloc_append(&s->nodes, node)) {
    sys_alloc_free(node);
    return false;
  }
  char *name, *attribute;
  avcp_didl_split_name_attribute(tok.buf, &name, &attribute);
  avcp_didl_name_pair pair;
  if (!didl_name_pair_checked(name, attribute, allow_private, &pair) || pair.element == DIDL_NAME(WILDCARD))
    return false;
  node->element = pair.element;
  node->attribute = pair.attribute;
  if (!avcp_didl_search_criteria_token_read(text, 0, pos, &tok)) return false;
  for (int i = AVCP_DIDL_SW_EQ; i <= AVCP_DIDL_SW_EXISTS && !node->op; i++)
    if (token_is(tok, i)) node->op = word(i);
  if (!node->op) return false;
  bool exists = node->op == word(AVCP_DIDL_SW_EXISTS);
  if (!avcp_didl_search_criteria_token_read(text, !exists, pos, &tok)) return false;
  if (exists && !token_is(tok, AVCP_DIDL_SW_TRUE) && !token_is(tok, AVCP_DIDL_SW_FALSE)) return false;
  // A file name that XML cannot carry comes in the form the answers give
  // it; the records hold its bytes.
  std::string raw;
  const char *operand =
      node->attribute == DIDL_NAME(AT_TARVO_FILENAME) && didl::filename_unescape(tok.buf, &raw) ? raw.c_str() : tok.buf;
  return sys_str_clone(operand, &node->operand) && sys_ptralloc_append(&s->postfix, node);
}

// A file name that XML cannot carry is listed as "%" and its bytes in
// "%XX" form: contains and doesNotContain take any part of that form as
// part of the name too.  An operand that was read into bytes (the form
// from its "%" on) is matched as bytes only.
bool filename_part_of(const avcp_didl_search_relation *node, const char *value)
{
  if (node->attribute != DIDL_NAME(AT_TARVO_FILENAME) ||
      (node->op != word(AVCP_DIDL_SW_CONTAINS) && node->op != word(AVCP_DIDL_SW_DOES_NOT_CONTAIN)) ||
      xml_gen_is_legal_value(value) || !node->operand || !xml_gen_is_legal_value(node->operand))
    return false;
  std::string listed;
  avcp_didl_search_relation contains = *node;
  contains.op = word(AVCP_DIDL_SW_CONTAINS);
  return didl::filename_escape(value, &listed) && avcp_didl_search_criteria_relation_eval(&contains, listed.c_str());
}

// One relation over an object: an attribute of the object is one value
// (or none); over properties, "exists false" wants no value,
// doesNotContain some values and every one free of the operand, and every
// other operator one value that satisfies it.
bool relation_holds(const avcp_didl_search_relation *node, const didl_object *object)
{
  avcp_didl_name_pair pair{node->element, node->attribute};
  if (!pair.element && !pair.attribute) return false;
  if (pair.attribute && didl::names_object(pair))
    return avcp_didl_search_criteria_relation_eval(node, didl::object_attribute(object, pair));
  bool not_contains = node->op == word(AVCP_DIDL_SW_DOES_NOT_CONTAIN);
  bool every = not_contains ||
               (node->op == word(AVCP_DIDL_SW_EXISTS) && !avcp_didl_search_criteria_relation_eval(node, ""));
  bool any_value = false, result = false;
  didl::property_values(object, pair, [&](const char *v) {
    any_value = true;
    result = filename_part_of(node, v) ? !not_contains : avcp_didl_search_criteria_relation_eval(node, v);
    return result == every;
  });
  if (!any_value) return !not_contains && avcp_didl_search_criteria_relation_eval(node, nullptr);
  return result;
}

}  // namespace

extern "C" {

int didl_search_parse(didl_search *record, const char *text, int allow_private)
{
  *record = didl_search{};
  if (!text || std::strlen(text) >= UINT32_MAX) return 0;
  if (!std::strcmp(text, "*")) return 1;
  own::rec<didl_search, didl_search_free> s;
  // Operators wait on a stack with their precedence: their own plus three
  // for every bracket open around them.
  own::ptralloc ops;
  own::uint32alloc precedences;
  uint32_t bonus = 0;
  bool last_relation = false;
  token_rec tok;
  for (uint32_t pos = 0;;) {
    if (!avcp_didl_search_criteria_token_read(text, 0, &pos, &tok)) return 0;
    if (!tok.len) break;
    if (token_is(tok, AVCP_DIDL_SW_OPEN)) {
      bonus += 3;
    } else if (token_is(tok, AVCP_DIDL_SW_CLOSE)) {
      if (!last_relation || !bonus) return 0;
      bonus -= 3;
    } else if (token_is(tok, AVCP_DIDL_SW_AND) || token_is(tok, AVCP_DIDL_SW_OR)) {
      if (!last_relation) return 0;
      const char *op = word(token_is(tok, AVCP_DIDL_SW_AND) ? AVCP_DIDL_SW_AND : AVCP_DIDL_SW_OR);
      uint32_t p = bonus + uint32_t(avcp_didl_search_criteria_precedence(op));
      for (; ops.len && precedences.buf[ops.len - 1] >= p; ops.len--, precedences.len--)
        if (!sys_ptralloc_append(&s.postfix, ops.buf[ops.len - 1])) return 0;
      if (!sys_ptralloc_append(&ops, const_cast<char *>(op)) || !sys_uint32alloc_append(&precedences, p)) return 0;
      last_relation = false;
    } else {
      if (!relation_read(&s, text, &pos, tok, allow_private)) return 0;
      last_relation = true;
    }
  }
  if (!last_relation) return 0;
  for (; ops.len; ops.len--)
    if (!sys_ptralloc_append(&s.postfix, ops.buf[ops.len - 1])) return 0;
  *record = s;
  s.forget();
  return 1;
}

int didl_search_match(const didl_search *record, const didl_object *object)
{
  const sys_ptralloc_rec &post = record->postfix;
  if (!post.len) return 1;
  // Each stack entry is a relation not yet evaluated, or the result of an
  // operator: the word "and" or "or" stands for false, nullptr for true.
  // Operands are evaluated only when an operator needs them.
  const void **stack = static_cast<const void **>(sys_alloc(sizeof(void *) * size_t(post.len)));
  if (!stack) return 0;
  const char *and_word = word(AVCP_DIDL_SW_AND), *or_word = word(AVCP_DIDL_SW_OR);
  auto value = [&](const void *e) {
    if (!e) return true;
    if (e == and_word || e == or_word) return false;
    return relation_holds(static_cast<const avcp_didl_search_relation *>(e), object);
  };
  uint32_t top = 0;
  bool ok = true;
  for (uint32_t i = 0; ok && i < post.len; i++) {
    const void *e = post.buf[i];
    if (e != and_word && e != or_word) {
      stack[top++] = e;
    } else if ((ok = top >= 2)) {
      bool a = value(stack[top - 2]);
      bool r = e == and_word ? a && value(stack[top - 1]) : a || value(stack[top - 1]);
      stack[--top - 1] = r ? nullptr : and_word;
    }
  }
  ok = ok && top == 1 && value(stack[0]);
  sys_alloc_free(stack);
  return ok;
}

void didl_search_strip_prefixes(didl_search *record, char *const *prefixes)
{
  if (!prefixes) return;
  for (uint32_t i = 0; i < record->nodes.len; i++) {
    auto *node = static_cast<avcp_didl_search_relation *>(record->nodes.buf[i]);
    avcp_didl_name_pair pair{node->element, node->attribute};
    if (didl_value_type(&pair) != AVCP_DIDL_TYPE_URI || !node->operand) continue;
    for (char *const *p = prefixes; *p; p++) {
      size_t n = std::strlen(*p);
      if (std::strncmp(node->operand, *p, n) || (node->operand[n] && node->operand[n] != '/')) continue;
      std::memmove(node->operand, node->operand + n, std::strlen(node->operand + n) + 1);
      break;
    }
  }
}

void didl_search_free(didl_search *record)
{
  if (!record) return;
  for (uint32_t i = 0; i < record->nodes.len; i++) {
    auto *node = static_cast<avcp_didl_search_relation *>(record->nodes.buf[i]);
    sys_alloc_free(node->operand);
    sys_alloc_free(node);
  }
  sys_ptralloc_free(&record->nodes);
  sys_ptralloc_free(&record->postfix);
  *record = didl_search{};
}

}  // extern "C"
