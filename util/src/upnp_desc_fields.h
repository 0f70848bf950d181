// The text fields of the description records, in document order, with the
// element names that hold them.
#pragma once

#include <tarvo_util/upnp_desc.h>

template <class R> struct named_field {
  const char *name;
  char *R::*member;
  bool always;  // written back even when absent (as an empty element)
};

template <class R> struct fields_of;

template <> struct fields_of<upnp_desc_device_rec> {
  using D = upnp_desc_device_rec;
  static constexpr named_field<D> v[12] = {
      {"deviceType", &D::deviceType, true},       {"friendlyName", &D::friendlyName, true},
      {"manufacturer", &D::manufacturer, true},   {"manufacturerURL", &D::manufacturerURL, false},
      {"modelDescription", &D::modelDescription, false}, {"modelName", &D::modelName, true},
      {"modelNumber", &D::modelNumber, false},    {"modelURL", &D::modelURL, false},
      {"serialNumber", &D::serialNumber, false},  {"UDN", &D::UDN, true},
      {"UPC", &D::UPC, false},                    {"presentationURL", &D::presentationURL, false},
  };
};

template <> struct fields_of<upnp_desc_icon_rec> {
  using I = upnp_desc_icon_rec;
  static constexpr named_field<I> v[5] = {
      {"mimetype", &I::mimetype, true}, {"width", &I::width, true}, {"height", &I::height, true},
      {"depth", &I::depth, true},       {"url", &I::url, true},
  };
};

template <> struct fields_of<upnp_desc_service_rec> {
  using S = upnp_desc_service_rec;
  static constexpr named_field<S> v[5] = {
      {"serviceType", &S::serviceType, true}, {"serviceId", &S::serviceId, true},
      {"SCPDURL", &S::SCPDURL, true},         {"controlURL", &S::controlURL, true},
      {"eventSubURL", &S::eventSubURL, true},
  };
};
