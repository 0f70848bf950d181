// The device description as the server start reads it, and service
// modules.
#include <gtest/gtest.h>
#include <vennard/server.h>
#include <vennard/server_desc.h>

#include <string>
#include <vector>

#include "tarvo_test.h"

namespace {

const std::string kHead = "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\" "
                          "xmlns:t=\"urn:schemas-tarvo-org:device-1-0\" xmlns:o=\"urn:other\">";

std::string service(const std::string &type, const std::string &id, const std::string &module = "")
{
  return "<service" + (module.empty() ? "" : " t:serviceModule=\"" + module + "\"") + "><serviceType>" + type +
         "</serviceType><serviceId>" + id + "</serviceId></service>";
}

struct parsed {
  server_desc_rec d{};
  bool ok;
  explicit parsed(const std::string &text) : ok(description_read(text.data(), uint32_t(text.size()), &d)) {}
  ~parsed() { description_free(&d); }
  std::vector<server_desc_device_rec *> devices() const
  {
    std::vector<server_desc_device_rec *> v;
    for (server_desc_device_rec **p = d.devices; p && *p; p++) v.push_back(*p);
    return v;
  }
};

TEST(ServerDesc, EmbeddedDevicesTrimmedNamesForeignElementsAndModules)
{
  parsed p(kHead + "<URLBase> http://x/ </URLBase><device>"
                   "<o:friendlyName>not this</o:friendlyName>"
                   "<friendlyName>\r\n  Box\r\n one </friendlyName><modelName>M</modelName>"
                   "<o:wrap><friendlyName>hidden</friendlyName></o:wrap>"
                   "<serviceList>" +
           service("urn:a", "urn:ida", "/x/libmod.so") + service("urn:b", "urn:idb") +
           "</serviceList><deviceList>"
           "<device><friendlyName>E1</friendlyName><modelName>M1</modelName></device>"
           "<device><friendlyName>no model</friendlyName></device>"
           "<device><friendlyName>E3</friendlyName><modelName>M3</modelName>"
           "<serviceList><service><serviceType>urn:c</serviceType></service></serviceList></device>"
           "</deviceList></device></root>");
  ASSERT_TRUE(p.ok);
  EXPECT_STREQ(p.d.url_base, "http://x/");
  auto devices = p.devices();
  ASSERT_EQ(devices.size(), 2u);  // the one without modelName and the one with an incomplete service dropped
  EXPECT_STREQ(devices[0]->friendly_name, "Box  one");
  EXPECT_STREQ(devices[1]->friendly_name, "E1");
  ASSERT_NE(devices[0]->services, nullptr);
  EXPECT_STREQ(devices[0]->services[0]->service_module, "/x/libmod.so");
  EXPECT_STREQ(devices[0]->services[1]->service_id, "urn:idb");
  EXPECT_EQ(devices[0]->services[2], nullptr);
  EXPECT_EQ(devices[1]->services, nullptr);
}

TEST(ServerDesc, InvalidDescriptions)
{
  const std::string good = "<friendlyName>F</friendlyName><modelName>M</modelName>";
  for (const std::string &text : {
           kHead + "<device>" + good + "<serviceList></serviceList></device></root>",
           kHead + "<device>" + good + "</device><device>" + good + "</device></root>",
           std::string("<root><device>") + good + "</device></root>",  // no namespace
           kHead + "<device>" + good + "</device>",                     // not well-formed
           kHead + "<device><friendlyName>F</friendlyName></device></root>",
           kHead + "</root>",
           std::string(""),
       }) {
    parsed p(text);
    EXPECT_FALSE(p.ok) << text;
    EXPECT_EQ(p.d.devices, nullptr);
  }
}

// A device whose services name modules, one per variant given.
struct modules_case {
  tarvo_test::scratch_dir dir;
  std::string log = dir / "log";
  server_rec s{};
  server_desc_device_rec device{};
  std::vector<std::string> paths;
  std::vector<server_desc_service_rec> services;
  std::vector<server_desc_service_rec *> list;
  sys_ptralloc_rec handlers{};

  explicit modules_case(const std::vector<std::string> &variants)
  {
    setenv("TARVO_TEST_SM_LOG", log.c_str(), 1);
    const char *bin = std::getenv("TARVO_BIN");
    for (const std::string &v : variants) paths.push_back(std::string(bin ? bin : ".") + "/libsm_" + v + ".so");
    services.resize(variants.size());
    for (size_t i = 0; i < variants.size(); i++) {
      services[i].service_module = paths[i].data();
      list.push_back(&services[i]);
    }
    list.push_back(nullptr);
    device.services = list.data();
  }
  ~modules_case()
  {
    unsetenv("TARVO_TEST_SM_LOG");
    sys_ptralloc_free(&handlers);
  }
  std::string calls() const { return tarvo_test::read_file(log); }
};

TEST(ServiceModules, LoadedInOrderAndUnloadedLastFirst)
{
  modules_case c({"good", "noend"});
  sys_ptralloc_append(&c.handlers, nullptr);  // a handler already listed stays first
  // The second module lacks tarvo_sm_end: everything is undone, and only
  // the first module's end is called.
  EXPECT_FALSE(service_modules_load(&c.s, &c.device, &c.handlers));
  EXPECT_EQ(c.handlers.len, 1u);
  EXPECT_EQ(c.s.modules.len, 0u);
  EXPECT_EQ(c.calls(), "init good\nstart good\ninit noend\nstart noend\nend good\n");
}

TEST(ServiceModules, StartRefusedUnloadsWithoutEnd)
{
  modules_case c({"good", "nostart"});
  EXPECT_FALSE(service_modules_load(&c.s, &c.device, &c.handlers));
  EXPECT_EQ(c.calls(), "init good\nstart good\ninit nostart\nstart nostart\nend good\n");

  modules_case ok({"good"});
  ASSERT_TRUE(service_modules_load(&ok.s, &ok.device, &ok.handlers));
  ASSERT_EQ(ok.handlers.len, 1u);
  auto *h = static_cast<device_service_handler *>(ok.handlers.buf[0]);
  EXPECT_STREQ(h->service_id, "urn:tarvo-org:serviceId:X_Test");
  EXPECT_EQ(h->user, &ok.s);
  service_modules_unload(&ok.s);
  EXPECT_EQ(ok.calls(), "init good\nstart good\nend good\n");
  EXPECT_EQ(ok.s.modules.len, 0u);
}

}  // namespace
