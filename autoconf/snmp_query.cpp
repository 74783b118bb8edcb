// Network path of the option query, as the filter runs it: the printer's host from the device
// URI, the SNMP community from the vendor settings file, and the GETs of every installable
// option in one round, whose answers then pick, option by option, the choice to mark. Every
// message goes to standard error.
#include "autoconf/snmp_query.h"

#include <regex.h>

#include <cstdio>

#include "autoconf/device_answers.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

char host_buffer[kHostSize];

// A record of an answer already had, for the reply attributes of family to be tried against.
void apply_reply(ppd_file_t* ppd, ppd_option_t* option, ProbeFamily family, const char* reply) {
  ProbeRecord record;
  HeapList<ProbeNote> notes;
  probeAnsweredRecord(ppd, option, family, reply, record, notes);
  reportOptionAnswer(ppd, record, notes.size() > 0 ? &notes[0] : nullptr);
}

}  // namespace

const char* hostFromUri(const char* uri) {
  return hostOfUri(uri, host_buffer, sizeof(host_buffer)) ? host_buffer : nullptr;
}

int regexMatch(const char* pattern, const char* text) {
  char error[kDetailSize];
  const int result = regexSearch(pattern, text, error, sizeof(error));
  if (result != 0 && result != REG_NOMATCH) fprintf(stderr, "ERROR: regcomp failed: <%s>\n", error);
  return result;
}

void querySnmpOption(ppd_file_t* ppd, ppd_option_t* option, struct snmp_session* session) {
  ProbeRecord record;
  HeapList<ProbeNote> notes;
  ProbeCancel cancel;
  cancel.sigterm = true;
  probeSnmpOption(ppd, option, session, cancel, record, notes);
  reportOptionAnswer(ppd, record, notes.size() > 0 ? &notes[0] : nullptr);
}

void applySnmpReply(ppd_file_t* ppd, ppd_option_t* option, const char* reply) {
  apply_reply(ppd, option, ProbeFamily::kSnmp, reply);
}

void applyOidReply(ppd_file_t* ppd, ppd_option_t* option, const char* text) {
  apply_reply(ppd, option, ProbeFamily::kOid, text);
}

void snmpLibraryInit() {
  probeInit();
}

int snmpUpdateConfigOptions(ppd_file_t* ppd, const char* device_uri) {
  NetworkQuery query;
  const char* why = "";
  ProbeResult result;
  const int setup = setupNetworkQuery(device_uri, ppd, nullptr, query, &why);
  if (setup != kProbeDone) {
    if (setup == kProbeNoMemory) return -1;
    addDeviceNote(result.device_notes, DeviceNoteKind::kNoHost, why);
    result.notes_before = result.device_notes.size();
    writeDeviceNotes(stderr, result, false, device_uri);
    return -1;
  }
  ProbeCancel cancel;
  cancel.sigterm = true;
  probeNetworkOptions(ppd, query, cancel, result);
  reportDeviceAnswers(ppd, result, device_uri);
  return 0;
}
