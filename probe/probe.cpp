// The device query: the URI's kind chooses the path.
#include "probe/probe.h"

void probeDevice(ppd_file_t* ppd, const char* uri, const ProbeCancel& cancel, ProbeResult& result) {
  probeDeviceWith(ppd, uri, nullptr, cancel, result);
}

void probeDeviceWith(ppd_file_t* ppd, const char* uri, const SnmpV3Settings* v3,
                     const ProbeCancel& cancel, ProbeResult& result) {
  switch (connectionType(uri)) {
    case kConnectionNetwork: {
      NetworkQuery query;
      const char* why = "";
      result.status = setupNetworkQuery(uri, ppd, v3, query, &why);
      if (result.status == kProbeNoDevice) {
        addDeviceNote(result.device_notes, DeviceNoteKind::kNoHost, why);
        result.notes_before = result.device_notes.size();
      }
      if (result.status == kProbeDone) probeNetworkOptions(ppd, query, cancel, result);
      return;
    }
    case kConnectionUsb:
      probeUsbOptions(ppd, uri, cancel, result);
      return;
    default:
      result.status = kProbeUnsupported;
      return;
  }
}
