#include <gtest/gtest.h>

#include <tarvo_util/upnp_desc_scpd.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> list(sys_str_list l)
{
  std::vector<std::string> v;
  for (; l && *l; l++) v.push_back(*l);
  return v;
}

std::string scpd(const std::string &actions, const std::string &variables)
{
  return "<?xml version=\"1.0\"?>\n<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">"
         "<specVersion><major>1</major><minor>0</minor></specVersion>" +
         actions + variables + "</scpd>";
}

const std::string kActions = "<actionList>"
                             "<action><name>Browse</name><argumentList><argument><name>ObjectID</name>"
                             "</argument></argumentList></action>"
                             "<action><x:name xmlns:x=\"urn:other\">Hidden</x:name><name>Search</name></action>"
                             "</actionList>";

const std::string kVariables = "<serviceStateTable>"
                               "<stateVariable sendEvents=\"no\"><name>A_ARG_TYPE_ObjectID</name>"
                               "<dataType>string</dataType></stateVariable>"
                               "<stateVariable><name>SystemUpdateID</name><dataType>ui4</dataType></stateVariable>"
                               "<stateVariable sendEvents=\"yes\"><name> ContainerUpdateIDs </name>"
                               "<dataType>string</dataType></stateVariable>"
                               "<stateVariable sendEvents=\"YES\"><name>Shouting</name></stateVariable>"
                               "</serviceStateTable>";

TEST(Scpd, ShortFormListsActionsAndEventedVariables)
{
  upnp_desc_scpd_rec *s = nullptr;
  ASSERT_TRUE(upnp_desc_scpd_parse(scpd(kActions, kVariables).c_str(), &s));
  EXPECT_EQ(list(s->action_names), (std::vector<std::string>{"Browse", "Search"}));
  EXPECT_EQ(list(s->evented_variable_names), (std::vector<std::string>{"SystemUpdateID", " ContainerUpdateIDs "}));
  upnp_desc_scpd_free(s);

  ASSERT_TRUE(upnp_desc_scpd_parse(scpd("<actionList/>", kVariables).c_str(), &s));
  ASSERT_NE(s->action_names, nullptr);
  EXPECT_EQ(s->action_names[0], nullptr);
  upnp_desc_scpd_free(s);
}

TEST(Scpd, BothFormsRefuseIncompleteOrForeignDocuments)
{
  const std::string bad[] = {
      scpd("", kVariables),
      scpd(kActions, ""),
      "<scpd><actionList/><serviceStateTable/></scpd>",
      "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><actionList/><serviceStateTable/>",
      "<root xmlns=\"urn:schemas-upnp-org:service-1-0\"><actionList/><serviceStateTable/></root>",
  };
  for (const std::string &doc : bad) {
    upnp_desc_scpd_rec *s = reinterpret_cast<upnp_desc_scpd_rec *>(1);
    upnp_desc_scpd2_rec *s2 = reinterpret_cast<upnp_desc_scpd2_rec *>(1);
    EXPECT_FALSE(upnp_desc_scpd_parse(doc.c_str(), &s)) << doc;
    EXPECT_EQ(s, nullptr);
    EXPECT_FALSE(upnp_desc_scpd2_parse(doc.c_str(), &s2)) << doc;
    EXPECT_EQ(s2, nullptr);
  }
}

TEST(Scpd, FullFormKeepsEveryVariableAsWritten)
{
  const std::string vars = "<serviceStateTable>"
                           "<stateVariable sendEvents=\"no\"><name>Volume</name><dataType>ui2</dataType>"
                           "<allowedValueRange><minimum>0</minimum><maximum> 100 </maximum><step>1</step>"
                           "</allowedValueRange></stateVariable>"
                           "<stateVariable><name>Mode</name><dataType>string</dataType><defaultValue>A</defaultValue>"
                           "<allowedValueList><allowedValue>A</allowedValue><allowedValue>B</allowedValue>"
                           "</allowedValueList></stateVariable>"
                           "</serviceStateTable>";
  upnp_desc_scpd2_rec *s = nullptr;
  ASSERT_TRUE(upnp_desc_scpd2_parse(scpd(kActions, vars).c_str(), &s));
  EXPECT_EQ(list(s->action_names), (std::vector<std::string>{"Browse", "Search"}));
  upnp_desc_state_variable_rec *v = upnp_desc_scpd2_get_state_variable(s, "Volume");
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(v->send_events, "no");
  EXPECT_STREQ(v->data_type, "ui2");
  ASSERT_NE(v->range, nullptr);
  EXPECT_STREQ(v->range->minimum, "0");
  EXPECT_STREQ(v->range->maximum, " 100 ");
  EXPECT_EQ(v->allowed_values, nullptr);
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_ui2(v, 100));
  EXPECT_FALSE(upnp_desc_scpd2_is_allowed_ui2(v, 101));
  v = upnp_desc_scpd2_get_state_variable(s, "Mode");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->send_events, nullptr);
  EXPECT_EQ(v->range, nullptr);
  EXPECT_EQ(list(v->allowed_values), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(upnp_desc_scpd2_get_state_variable(s, "mode"), nullptr);
  upnp_desc_scpd2_free(s);
}

