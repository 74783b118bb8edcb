// The network query's set-up, which every program shares: the SNMP library, the host, and the
// credentials of the run on pages of their own. Apart from the USB path, so that a program that
// asks only over the network links no libusb.
#include "probe/probe.h"

#include "probe/reply_match.h"
#include "probe/snmp_probe.h"
#include "probe/snmp_session.h"

void probeInit() {
  probeSnmpInit();
}

bool chooseCredentials(ppd_file_t* ppd, const SnmpV3Settings* v3, NetworkQuery& query) {
  query.report = SnmpSettingsReport();
  query.community_source[0] = '\0';
  if (query.credentials.get() == nullptr) return false;
  SnmpCredentials& credentials = *query.credentials;
  credentials = SnmpCredentials();
  if (v3 != nullptr) {
    credentials.use_v3 = true;
    credentials.v3 = *v3;
  } else {
    snmpRunCredentials(ppd, credentials, query.report, query.community_source,
                       sizeof(query.community_source));
  }
  if (credentials.use_v3) keepSecretsOutOfCoreDumps();
  return true;
}

int setupNetworkQuery(const char* uri, ppd_file_t* ppd, const SnmpV3Settings* v3,
                      NetworkQuery& query, const char** why) {
  const char* refused = "";
  if (why != nullptr) *why = refused;
  if (connectionType(uri) != kConnectionNetwork) return kProbeUnsupported;
  if (!hostOfUri(uri, query.host, sizeof(query.host), &refused)) {
    if (why != nullptr) *why = refused;
    return kProbeNoDevice;
  }
  probeSnmpInit();
  return chooseCredentials(ppd, v3, query) ? kProbeDone : kProbeNoMemory;
}

void probeNetworkOptions(ppd_file_t* ppd, const NetworkQuery& query, const ProbeCancel& cancel,
                         ProbeResult& result) {
  noteSnmpSettings(query.report, result);
  probeSnmpOptions(ppd, query.host, *query.credentials, cancel, result);
}

bool probeQueryReadable(ProbeFamily family, const char* value) {
  if (family == ProbeFamily::kEp0) {
    unsigned char setup[kUsbSetupSize];
    unsigned char mask[kUsbReplySize];
    return parseEp0Query(value, setup, mask);
  }
  probeSnmpInit();
  return snmpOidReadable(value);
}
