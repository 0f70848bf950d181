// Service descriptions: the short and the full reader, and the checks of a
// value against a state variable.
#include <tarvo_util/upnp_desc_scpd.h>

#include <limits>
#include <type_traits>

#include "xml_internal.h"

namespace {

// What an open element is to the readers.
enum role : uint8_t {
  R_SKIP,
  R_SCPD,
  R_ACTIONS,
  R_ACTION,
  R_VARIABLES,
  R_VARIABLE,
  R_NAME,       // name of an action or a variable
  R_DATA_TYPE,  // full reader only, from here on
  R_RANGE,
  R_MINIMUM,
  R_MAXIMUM,
  R_STEP,
  R_LIST,
  R_ALLOWED
};

// Below allowedValue and its siblings nothing is looked at.
constexpr uint32_t kMaxRoleDepth = 5;

// Shared by both readers: the role of every open element down to the depth
// where nothing more is looked at.
struct scpd_walk : xml_walk {
  role roles[kMaxRoleDepth] = {};

  role parent() const { return depth >= 2 && depth - 2 < kMaxRoleDepth ? roles[depth - 2] : R_SKIP; }
  role current() const { return depth >= 1 && depth - 1 < kMaxRoleDepth ? roles[depth - 1] : R_SKIP; }

  // Decides the role of the element just opened from its parent's; skips
  // what has none.  The root must be scpd.
  void place(role r)
  {
    if (depth == 1 && r != R_SCPD)
      fail();
    else if (r == R_SKIP || depth > kMaxRoleDepth)
      skip();
    else
      roles[depth - 1] = r;
  }

  // The role a child takes under its parent, before the full reader's
  // extra rules.
  role child_role(const xml_name_rec *name, bool full) const
  {
    auto is = [name](const char *local) { return xml_name_is(name, UPNP_DESC_SERVICE_NS, local); };
    if (depth == 1) return is("scpd") ? R_SCPD : R_SKIP;
    switch (parent()) {
    case R_SCPD: return is("actionList") ? R_ACTIONS : is("serviceStateTable") ? R_VARIABLES : R_SKIP;
    case R_ACTIONS: return is("action") ? R_ACTION : R_SKIP;
    case R_VARIABLES: return is("stateVariable") ? R_VARIABLE : R_SKIP;
    case R_ACTION: return is("name") ? R_NAME : R_SKIP;
    case R_VARIABLE:
      if (is("name")) return R_NAME;
      if (!full) return R_SKIP;
      return is("dataType") ? R_DATA_TYPE : is("allowedValueRange") ? R_RANGE : is("allowedValueList") ? R_LIST : R_SKIP;
    case R_RANGE: return is("minimum") ? R_MINIMUM : is("maximum") ? R_MAXIMUM : is("step") ? R_STEP : R_SKIP;
    case R_LIST: return is("allowedValue") ? R_ALLOWED : R_SKIP;
    default: return R_SKIP;
    }
  }

  // The element's text as a heap string, exactly as it stood.
  char *text_copy()
  {
    char *s = nullptr;
    take_text(&s, false);
    return s;
  }
};

bool evented(const xml_name_rec *const *attr_names, const char *const *attr_values)
{
  const char *v = xml_attribute(attr_names, attr_values, UPNP_DESC_SERVICE_NS, "sendEvents");
  return !v || !sys_str_diff(v, "yes");
}

struct short_reader : scpd_walk {
  xml_str_list actions, evented_names;

  bool complete() const { return actions.present && evented_names.present; }
  bool hand_over(upnp_desc_scpd_rec *s)
  {
    return actions.finish(&s->action_names) && evented_names.finish(&s->evented_variable_names);
  }

  void on_start(const xml_name_rec *name, const xml_name_rec *const *an, const char *const *av) override
  {
    role r = child_role(name, false);
    if (r == R_VARIABLE && !evented(an, av)) r = R_SKIP;
    place(r);
  }

