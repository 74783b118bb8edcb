// The query mode of zorvquery.
#include "query/device_report.h"

#include "common/credentials.h"
#include "common/secret.h"
#include "log/escape.h"
#include "common/handles.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

constexpr size_t kSourceSize = 256;
constexpr size_t kSummarySize = 256;

// The report's first line: which credentials the query of the printer at uri uses.
void write_credentials(const char* uri, const NetworkQuery& query, ppd_file_t* ppd, FILE* out) {
  const SnmpCredentials& credentials = *query.credentials;
  if (credentials.use_v3) {
    char summary[kSummarySize];
    snmpV3Summary(credentials.v3, summary, sizeof(summary));
    fprintf(out, "# %s: SNMPv3 to %s, %s (%s)\n", ShownUri(uri).c_str(),
            ShownText(query.host).c_str(), ShownText(summary).c_str(), query.report.path);
    return;
  }
  if (query.community_source[0] != '\0') {
    fprintf(out, "# %s: SNMP to %s, community %s\n", ShownUri(uri).c_str(),
            ShownText(query.host).c_str(), ShownText(query.community_source).c_str());
    return;
  }
  char tried[kSourceSize * 2];
  if (ppd != nullptr) {
    snmpDefaultCommunityWords(ppd, tried, sizeof(tried));
  } else {
    copy_text(tried, sizeof(tried), "no PPD names the manufacturer whose settings to use");
  }
  fprintf(out, "# %s: SNMP to %s, community the default (%s)\n", ShownUri(uri).c_str(),
          ShownText(query.host).c_str(), ShownText(tried).c_str());
}

// What a silent printer may mean under the credentials used.
const char* silence_hint(const SnmpCredentials& credentials) {
  return credentials.use_v3 ? "; under SNMPv3 a wrong privacy passphrase is not answered at all"
                            : "; under SNMPv1 a wrong community is not answered at all";
}

// Runs the query of the URI's kind and shows it; kQueryUsage for a URI that cannot be queried.
// answered counts the options that got an answer; hint is what a silent printer may mean
// under the SNMP version used ("" for none).
int run_queries(const char* uri, ppd_file_t* ppd, FILE* out, int* answered, const char** hint) {
  ProbeCancel cancel;
  cancel.sigterm = true;
  ProbeResult result;
  switch (connectionType(uri)) {
    case kConnectionNetwork: {
      NetworkQuery query;
      if (setupNetworkQuery(uri, ppd, nullptr, query) != kProbeDone) return kQueryUsage;
      write_credentials(uri, query, ppd, out);
      probeNetworkOptions(ppd, query, cancel, result);
      // Under SNMPv3 a printer's refusals are named on their lines; only silence needs the
      // hint.
      const SnmpCredentials& credentials = *query.credentials;
      *hint = credentials.use_v3 ? "" : silence_hint(credentials);
      for (size_t i = 0; i < result.count; ++i) {
        if (result.records[i].outcome == ProbeOutcome::kNoAnswer) *hint = silence_hint(credentials);
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

// Says on standard error why a URI cannot be queried.
void usage_words(const char* uri) {
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
}

}  // namespace

int queryState(const char* uri, ppd_file_t* ppd, FILE* out) {
  NetworkQuery query;
  const int setup = setupNetworkQuery(uri, ppd, nullptr, query);
  if (setup != kProbeDone) {
    if (connectionType(uri) == kConnectionUsb) {
      fprintf(stderr, "zorvquery: the state of a USB printer is not asked: --state needs a network "
                      "device URI (http:, ipp:, socket:, lpd:)\n");
    } else if (setup != kProbeNoMemory) {
      usage_words(uri);
    }
    return kQueryUsage;
  }
  UniqueMalloc<PrinterStateResult[]> result = make_array<PrinterStateResult>(1);
  if (result == nullptr) return kQueryUsage;
  write_credentials(uri, query, ppd, out);
  if (query.report.problem != SnmpSettingsProblem::kNone) {
    ProbeResult notes;
    noteSnmpSettings(query.report, notes);
    writeDeviceNotes(out, notes, false, uri, MessageLayout{"    "});
  }
  ProbeCancel cancel;
  cancel.sigterm = true;
  walkPrinterState(query.host, *query.credentials, cancel, result[0]);
  if (result[0].outcome == StateOutcome::kAnswered) {
    writeStateReport(out, result[0]);
    return kQueryAnswered;
  }
  char words[kSourceSize * 2];
  stateFailureWords(result[0], words, sizeof(words));
  fprintf(stderr, "zorvquery: the printer gave no state: %s%s\n", ShownText(words).c_str(),
          result[0].outcome == StateOutcome::kNoAnswer ? silence_hint(*query.credentials) : "");
  return kQueryNoAnswer;
}

int queryDevice(const char* uri, ppd_file_t* ppd, FILE* out) {
  int answered = 0;
  const char* hint = "";
  const int status = run_queries(uri, ppd, out, &answered, &hint);
  if (status == kQueryUsage) {
    usage_words(uri);
    return kQueryUsage;
  }
  if (answered > 0) return kQueryAnswered;
  fprintf(stderr, "zorvquery: no query got an answer%s\n", hint);
  return kQueryNoAnswer;
}
