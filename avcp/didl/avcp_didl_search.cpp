// Search criteria: tokenizer, parser into a postfix sequence, matcher.
#include "avcp_didl_impl.h"

#include <tarvo_avcp/avcp_char.h>
#include <tarvo_avcp/avcp_didl_criteria.h>
#include <tarvo_avcp/avcp_limits.h>
#include <tarvo_util/sys_owner.h>

#include <cstring>
#include <memory>

extern "C" const char *const avcp_didl_search_word_table[AVCP_DIDL_SW_COUNT] = {
    "and", "or", "=", "!=", "<", "<=", ">", ">=", "contains", "doesNotContain", "derivedfrom", "exists",
    "(", ")", "true", "false"};

namespace {

const char *word(int index) { return avcp_didl_search_word_table[index]; }

// Index of an operator word, by pointer or else by text; -1 when it is none.
int word_index(const char *op)
{
  if (!op) return -1;
  for (int i = 0; i < AVCP_DIDL_SW_COUNT; i++)
    if (op == word(i)) return i;
  for (int i = 0; i < AVCP_DIDL_SW_COUNT; i++)
    if (!std::strcmp(op, word(i))) return i;
  return -1;
}

bool token_is(const sys_stralloc_rec &t, int index)
{
  return std::string_view(t.buf, t.len) == word(index);
}

// Sign and digits of an integer text: an optional single sign, then one
// or more decimal digits and nothing else.
struct integer_text {
  bool negative;
  std::string_view digits;  // without leading zeros; empty for zero
};

bool integer_read(const char *s, integer_text *out)
{
  std::string_view t(s);
  out->negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    out->negative = t[0] == '-';
    t.remove_prefix(1);
  }
  if (t.empty()) return false;
  for (char c : t)
    if (c < '0' || c > '9') return false;
  size_t nz = t.find_first_not_of('0');
  out->digits = nz == std::string_view::npos ? std::string_view() : t.substr(nz);
  if (out->digits.empty()) out->negative = false;
  return true;
}

// Exact order of two integers of any length.
int integer_compare(const integer_text &a, const integer_text &b)
{
  if (a.negative != b.negative) return a.negative ? -1 : 1;
  int mag = a.digits.size() != b.digits.size() ? (a.digits.size() < b.digits.size() ? -1 : 1)
                                                : a.digits.compare(b.digits);
  mag = mag < 0 ? -1 : mag > 0;
  return a.negative ? -mag : mag;
}

int ordering(const char *value, const char *operand)
{
  integer_text a, b;
  if (integer_read(value, &a) && integer_read(operand, &b)) return integer_compare(a, b);
  return sys_str_case_diff(value, operand);
}

bool contains(const char *value, const char *operand)
{
  if (!*value) return false;
  return sys_str_case_find(value, operand) < sys_str_len(value) || !*operand;
}

void node_free(avcp_didl_search_relation *node)
{
  if (!node) return;
  sys_alloc_free(node->operand);
  sys_alloc_free(node);
}

void criteria_free(avcp_didl_search_criteria *c)
{
  for (uint32_t i = 0; i < c->nodes.len; i++) node_free(static_cast<avcp_didl_search_relation *>(c->nodes.buf[i]));
  sys_ptralloc_free(&c->nodes);
  sys_ptralloc_free(&c->postfix);
  sys_alloc_free(c);
}

struct criteria_deleter {
  void operator()(avcp_didl_search_criteria *c) const { criteria_free(c); }
};
using criteria_ptr = std::unique_ptr<avcp_didl_search_criteria, criteria_deleter>;

using token_rec = own::rec<sys_stralloc_rec, sys_stralloc_free>;

// Reads the relation whose name is the token just read, and appends it to
// the node list and the output.
bool relation_read(avcp_didl_search_criteria *c, const char *text, uint32_t *pos, token_rec &tok)
{
  auto *node = static_cast<avcp_didl_search_relation *>(sys_alloc_zero(sizeof(avcp_didl_search_relation)));
  if (!node) return false;
  if (!sys_ptralloc_append(&c->nodes, node)) {
    sys_alloc_free(node);
    return false;
  }
  avcp_didl_name_pair pair = avcp_didl::pair_from(std::string_view(tok.buf, tok.len));
  node->element = pair.element;
  node->attribute = pair.attribute;
  if (!avcp_didl_search_criteria_token_read(text, 0, pos, &tok)) return false;
  int op = -1;
  for (int i = AVCP_DIDL_SW_EQ; i <= AVCP_DIDL_SW_EXISTS && op < 0; i++)
    if (token_is(tok, i)) op = i;
  if (op < 0) return false;
  node->op = word(op);
  if (!avcp_didl_search_criteria_token_read(text, op != AVCP_DIDL_SW_EXISTS, pos, &tok)) return false;
  if (op == AVCP_DIDL_SW_EXISTS && !token_is(tok, AVCP_DIDL_SW_TRUE) && !token_is(tok, AVCP_DIDL_SW_FALSE))
    return false;
  return sys_str_clone(tok.buf, &node->operand) && sys_ptralloc_append(&c->postfix, node);
}