  void on_end(const xml_name_rec *) override
  {
    switch (current()) {
    case R_NAME: {
      char *s = text_copy();
      if (s && !(parent() == R_ACTION ? actions : evented_names).add(s)) fail();
      break;
    }
    case R_ACTIONS: actions.present = true; break;
    case R_VARIABLES: evented_names.present = true; break;
    default: break;
    }
  }
};

void free_range(upnp_desc_value_range_rec *r)
{
  if (!r) return;
  sys_alloc_free(r->minimum);
  sys_alloc_free(r->maximum);
  sys_alloc_free(r->step);
  sys_alloc_free(r);
}

void free_variable(upnp_desc_state_variable_rec *v)
{
  if (!v) return;
  sys_alloc_free(v->send_events);
  sys_alloc_free(v->name);
  sys_alloc_free(v->data_type);
  free_range(v->range);
  sys_str_list_free(v->allowed_values);
  sys_alloc_free(v->reserved);
  sys_alloc_free(v);
}

struct full_reader : scpd_walk {
  xml_str_list actions, allowed;
  xml_owned_list<upnp_desc_state_variable_rec, free_variable> variables;
  upnp_desc_state_variable_rec *var = nullptr;  // the open stateVariable

  ~full_reader() override { free_variable(var); }

  bool complete() const { return actions.present && variables.present; }
  bool hand_over(upnp_desc_scpd2_rec *s)
  {
    return actions.finish(&s->action_names) && variables.finish(&s->state_variables);
  }

  // A field that may appear once: a second one fails the parse.
  bool once(char **field)
  {
    if (*field) {
      fail();
      return false;
    }
    return true;
  }

  void on_start(const xml_name_rec *name, const xml_name_rec *const *an, const char *const *av) override
  {
    role r = child_role(name, true);
    place(r);
    if (failed || skip_from) return;
    switch (r) {
    case R_ACTIONS:
    case R_VARIABLES:
      if ((r == R_ACTIONS ? actions.present : variables.present)) fail();
      break;
    case R_VARIABLE: {
      var = xml_zalloc<upnp_desc_state_variable_rec>();
      if (!var || !sys_str_clone(xml_attribute(an, av, UPNP_DESC_SERVICE_NS, "sendEvents"), &var->send_events))
        fail();
      break;
    }
    case R_RANGE:
      if (var->range) {
        fail();
        break;
      }
      var->range = xml_zalloc<upnp_desc_value_range_rec>();
      if (!var->range) fail();
      break;
    case R_LIST:
      if (allowed.present) fail();
      allowed.present = true;
      break;
    default: break;
    }
  }

  // Stores the text into a field that may be set once.
  void set_once(char **field)
  {
    if (once(field)) *field = text_copy();
  }

  void on_end(const xml_name_rec *) override
  {
    switch (current()) {
    case R_NAME:
      if (parent() == R_ACTION) {
        char *s = text_copy();
        if (s && !actions.add(s)) fail();
      } else {
        set_once(&var->name);
      }
      break;
    case R_DATA_TYPE: set_once(&var->data_type); break;
    case R_MINIMUM: set_once(&var->range->minimum); break;
    case R_MAXIMUM: set_once(&var->range->maximum); break;
    case R_STEP: set_once(&var->range->step); break;
    case R_ALLOWED: {
      char *s = text_copy();
      if (s && !allowed.add(s)) fail();
      break;
    }
    case R_LIST:
      if (!allowed.finish(&var->allowed_values)) fail();
      break;
    case R_VARIABLE:
      allowed.present = false;
      if (!variables.add(var)) fail();
      var = nullptr;
      break;
    case R_ACTIONS: actions.present = true; break;
    case R_VARIABLES: variables.present = true; break;
    default: break;
    }
  }
};

template <class T> struct type_name;
template <> struct type_name<int16_t> { static constexpr const char *v = "i2"; };
template <> struct type_name<uint16_t> { static constexpr const char *v = "ui2"; };
template <> struct type_name<int32_t> { static constexpr const char *v = "i4"; };
template <> struct type_name<uint32_t> { static constexpr const char *v = "ui4"; };
template <> struct type_name<int64_t> { static constexpr const char *v = "i8"; };
template <> struct type_name<uint64_t> { static constexpr const char *v = "ui8"; };

// A step of 0 (or one the description leaves unreadable as positive) puts
// no condition beyond the bounds; a negative step counts by its size.
template <class T> int is_allowed(const upnp_desc_state_variable_rec *v, T value)
{
  using U = std::make_unsigned_t<T>;
  if (!v->data_type || sys_str_diff(v->data_type, type_name<T>::v)) return 0;
  if (const upnp_desc_value_range_rec *r = v->range) {
    T lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max(), step = 1;
    if ((r->minimum && !xml_scan_decimal(r->minimum, &lo)) || (r->maximum && !xml_scan_decimal(r->maximum, &hi)) ||
        (r->step && !xml_scan_decimal(r->step, &step)))
      return 0;
    if (value < lo || value > hi) return 0;
    U size = step < 0 ? U(U(0) - U(step)) : U(step);
    return !size || U(U(value) - U(lo)) % size == 0;
  }
  if (sys_str_list list = v->allowed_values) {
    for (; *list; list++) {
      T entry;
      if (!xml_scan_decimal(*list, &entry)) return 0;
      if (entry == value) return 1;
    }
    return 0;
  }
  return 1;
}

// Both tables must have been there; on any failure nothing is handed out.
template <class Reader, class Rec> int parse(const char *xml, Rec **out, void (*release)(Rec *))
{
  *out = nullptr;
  Reader r;
  if (!xml_walk_run(&r, xml) || !r.complete()) return 0;
  Rec *s = xml_zalloc<Rec>();
  if (!s) return 0;
  if (!r.hand_over(s)) {
    release(s);
    return 0;
  }
  *out = s;
  return 1;
}

}  // namespace

