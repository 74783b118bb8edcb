// The USB path of a device query: the attached printer that belongs to the PPD, and one control
// request on endpoint 0 per installable option.
#ifndef ZORV_PROBE_USB_PROBE_H
#define ZORV_PROBE_USB_PROBE_H

#include <cups/ppd.h>
#include <usb.h>

#include "probe/record.h"
#include "probe/reply_match.h"

// Each control request waits this long.
inline constexpr int kUsbTimeoutMs = 3000;

// Finds the printer, queries every installable option into result and closes the printer.
// libusb 0.1 keeps its bus list and its last error process-wide, so USB queries of several
// threads run one after another. A cancel is seen between requests.
void probeUsbOptions(ppd_file_t* ppd, const char* device_uri, const ProbeCancel& cancel,
                     ProbeResult& result);

// The first printer-class device, in the library's bus and device order, whose product string
// (which must not be empty) and the PPD's model name contain one another, and, when the device
// URI names a serial number ("usb://Make/Model?serial=S"), whose serial number is that one;
// open and owned by the caller, null when none matched. What went wrong on the way goes to
// notes.
usb_dev_handle* probeUsbMatch(ppd_file_t* ppd, const char* device_uri, HeapList<DeviceNote>& notes);

// Sends the request of the option's query attribute and tries the masked answer against its
// reply attributes, into record; its notes go to notes.
void probeUsbOption(usb_dev_handle* handle, ppd_file_t* ppd, const ppd_option_t* option,
                    ProbeRecord& record, HeapList<ProbeNote>& notes);

// 1 when the device, or any alternate setting of any of its interfaces, has the class.
int usb_device_has_class(struct usb_device* device, unsigned char device_class);

// usb_control_msg on endpoint 0 with an 8-bit wValue and wIndex and a 3000 ms time-out:
// the number of bytes transferred, or a negative value.
int usb_ep0_request(usb_dev_handle* handle, const unsigned char setup[4], unsigned char* bytes,
                    int size);

#endif  // ZORV_PROBE_USB_PROBE_H