// Relations and interim results on the matcher's stack.
struct stack_entry {
  const avcp_didl_search_relation *node;  // nullptr: value holds the result
  bool value;
};

bool relation_holds(const avcp_didl_search_relation *node, const avcp_didl_object *object)
{
  avcp_didl_name_pair pair{node->element, node->attribute};
  if (!pair.element && !pair.attribute) return false;
  if (pair.attribute && avcp_didl::names_object(pair))
    return avcp_didl_search_criteria_relation_eval(node, avcp_didl::object_attribute(object, pair));
  // Over the values of several properties: "exists false" wants none,
  // doesNotContain wants some and all of them free of the operand, every
  // other relation one value that satisfies it.
  int op = word_index(node->op);
  bool absent_wanted = op == AVCP_DIDL_SW_EXISTS && !avcp_didl_search_criteria_relation_eval(node, "");
  bool any_value = false;
  if (object->properties)
    for (avcp_didl_property **p = object->properties; *p; p++) {
      if ((*p)->element != pair.element) continue;
      const char *v =
          pair.attribute ? avcp_didl_attribute_find((*p)->attribute_names, (*p)->attribute_values, pair.attribute)
                         : (*p)->text;
      if (!v) continue;
      any_value = true;
      bool holds = avcp_didl_search_criteria_relation_eval(node, v);
      if (op == AVCP_DIDL_SW_DOES_NOT_CONTAIN || absent_wanted) {
        if (!holds) return false;
      } else if (holds) {
        return true;
      }
    }
  if (absent_wanted) return true;
  return op == AVCP_DIDL_SW_DOES_NOT_CONTAIN && any_value;
}

bool entry_value(const stack_entry &e, const avcp_didl_object *object)
{
  return e.node ? relation_holds(e.node, object) : e.value;
}

}  // namespace

