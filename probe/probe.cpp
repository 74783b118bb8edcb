// The device query as a library: the URI's kind chooses the path.
#include "probe/probe.h"

#include "common/secret.h"
#include "probe/snmp_probe.h"
#include "probe/snmp_round.h"
#include "probe/snmp_v3_settings.h"
#include "probe/usb_probe.h"

void probeDevice(ppd_file_t* ppd, const char* uri, const ProbeCancel& cancel, ProbeResult& result) {
  probeDeviceWith(ppd, uri, nullptr, cancel, result);
}

void probeDeviceWith(ppd_file_t* ppd, const char* uri, const SnmpV3Settings* v3,
                     const ProbeCancel& cancel, ProbeResult& result) {
  switch (connectionType(uri)) {
    case kConnectionNetwork: {
      char host[kHostSize];
      const char* why = "";
      if (!hostOfUri(uri, host, sizeof(host), &why)) {
        addDeviceNote(result.device_notes, DeviceNoteKind::kNoHost, why);
        result.notes_before = result.device_notes.size();
        result.status = kProbeNoDevice;
        return;
      }
      probeSnmpInit();
      Secret<SnmpCredentials> credentials;
      if (credentials.get() == nullptr) {
        result.status = kProbeNoMemory;
        return;
      }
      SnmpSettingsReport report;
      if (v3 != nullptr) {
        credentials->use_v3 = true;
        credentials->v3 = *v3;
      } else {
        snmpRunCredentials(ppd, *credentials, report);
        noteSnmpSettings(report, result);
      }
      probeSnmpOptions(ppd, host, *credentials, cancel, result);
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
