// The USB path of a device query: the attached printer that belongs to the PPD, and one control
// request on endpoint 0 per installable option.
#ifndef ZORV_PROBE_USB_PROBE_H
#define ZORV_PROBE_USB_PROBE_H

#include <cups/ppd.h>
#include <usb.h>

#include "probe/probe.h"
#include "probe/reply_match.h"

// 1 when the device, or any alternate setting of any of its interfaces, has the class.
int usb_device_has_class(struct usb_device* device, unsigned char device_class);

// usb_control_msg on endpoint 0 with an 8-bit wValue and wIndex and a 3000 ms time-out:
// the number of bytes transferred, or a negative value.
int usb_ep0_request(usb_dev_handle* handle, const unsigned char setup[4], unsigned char* bytes,
                    int size);

#endif  // ZORV_PROBE_USB_PROBE_H
