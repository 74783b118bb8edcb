// USB path of the option query, as the filter runs it: the attached printer and one endpoint-0
// request per option (probe/usb_probe.h), their messages on standard error and the choices
// they pick marked in the PPD.
#ifndef ZORV_AUTOCONF_USB_QUERY_H
#define ZORV_AUTOCONF_USB_QUERY_H

#include <cups/ppd.h>
#include <usb.h>

#include "probe/probe.h"

// 0 when a device was found and queried; -1 on an enumeration failure or no matching device.
int usbUpdateConfigOptions(ppd_file_t* ppd, const char* device_uri);
// The printer of the PPD (probeUsbMatch), open and owned by the caller; null when none matched.
usb_dev_handle* usb_open_matched_device(ppd_file_t* ppd, const char* device_uri);
// One request per installable option, in walk order; marks live in the PPD handle.
void usbQueryInstallableOptions(usb_dev_handle* handle, ppd_file_t* ppd);
void usbQueryOption(usb_dev_handle* handle, ppd_file_t* ppd, ppd_option_t* option);

#endif  // ZORV_AUTOCONF_USB_QUERY_H
