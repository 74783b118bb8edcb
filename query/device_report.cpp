// The query mode of zorvquery.
#include "query/device_report.h"

#include <cstring>

#include "autoconf/snmp_query.h"
#include "common/credentials.h"
#include "common/secret.h"
#include "log/escape.h"
#include "probe/messages.h"
#include "probe/probe.h"
#include "probe/snmp_probe.h"
#include "probe/snmp_v3_settings.h"
#include "probe/usb_probe.h"

namespace {

constexpr size_t kQuotedSize = escaped_size(256) + 256;
constexpr size_t kSourceSize = 256;
constexpr size_t kWordsSize = 512;
constexpr size_t kSummarySize = 256;
// The filter's own messages (what the scheduler's error log would show) are shown indented
// under the option they belong to.
constexpr MessageLayout kIndented = {"    "};

// One line per option: keyword, query, what it gave, the choice it picks, the PPD's default.
// Everything from the PPD or the device is shown escaped: a copy from "/var/tmp/autoconf" is
// anyone's to write, and its text must not drive the administrator's terminal.
void show_option_line(FILE* out, const ProbeRecord& record) {
  const ppd_option_t* option = record.option;
  const ShownText keyword(option->keyword);
  const ShownText query_name(record.query_name);
  const ShownText default_choice(option->defchoice[0] != '\0' ? option->defchoice : "-");
  if (record.outcome == ProbeOutcome::kNoQuery) {
    fprintf(out, "%s: no query attribute '%s'; default %s\n", keyword.c_str(), query_name.c_str(),
            default_choice.c_str());
    return;
  }
  char query[kQuotedSize];
  quoteReply(record.query, query, sizeof(query));
  char words[kWordsSize];
  probeFailureWords(record, words, sizeof(words));
  if (record.outcome != ProbeOutcome::kAnswered) {
    fprintf(out, "%s: %s \"%s\" -> %s; default %s\n", keyword.c_str(), query_name.c_str(), query,
            ShownText(words).c_str(), default_choice.c_str());
    return;
  }
  char reply[kQuotedSize];
  quoteReply(record.reply, reply, sizeof(reply));
  fprintf(out, "%s: %s \"%s\" -> \"%s\" -> %s%s%s%s; default %s\n", keyword.c_str(),
          query_name.c_str(), query, reply,
          ShownText(record.choice != nullptr ? record.choice : "-").c_str(),
          record.choice != nullptr ? "" : " (no reply attribute matches)",
          words[0] != '\0' ? ", " : "", ShownText(words).c_str(), default_choice.c_str());
}

// Shows the query's records, each option's line followed by its messages. Returns the number
// of options that got an answer.
int show_records(FILE* out, const ProbeResult& result, const char* uri) {
  writeDeviceNotes(out, result, false, uri, kIndented);
  int answered = 0;
  for (size_t i = 0; i < result.count; ++i) {
    const ProbeRecord& record = result.records[i];
    if (record.outcome == ProbeOutcome::kNotAsked) continue;
    if (record.outcome == ProbeOutcome::kAnswered) ++answered;
    show_option_line(out, record);
    writeRecordMessages(out, result, record, kIndented);
  }
  writeDeviceNotes(out, result, true, uri, kIndented);
  return answered;
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
      const char* host = hostFromUri(uri);
      if (host == nullptr || host[0] == '\0') return kQueryUsage;
      snmpLibraryInit();
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
        fprintf(out, "# %s: SNMP to %s, community %s\n", ShownUri(uri).c_str(),
                ShownText(host).c_str(),
                source[0] != '\0' ? source
                                  : "the default (no settings file for this manufacturer)");
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
  *answered = show_records(out, result, uri);
  return kQueryAnswered;
}

}  // namespace

void quoteReply(const char* text, char* buffer, size_t size) {
  ShownText shown(text);
  size_t length = 0;
  for (const char* p = shown.c_str(); *p != '\0' && length + 2 < size; ++p) {
    if (*p == '"') buffer[length++] = '\\';
    buffer[length++] = *p;
  }
  if (size > 0) buffer[length < size ? length : size - 1] = '\0';
}

int queryDevice(const char* uri, ppd_file_t* ppd, FILE* out) {
  int answered = 0;
  const char* hint = "";
  const int status = run_queries(uri, ppd, out, &answered, &hint);
  if (status == kQueryUsage) {
    if (connectionType(uri) == kConnectionNetwork) {
      fprintf(stderr, "zorvquery: no host in the device URI %s\n", ShownUri(uri).c_str());
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