TEST(Scpd, FullFormRefusesRepeatedFields)
{
  const char *dup[] = {
      "<stateVariable><name>a</name><name>b</name></stateVariable>",
      "<stateVariable><dataType>ui4</dataType><dataType>i4</dataType></stateVariable>",
      "<stateVariable><allowedValueRange><minimum>1</minimum><minimum>2</minimum></allowedValueRange></stateVariable>",
      "<stateVariable><allowedValueRange/><allowedValueRange/></stateVariable>",
      "<stateVariable><allowedValueList/><allowedValueList/></stateVariable>",
  };
  for (const char *d : dup) {
    upnp_desc_scpd2_rec *s = nullptr;
    std::string doc = scpd(kActions, std::string("<serviceStateTable>") + d + "</serviceStateTable>");
    EXPECT_FALSE(upnp_desc_scpd2_parse(doc.c_str(), &s)) << d;
    // The short form reads only names and does not mind.
    upnp_desc_scpd_rec *s1 = nullptr;
    EXPECT_TRUE(upnp_desc_scpd_parse(doc.c_str(), &s1)) << d;
    upnp_desc_scpd_free(s1);
  }
  upnp_desc_scpd2_rec *s = nullptr;
  std::string two = scpd(kActions + kActions, kVariables);
  EXPECT_FALSE(upnp_desc_scpd2_parse(two.c_str(), &s));
}

// A variable built by hand: the checks read only these fields.
struct var {
  upnp_desc_value_range_rec range{};
  std::vector<char *> values;
  upnp_desc_state_variable_rec v{};
  var(const char *type, const char *min, const char *max, const char *step, std::vector<const char *> list = {},
      bool with_list = false)
  {
    v.data_type = const_cast<char *>(type);
    if (min || max || step) {
      range = {const_cast<char *>(min), const_cast<char *>(max), const_cast<char *>(step)};
      v.range = &range;
    }
    for (const char *s : list) values.push_back(const_cast<char *>(s));
    values.push_back(nullptr);
    if (with_list) v.allowed_values = values.data();
  }
};

TEST(ScpdCheck, RangesWithSteps)
{
  var u("ui4", "0", "100", "10");
  for (uint32_t x : {0u, 50u, 100u}) EXPECT_TRUE(upnp_desc_scpd2_is_allowed_ui4(&u.v, x)) << x;
  for (uint32_t x : {55u, 110u}) EXPECT_FALSE(upnp_desc_scpd2_is_allowed_ui4(&u.v, x)) << x;
  EXPECT_FALSE(upnp_desc_scpd2_is_allowed_i4(&u.v, 50));

  var i("i4", "-3", "7", "5");
  for (int32_t x : {-3, 2, 7}) EXPECT_TRUE(upnp_desc_scpd2_is_allowed_i4(&i.v, x)) << x;
  for (int32_t x : {3, -4, 12}) EXPECT_FALSE(upnp_desc_scpd2_is_allowed_i4(&i.v, x)) << x;

  // Defaults are the type's own bounds; the distance from the minimum must
  // not overflow.
  var wide("i8", nullptr, nullptr, "3");
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_i8(&wide.v, INT64_MIN));
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_i8(&wide.v, INT64_MAX));  // 2^64 - 1 from the minimum
  EXPECT_FALSE(upnp_desc_scpd2_is_allowed_i8(&wide.v, INT64_MAX - 1));
  var full("ui8", "0", "18446744073709551615", nullptr);
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_ui8(&full.v, UINT64_MAX));
  var small("i2", "-32768", nullptr, nullptr);
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_i2(&small.v, -32768));

  var zero("ui2", "10", "20", "0");
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_ui2(&zero.v, 13));
  EXPECT_FALSE(upnp_desc_scpd2_is_allowed_ui2(&zero.v, 21));
}

TEST(ScpdCheck, UnreadableBoundsRefuse)
{
  // A bound must be a decimal that fits the type: no wrapping, no trailing text.
  const char *bad[] = {"70000", "-1", "1x", "", "0x10", "--1"};
  for (const char *b : bad) {
    var v("ui2", "0", b, nullptr);
    EXPECT_FALSE(upnp_desc_scpd2_is_allowed_ui2(&v.v, 5)) << b;
  }
  var lo("i2", "-32769", nullptr, nullptr);
  EXPECT_FALSE(upnp_desc_scpd2_is_allowed_i2(&lo.v, 0));
  var spaced("ui4", " 1\n", "\t9 ", nullptr);
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_ui4(&spaced.v, 5));
}

TEST(ScpdCheck, ValueLists)
{
  var i("i2", nullptr, nullptr, nullptr, {"1", "x", "3"}, true);
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_i2(&i.v, 1));
  EXPECT_FALSE(upnp_desc_scpd2_is_allowed_i2(&i.v, 3));
  var none("i2", nullptr, nullptr, nullptr, {}, true);
  EXPECT_FALSE(upnp_desc_scpd2_is_allowed_i2(&none.v, 0));
  var any("i2", nullptr, nullptr, nullptr);
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_i2(&any.v, -5));
  // With a range the list is not consulted.
  var both("ui4", "0", "9", nullptr, {"42"}, true);
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_ui4(&both.v, 3));
  EXPECT_FALSE(upnp_desc_scpd2_is_allowed_ui4(&both.v, 42));

  var s("string", "0", "1", nullptr, {"A", "B"}, true);
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_string(&s.v, "B"));
  EXPECT_FALSE(upnp_desc_scpd2_is_allowed_string(&s.v, "a"));
  var free_text("string", nullptr, nullptr, nullptr);
  EXPECT_TRUE(upnp_desc_scpd2_is_allowed_string(&free_text.v, "anything"));
  EXPECT_FALSE(upnp_desc_scpd2_is_allowed_ui4(&free_text.v, 1));
}

}  // namespace
