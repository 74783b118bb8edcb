// The query mode of zorvquery.
#include "query/device_report.h"

#include "common/credentials.h"
#include "common/secret.h"
#include "log/escape.h"
#include "probe/probe.h"
#include "probe/report.h"
#include "probe/snmp_probe.h"
#include "probe/snmp_round.h"
#include "probe/snmp_settings.h"
#include "probe/snmp_v3_settings.h"
#include "probe/usb_probe.h"

namespace {

constexpr size_t kSourceSize = 256;
constexpr size_t kSummarySize = 256;

// Runs the query of the URI's kind and shows it; kQueryUsage for a URI that cannot be queried.
// answered counts the options that got an answer; hint is what a silent printer may mean
// under the SNMP version used ("" for none).
int run_queries(const char* uri, ppd_file_t* ppd, FILE* out, int* answered, const char** hint) {
  ProbeCancel cancel;
  cancel.sigterm = true;
  ProbeResult result;
  switch (connectionType(uri)) {
    case kConnectionNetwork: {
      char host[kHostSize];
      if (!hostOfUri(uri, host, sizeof(host))) return kQueryUsage;
      probeSnmpInit();
      Secret<SnmpCredentials> credentials;
      if (credentials.get() == nullptr) return kQueryUsage;
      SnmpSettingsReport report;
      snmpRunCredentials(ppd, *credentials, report);
      if (credentials->use_v3) {
        keepSecretsOutOfCoreDumps();
        char summary[kSummarySize];
        snmpV3Summary(credentials->v3, summary, sizeof(summary));
        fprintf(out, "# %s: SNMPv3 to %s, %s (%s)\n", ShownUri(uri).c_str(),
                ShownText(host).c_str(), ShownText(summary).c_str(), report.path);
      } else {
        char source[kSourceSize];
        snmpRunCommunity(ppd, credentials->community, source, sizeof(source));
        if (source[0] != '\0') {
          fprintf(out, "# %s: SNMP to %s, community %s\n", ShownUri(uri).c_str(),
                  ShownText(host).c_str(), ShownText(source).c_str());
        } else {
          char tried[kSourceSize * 2];
          snmpDefaultCommunityWords(ppd, tried, sizeof(tried));
          fprintf(out, "# %s: SNMP to %s, community the default (%s)\n", ShownUri(uri).c_str(),
                  ShownText(host).c_str(), ShownText(tried).c_str());
        }
      }
      noteSnmpSettings(report, result);
      probeSnmpOptions(ppd, host, *credentials, cancel, result);
      *hint = "; under SNMPv1 a wrong community is not answered at all";
      if (credentials->use_v3) {
        // A printer's refusals are named on their lines; only silence needs the hint.
        *hint = "";
        for (size_t i = 0; i < result.count; ++i) {
          if (result.records[i].outcome == ProbeOutcome::kNoAnswer) {
            *hint = "; under SNMPv3 a wrong privacy passphrase is not answered at all";
          }
        }
      }
      break;
    }
    case kConnectionUsb:
      fprintf(out,
              "# %s: the USB printer whose product string and the PPD's model name contain one "
              "another\n",
              ShownUri(uri).c_str());
      probeUsbOptions(ppd, uri, cancel, result);
      break;
    default:
      return kQueryUsage;
  }
  *answered = writeProbeReport(out, result, uri);
  return kQueryAnswered;
}

}  // namespace


int queryDevice(const char* uri, ppd_file_t* ppd, FILE* out) {
  int answered = 0;
  const char* hint = "";
  const int status = run_queries(uri, ppd, out, &answered, &hint);
  if (status == kQueryUsage) {
    if (connectionType(uri) == kConnectionNetwork) {
      char host[kHostSize];
      const char* why = "";
      hostOfUri(uri, host, sizeof(host), &why);
      fprintf(stderr, "zorvquery: no host in the device URI %s: %s\n", ShownUri(uri).c_str(), why);
    } else {
      fprintf(stderr,
              "zorvquery: the device URI %s cannot be queried (network URIs: http:, ipp:, "
              "socket:, lpd:; USB URIs: usb:, mfp:)\n",
              ShownUri(uri).c_str());
    }
    return kQueryUsage;
  }
  if (answered > 0) return kQueryAnswered;
  fprintf(stderr, "zorvquery: no query got an answer%s\n", hint);
  return kQueryNoAnswer;
}