extern "C" {

int upnp_desc_scpd_parse(const char *xml, upnp_desc_scpd_rec **scpd)
{
  return parse<short_reader>(xml, scpd, upnp_desc_scpd_free);
}

void upnp_desc_scpd_free(upnp_desc_scpd_rec *scpd)
{
  if (!scpd) return;
  sys_str_list_free(scpd->action_names);
  sys_str_list_free(scpd->evented_variable_names);
  sys_alloc_free(scpd);
}

int upnp_desc_scpd2_parse(const char *xml, upnp_desc_scpd2_rec **scpd2)
{
  return parse<full_reader>(xml, scpd2, upnp_desc_scpd2_free);
}

void upnp_desc_scpd2_free(upnp_desc_scpd2_rec *scpd2)
{
  if (!scpd2) return;
  sys_str_list_free(scpd2->action_names);
  if (scpd2->state_variables)
    for (upnp_desc_state_variable_rec **v = scpd2->state_variables; *v; v++) free_variable(*v);
  sys_alloc_free(scpd2->state_variables);
  sys_alloc_free(scpd2);
}

upnp_desc_state_variable_rec *upnp_desc_scpd2_get_state_variable(const upnp_desc_scpd2_rec *scpd2, const char *name)
{
  for (upnp_desc_state_variable_rec **v = scpd2->state_variables; v && *v; v++)
    if ((*v)->name && !sys_str_diff((*v)->name, name)) return *v;
  return nullptr;
}

int upnp_desc_scpd2_is_allowed_i2(const upnp_desc_state_variable_rec *v, int16_t x) { return is_allowed(v, x); }
int upnp_desc_scpd2_is_allowed_ui2(const upnp_desc_state_variable_rec *v, uint16_t x) { return is_allowed(v, x); }
int upnp_desc_scpd2_is_allowed_i4(const upnp_desc_state_variable_rec *v, int32_t x) { return is_allowed(v, x); }
int upnp_desc_scpd2_is_allowed_ui4(const upnp_desc_state_variable_rec *v, uint32_t x) { return is_allowed(v, x); }
int upnp_desc_scpd2_is_allowed_i8(const upnp_desc_state_variable_rec *v, int64_t x) { return is_allowed(v, x); }
int upnp_desc_scpd2_is_allowed_ui8(const upnp_desc_state_variable_rec *v, uint64_t x) { return is_allowed(v, x); }

int upnp_desc_scpd2_is_allowed_string(const upnp_desc_state_variable_rec *v, const char *value)
{
  if (!v->data_type || sys_str_diff(v->data_type, "string")) return 0;
  if (!v->allowed_values) return 1;
  return v->allowed_values[sys_str_list_find(v->allowed_values, value)] != nullptr;
}

}  // extern "C"