extern "C" {

int avcp_didl_search_criteria_token_read(const char *text, int quoted, uint32_t *position, sys_stralloc_rec *token)
{
  token->len = 0;
  uint32_t i = *position;
  while (avcp_char_is_space(static_cast<signed char>(text[i]))) i++;
  bool ok = true;
  if (!text[i]) {
    // nothing left: an empty token
  } else if (!quoted) {
    if (text[i] == '(' || text[i] == ')') {
      ok = sys_stralloc_catb(token, text + i, 1);
      i++;
    } else {
      uint32_t start = i;
      while (text[i] && text[i] != ')' && !avcp_char_is_space(static_cast<signed char>(text[i]))) i++;
      ok = sys_stralloc_catb(token, text + start, i - start);
    }
  } else {
    if (text[i] != '"') return 0;
    for (i++;; i++) {
      if (!text[i]) return 0;
      if (text[i] == '"') break;
      if (text[i] == '\\') {
        if (!text[i + 1]) return 0;
        i++;
      }
      if (!sys_stralloc_catb(token, text + i, 1)) return 0;
    }
    i++;
  }
  if (!ok || !sys_stralloc_readyplus(token, 1)) return 0;
  token->buf[token->len] = 0;
  *position = i;
  return 1;
}

int avcp_didl_search_criteria_precedence(const char *op)
{
  int i = word_index(op);
  return i == AVCP_DIDL_SW_OR ? 1 : i == AVCP_DIDL_SW_AND ? 2 : 0;
}

int avcp_didl_search_criteria_relation_eval(const avcp_didl_search_relation *node, const char *value)
{
  int op = word_index(node->op);
  const char *operand = node->operand ? node->operand : "";
  if (op == AVCP_DIDL_SW_EXISTS) return !std::strcmp(operand, word(AVCP_DIDL_SW_TRUE)) ? value != nullptr : !value;
  if (!value) return op == AVCP_DIDL_SW_DOES_NOT_CONTAIN;
  switch (op) {
    case AVCP_DIDL_SW_CONTAINS: return contains(value, operand);
    case AVCP_DIDL_SW_DOES_NOT_CONTAIN: return !contains(value, operand);
    case AVCP_DIDL_SW_DERIVED_FROM:
      return avcp_didl::is_name(node->element, AVCP_DIDL_EL_UPNP_CLASS) && !node->attribute &&
             avcp_didl_derived_from(value, operand);
    case AVCP_DIDL_SW_EQ: return ordering(value, operand) == 0;
    case AVCP_DIDL_SW_NE: return ordering(value, operand) != 0;
    case AVCP_DIDL_SW_LT: return ordering(value, operand) < 0;
    case AVCP_DIDL_SW_LE: return ordering(value, operand) <= 0;
    case AVCP_DIDL_SW_GT: return ordering(value, operand) > 0;
    case AVCP_DIDL_SW_GE: return ordering(value, operand) >= 0;
    default: return 0;
  }
}

int avcp_didl_search_criteria_parse(avcp_didl_search_criteria **handle, const char *criteria_text)
{
  *handle = nullptr;
  if (!criteria_text || std::strlen(criteria_text) >= UINT32_MAX) return 0;
  criteria_ptr c(static_cast<avcp_didl_search_criteria *>(sys_alloc_zero(sizeof(avcp_didl_search_criteria))));
  if (!c) return 0;
  if (!std::strcmp(criteria_text, "*")) {
    *handle = c.release();
    return 1;
  }
  // Operators wait on a stack beside the bracket level they stood at;
  // their precedence is three per level plus their own.
  own::ptralloc ops;
  own::uint32alloc levels;
  auto precedence = [&](uint32_t i) {
    return uint64_t(levels.buf[i]) * 3 + uint64_t(avcp_didl_search_criteria_precedence(static_cast<char *>(ops.buf[i])));
  };
  uint32_t level = 0;
  bool last_relation = false;
  token_rec tok;
  uint32_t pos = 0;
  for (;;) {
    if (!avcp_didl_search_criteria_token_read(criteria_text, 0, &pos, &tok)) return 0;
    if (!tok.len) break;
    if (token_is(tok, AVCP_DIDL_SW_OPEN)) {
      level++;
    } else if (token_is(tok, AVCP_DIDL_SW_CLOSE)) {
      if (!last_relation || !level) return 0;
      level--;
    } else if (token_is(tok, AVCP_DIDL_SW_AND) || token_is(tok, AVCP_DIDL_SW_OR)) {
      if (!last_relation) return 0;
      const char *op = word(token_is(tok, AVCP_DIDL_SW_AND) ? AVCP_DIDL_SW_AND : AVCP_DIDL_SW_OR);
      uint64_t p = uint64_t(level) * 3 + uint64_t(avcp_didl_search_criteria_precedence(op));
      while (ops.len && precedence(ops.len - 1) >= p) {
        if (!sys_ptralloc_append(&c->postfix, ops.buf[ops.len - 1])) return 0;
        ops.len--;
        levels.len--;
      }
      if (!sys_ptralloc_append(&ops, const_cast<char *>(op)) || !sys_uint32alloc_append(&levels, level)) return 0;
      last_relation = false;
    } else {
      if (!relation_read(c.get(), criteria_text, &pos, tok)) return 0;
      last_relation = true;
    }
  }
  if (!last_relation) return 0;
  while (ops.len) {
    if (!sys_ptralloc_append(&c->postfix, ops.buf[ops.len - 1])) return 0;
    ops.len--;
  }
  *handle = c.release();
  return 1;
}

int avcp_didl_search_criteria_match(avcp_didl_search_criteria *const *handle, const avcp_didl_object *object)
{
  if (!handle || !*handle) return 1;
  const sys_ptralloc_rec &post = (*handle)->postfix;
  if (!post.len) return 1;
  stack_entry inline_stack[AVCP_DIDL_SEARCH_STACK_INLINE];
  stack_entry *stack = inline_stack;
  own::ptr<stack_entry, sys_alloc_free> heap;
  if (post.len > AVCP_DIDL_SEARCH_STACK_INLINE) {
    heap.p = static_cast<stack_entry *>(sys_alloc(sizeof(stack_entry) * size_t(post.len)));
    if (!heap.p) return 0;
    stack = heap.p;
  }
  const char *and_word = word(AVCP_DIDL_SW_AND), *or_word = word(AVCP_DIDL_SW_OR);
  uint32_t top = 0;
  for (uint32_t i = 0; i < post.len; i++) {
    const void *e = post.buf[i];
    if (e != and_word && e != or_word) {
      stack[top++] = {static_cast<const avcp_didl_search_relation *>(e), false};
      continue;
    }
    if (top < 2) return 0;
    // The second operand is evaluated only when the first leaves the
    // result open.
    bool a = entry_value(stack[top - 2], object);
    bool r = e == and_word ? a && entry_value(stack[top - 1], object) : a || entry_value(stack[top - 1], object);
    top -= 2;
    stack[top++] = {nullptr, r};
  }
  return top == 1 && entry_value(stack[0], object);
}

void avcp_didl_search_criteria_free(avcp_didl_search_criteria **handle)
{
  if (!handle || !*handle) return;
  criteria_free(*handle);
  *handle = nullptr;
}

}  // extern "C"
