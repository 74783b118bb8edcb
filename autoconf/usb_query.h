// USB path of the option query: the attached printer and one endpoint-0 request per option.
#ifndef ZORV_AUTOCONF_USB_QUERY_H
#define ZORV_AUTOCONF_USB_QUERY_H

#include <cups/ppd.h>
#include <usb.h>

// 0 when a device was found and queried; -1 on an enumeration failure or no matching device.
int usbUpdateConfigOptions(ppd_file_t* ppd, const char* device_uri);
usb_dev_handle* usb_open_matched_device(ppd_file_t* ppd, const char* device_uri);
int usb_device_has_class(struct usb_device* device, unsigned char device_class);
void usbQueryInstallableOptions(usb_dev_handle* handle, ppd_file_t* ppd);
void usbQueryOption(usb_dev_handle* handle, ppd_file_t* ppd, ppd_option_t* option);
int usb_ep0_request(usb_dev_handle* handle, const unsigned char setup[4], unsigned char* bytes,
                    int size);

#endif  // ZORV_AUTOCONF_USB_QUERY_H
