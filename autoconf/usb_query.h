// USB path of the option query: the attached printer and one endpoint-0 request per option.
#ifndef ZORV_AUTOCONF_USB_QUERY_H
#define ZORV_AUTOCONF_USB_QUERY_H

#include <cups/ppd.h>
#include <usb.h>

#include "autoconf/option_answer.h"

// What one option's request gave, for an observer: the texts the OptionAnswer points to.
struct UsbSeen {
  OptionAnswer* answer = nullptr;
  char query_name[41] = "";
  char reply[24] = "";  // the eight masked reply bytes, "01 00 00 00 00 00 00 00"
  char failure[64] = "";
};

// 0 when a device was found and queried; -1 on an enumeration failure or no matching device.
int usbUpdateConfigOptions(ppd_file_t* ppd, const char* device_uri);
// The same, handing each option's answer to observer (when not null) after it was marked.
int usbQueryDevice(ppd_file_t* ppd, const char* device_uri, OptionObserver observer, void* context);
// The first printer-class device whose product string and the PPD's model name contain one
// another, open and owned by the caller; null when none matched. The URI is not consulted.
usb_dev_handle* usb_open_matched_device(ppd_file_t* ppd, const char* device_uri);
// 1 when the device, or any alternate setting of any of its interfaces, has the class.
int usb_device_has_class(struct usb_device* device, unsigned char device_class);
// Reads the value of a "?Ep0<Keyword>" attribute: four setup bytes, a slash and up to eight
// mask bytes, in hexadecimal. False when not even one mask byte follows the setup bytes; mask
// bytes that are not given keep their value.
bool parseEp0Query(const char* text, unsigned char (&setup)[4], unsigned char (&mask)[8]);
// One request per installable option, in walk order; marks live in the PPD handle.
void usbQueryInstallableOptions(usb_dev_handle* handle, ppd_file_t* ppd,
                                OptionObserver observer = nullptr, void* context = nullptr);
// seen, when given, receives what the request gave.
void usbQueryOption(usb_dev_handle* handle, ppd_file_t* ppd, ppd_option_t* option,
                    UsbSeen* seen = nullptr);
// usb_control_msg on endpoint 0 with an 8-bit wValue and wIndex and a 3000 ms time-out:
// the number of bytes transferred, or a negative value.
int usb_ep0_request(usb_dev_handle* handle, const unsigned char setup[4], unsigned char* bytes,
                    int size);

#endif  // ZORV_AUTOCONF_USB_QUERY_H
