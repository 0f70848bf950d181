// A host for the browser test: the device stack serving a document root
// (static files and the CGI runner) on one loopback port, with a device of
// no services, until it is told to stop.
//   tollamy_host <document root> <port>
#include <signal.h>
#include <tarvo_device/tarvo_device.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
  if (argc != 3) {
    std::fprintf(stderr, "usage: tollamy_host <document root> <port>\n");
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  const char *xml = "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion>"
                    "<major>1</major><minor>0</minor></specVersion><device><deviceType>"
                    "urn:schemas-upnp-org:device:Basic:1</deviceType><friendlyName>Browser test host</friendlyName>"
                    "<manufacturer>t</manufacturer><modelName>m</modelName>"
                    "<UDN>uuid:7e57b0a7-0000-4000-8000-000000000001</UDN></device></root>\r\n";
  device_service_handler *none[] = {nullptr};
  tarvo_device_ctx *ctx = nullptr;
  tarvo_device_disable_ssdp(&ctx);
  if (!tarvo_device_start(&ctx, nullptr, uint16_t(std::atoi(argv[2])), argv[1], xml, 1800, none)) {
    std::fprintf(stderr, "tollamy_host: cannot start on port %s\n", argv[2]);
    return 1;
  }
  int sig = 0;
  sigwait(&stop, &sig);
  tarvo_device_end(&ctx);
  return 0;
}
