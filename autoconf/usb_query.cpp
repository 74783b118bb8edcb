// USB path of the option query, as the filter runs it: finds the attached printer that belongs
// to the PPD and asks it, by one control request on endpoint 0 per installable option, which
// choice it has. Every message goes to standard error, where the scheduler collects it.
#include "autoconf/usb_query.h"

#include <cstdio>

#include "autoconf/device_answers.h"
#include "autoconf/installable.h"
#include "common/signals.h"
#include "probe/probe.h"

int usbUpdateConfigOptions(ppd_file_t* ppd, const char* device_uri) {
  ProbeCancel cancel;
  cancel.sigterm = true;
  ProbeResult result;
  probeUsbOptions(ppd, device_uri, cancel, result);
  reportDeviceAnswers(ppd, result, device_uri);
  return result.status == kProbeNoDevice || result.status == kProbeNoMemory ? -1 : 0;
}

usb_dev_handle* usb_open_matched_device(ppd_file_t* ppd, const char* device_uri) {
  ProbeResult result;
  usb_dev_handle* handle = probeUsbMatch(ppd, device_uri, result.device_notes);
  result.notes_before = result.device_notes.size();
  writeDeviceNotes(stderr, result, false, device_uri);
  return handle;
}

// A request in flight cannot be interrupted (the kernel waits out its time-out), but after a
// cancellation no further one is sent.
void usbQueryInstallableOptions(usb_dev_handle* handle, ppd_file_t* ppd) {
  for (ppd_option_t* option = firstInstallableOption(ppd); option != nullptr && !job_cancelled();
       option = nextInstallableOption(ppd)) {
    usbQueryOption(handle, ppd, option);
  }
}

void usbQueryOption(usb_dev_handle* handle, ppd_file_t* ppd, ppd_option_t* option) {
  if (ppd == nullptr || option == nullptr) return;
  ProbeRecord record;
  HeapList<ProbeNote> notes;
  probeUsbOption(handle, ppd, option, record, notes);
  reportOptionAnswer(ppd, record, notes.size() > 0 ? &notes[0] : nullptr);
}
