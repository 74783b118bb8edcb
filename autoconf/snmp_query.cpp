// Network path of the option query: the printer's host from the device URI, the SNMP community
// from the vendor settings file, and the GETs of every installable option in one round, whose
// answers then pick, option by option, the choice to mark. Every message goes to standard error.
#include "autoconf/snmp_query.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <regex.h>
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "autoconf/installable.h"
#include "autoconf/oid_attributes.h"
#include "autoconf/ppd_handles.h"
#include "autoconf/snmp_get.h"
#include "autoconf/snmp_round.h"
#include "common/credentials.h"
#include "common/handles.h"
#include "log/escape.h"
#include "log/settings.h"
#include "log/text.h"

namespace {

constexpr char kProgramName[] = "zorvautoconf";
constexpr char kDefaultCommunity[] = "mirelo";
constexpr char kSettingsPattern[] = "/opt/%s/mfp/share/OEM.ini";
constexpr char kCommunityKey[] = "SNMP_COMMUNITY";
constexpr size_t kCommunityKeyLength = sizeof(kCommunityKey) - 1;
constexpr const char* kVendors[] = {"Orvane", "Kestrel", "TALMA", "Brightwell", "Pemberly"};

constexpr size_t kHostBuffer = 256;
constexpr size_t kSettingsPathBuffer = 256;
constexpr size_t kAttributeName = 41;
constexpr size_t kReplyText = 256;
constexpr size_t kRegexError = 256;
constexpr int kQueryTimeoutMs = 3000;
constexpr int kQueryRetries = 0;

char host_buffer[kHostBuffer];

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Copies the host text [begin, end) into the host buffer, decoding %XX escapes (an IPv6 zone is
// written "%25" in a URI). False when it is empty, holds a zero byte or does not fit: a cut host
// would send the requests to another machine.
bool store_host(const char* begin, const char* end) {
  size_t length = 0;
  for (const char* p = begin; p < end; ++p) {
    char c = *p;
    if (c == '%' && end - p >= 3 && hex_value(p[1]) >= 0 && hex_value(p[2]) >= 0) {
      c = static_cast<char>(hex_value(p[1]) * 16 + hex_value(p[2]));
      p += 2;
    }
    if (c == '\0' || length + 1 >= sizeof(host_buffer)) return false;
    host_buffer[length++] = c;
  }
  host_buffer[length] = '\0';
  return length > 0;
}

// The authority of "scheme://authority/path?query#fragment", or null when the URI has no "//"
// right after a well-formed scheme.
const char* authority_start(const char* uri) {
  if (!isalpha(static_cast<unsigned char>(uri[0]))) return nullptr;
  const char* p = uri + 1;
  while (isalnum(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-' || *p == '.') ++p;
  if (strncmp(p, "://", 3) != 0) return nullptr;
  return p + 3;
}

void report_regex_error(int code, const regex_t* regex) {
  char message[kRegexError];
  regerror(code, regex, message, sizeof(message));
  fprintf(stderr, "ERROR: regcomp failed: <%s>\n", message);
}

void print_query_failure(const char* oid_text) {
  fprintf(stderr, "WARNING: SNMP query (%s) failure\n", oid_text);
}

// The query line of an option: its own "?Snmp<Keyword>", else the CUPS-standard "?OID<Keyword>"
// (or "OID<Keyword>" without a choice), whose answers are compared with the OID<Keyword>
// values instead of the Snmp<Keyword> expressions.
struct QueryLine {
  ppd_attr_t* attr = nullptr;
  bool standard = false;  // the CUPS-standard family
  char name[kAttributeName] = "";
};

// Finds the option's query line; without one, its name is "?Snmp<Keyword>". A name beyond the
// PPD limit of 40 characters is cut, and the cut name is looked up.
QueryLine find_query_line(ppd_file_t* ppd, ppd_option_t* option) {
  QueryLine line;
  format_text(line.name, sizeof(line.name), "?Snmp%s", option->keyword);
  line.attr = ppdFindAttr(ppd, line.name, nullptr);
  if (line.attr != nullptr && line.attr->value != nullptr) return line;
  char standard_name[kAttributeName];
  line.attr = findOidQuery(ppd, option, standard_name);
  if (line.attr != nullptr) {
    line.standard = true;
    copy_text(line.name, sizeof(line.name), standard_name);
  }
  return line;
}

void print_no_query(ppd_option_t* option, const QueryLine& query) {
  fprintf(stderr, "WARNING: option '%s' has no query attribute '%s'\n", option->keyword,
          query.name);
}

// Marks the option from an answer's text of length bytes, or reports that its query gave none.
void apply_outcome(ppd_file_t* ppd, ppd_option_t* option, const QueryLine& query, char* text,
                   int length) {
  if (length < 0) {
    print_query_failure(query.attr->value);
    return;
  }
  text[length] = '\0';
  if (query.standard) {
    applyOidReply(ppd, option, text);
  } else {
    applySnmpReply(ppd, option, text);
  }
}

// One installable option of the network path and, when it has a query attribute, the index of
// its request in the round.
struct OptionQuery {
  ppd_option_t* option = nullptr;
  QueryLine query;
  size_t request = 0;
};

// Asks the printer about every installable option at once: all GETs go out together, and the
// outcomes are then reported, and the choices marked, in option order, exactly as GETs made
// one after another would report and mark them; the observer (when given) sees each option
// after that. Nothing is reported or marked when SIGTERM ends the round (-1). Without the
// memory for the round, the options are asked one after another.
int query_all_options(ppd_file_t* ppd, netsnmp_session* session, OptionObserver observer,
                      void* context) {
  size_t total = 0;
  for (ppd_option_t* o = firstInstallableOption(ppd); o != nullptr;
       o = nextInstallableOption(ppd)) {
    total++;
  }
  UniqueMalloc<OptionQuery[]> options = make_array<OptionQuery>(total);
  UniqueMalloc<SnmpRequest[]> requests = make_array<SnmpRequest>(total);
  if (total > 0 && (options == nullptr || requests == nullptr)) {
    for (ppd_option_t* o = firstInstallableOption(ppd); o != nullptr;
         o = nextInstallableOption(ppd)) {
      querySnmpOption(ppd, o, session);
    }
    return 0;
  }
  size_t count = 0;
  size_t index = 0;
  for (ppd_option_t* o = firstInstallableOption(ppd); o != nullptr;
       o = nextInstallableOption(ppd), ++index) {
    options[index].option = o;
    options[index].query = find_query_line(ppd, o);
    if (options[index].query.attr == nullptr) continue;
    options[index].request = count;
    requests[count++].oid_text = options[index].query.attr->value;
  }
  const int round = snmpGetAll(session, requests.get(), count, kQueryTimeoutMs, kQueryRetries);
  for (size_t i = 0; round == kSnmpRoundDone && i < total; ++i) {
    ppd_option_t* option = options[i].option;
    const QueryLine& query = options[i].query;
    AnswerNote note(observer, context, option);
    note.answer.query_name = query.name;
    if (query.attr == nullptr) {
      print_no_query(option, query);
      continue;
    }
    note.answer.query = query.attr->value;
    const SnmpRequest& request = requests[options[i].request];
    char reply[kReplyText];
    const int length =
        snmpReportAnswer(request, reply, sizeof(reply),
                         query.standard ? SnmpTextForm::kNatural : SnmpTextForm::kReply);
    char failure[kReplyText];
    if (length < 0) {
      snmpFailureWords(request, failure, sizeof(failure));
      note.answer.failure = failure;
    } else {
      note.answer.reply = reply;
    }
    apply_outcome(ppd, option, query, reply, length);
  }
  snmpRoundRelease(requests.get(), count);
  return round == kSnmpRoundDone ? 0 : -1;
}

}  // namespace

const char* hostFromUri(const char* uri) {
  if (uri == nullptr) return nullptr;
  const char* authority = authority_start(uri);
  if (authority == nullptr) return nullptr;
  const char* authority_end = authority + strcspn(authority, "/?#");

  // User information ends at the last '@' of the authority.
  const char* host = authority;
  for (const char* p = authority; p < authority_end; ++p) {
    if (*p == '@') host = p + 1;
  }

  const char* host_end = nullptr;
  if (*host == '[') {
    // An IPv6 literal: the address without its brackets, a port may follow.
    ++host;
    host_end =
        static_cast<const char*>(memchr(host, ']', static_cast<size_t>(authority_end - host)));
    if (host_end == nullptr) return nullptr;
  } else {
    host_end =
        static_cast<const char*>(memchr(host, ':', static_cast<size_t>(authority_end - host)));
    if (host_end == nullptr) host_end = authority_end;
  }
  return store_host(host, host_end) ? host_buffer : nullptr;
}

int parseCommunityLine(char* line, void* buffer) {
  strip_newline(line);
  if (strstr(line, kCommunityKey) == nullptr) return 0;
  // The key is passed over by position, wherever it stands in the line.
  if (strlen(line) < kCommunityKeyLength) return 0;
  const char* equals = strchr(line + kCommunityKeyLength, '=');
  if (equals == nullptr) return 0;
  copy_text(static_cast<char*>(buffer), kSnmpCommunitySize, equals + 1);
  return 1;
}

int getSnmpCommunity(ppd_file_t* ppd, char* buffer, int size) {
  return findSnmpCommunity(ppd, buffer, size, nullptr, 0);
}

int findSnmpCommunity(ppd_file_t* ppd, char* buffer, int size, char* source, size_t source_size) {
  if (ppd == nullptr || ppd->manufacturer == nullptr || buffer == nullptr ||
      size < static_cast<int>(kSnmpCommunitySize)) {
    return -1;
  }
  for (const char* vendor : kVendors) {
    if (strcasecmp(vendor, ppd->manufacturer) != 0) continue;
    char path[kSettingsPathBuffer];
    snprintf(path, sizeof(path), kSettingsPattern, vendor);
    if (read_settings(path, parseCommunityLine, buffer) == 1) {
      if (source != nullptr) copy_text(source, source_size, path);
      return 0;
    }
  }
  return -1;
}

void snmpRunCommunity(ppd_file_t* ppd, char (&community)[kSnmpCommunitySize], char* source,
                      size_t source_size) {
  if (source != nullptr && source_size > 0) source[0] = '\0';
  if (findSnmpCommunity(ppd, community, sizeof(community), source, source_size) != 0) {
    copy_text(community, sizeof(community), kDefaultCommunity);
  }
}

int regexMatch(const char* pattern, const char* text) {
  regex_t regex;
  const int compiled = regcomp(&regex, pattern, REG_EXTENDED | REG_NOSUB);
  if (compiled != 0) {
    report_regex_error(compiled, &regex);
    return compiled;
  }
  RegexOwner owner(&regex);
  return regexec(&regex, text, 0, nullptr, 0);
}

void querySnmpOption(ppd_file_t* ppd, ppd_option_t* option, netsnmp_session* session) {
  const QueryLine query = find_query_line(ppd, option);
  if (query.attr == nullptr) {
    print_no_query(option, query);
    return;
  }
  char reply[kReplyText];
  const int length =
      snmpGetOne(session, query.attr->value, reply, sizeof(reply), kQueryTimeoutMs, kQueryRetries,
                 query.standard ? SnmpTextForm::kNatural : SnmpTextForm::kReply);
  apply_outcome(ppd, option, query, reply, length);
}

void applySnmpReply(ppd_file_t* ppd, ppd_option_t* option, const char* reply) {
  char name[kAttributeName];
  format_text(name, sizeof(name), "Snmp%s", option->keyword);
  for (ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr); attr != nullptr;
       attr = ppdFindNextAttr(ppd, name, nullptr)) {
    // The PPD library stores "" for an attribute written without a value: as an expression
    // it would match every answer, so it is passed over like a missing one.
    if (attr->value == nullptr || attr->value[0] == '\0') {
      fprintf(stderr, "WARNING: reply attribute '%s' is empty\n", name);
      continue;
    }
    if (regexMatch(attr->value, reply) == 0) {
      markReplyChoice(ppd, option, name, attr->spec);
      return;
    }
  }
  // The reply text is the device's: shown escaped, so that it can never end this line and
  // start one of its own that the scheduler would act on.
  fprintf(stderr, "WARNING: option '%s' has no reply attribute '%s' with value '%s'\n",
          option->keyword, name, ShownText(reply).c_str());
}

void snmpLibraryInit() {
  {
    // Keeps MIB loading (OIDs may be MIB names) without its warnings on standard error.
    SnmpLogHush hush;
    init_snmp(kProgramName);
  }
  // The machine's snmp.conf may switch on packet dumps or debugging. Packet dumps go through
  // xdump, which this program exports and which writes to standard output, the job stream;
  // debugging output would fill the messages that the scheduler shows.
  snmp_set_do_debugging(0);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DUMP_PACKET, 0);
}

int snmpQueryOptions(ppd_file_t* ppd, const char* host, const char* community,
                     OptionObserver observer, void* context) {
  netsnmp_session session;
  setupSnmpSession(&session, host, community);
  const int result = query_all_options(ppd, &session, observer, context);
  releaseSnmpSession(&session);
  return result;
}

int snmpUpdateConfigOptions(ppd_file_t* ppd, const char* device_uri) {
  const char* host = hostFromUri(device_uri);
  if (host == nullptr || host[0] == '\0') {
    // The URI may carry a password in its user information.
    fprintf(stderr, "ERROR: hostFromUri(%s) failed:\n",
            ShownUri(device_uri != nullptr ? device_uri : "(null)").c_str());
    return -1;
  }
  snmpLibraryInit();
  char community[kSnmpCommunitySize];
  snmpRunCommunity(ppd, community, nullptr, 0);
  snmpQueryOptions(ppd, host, community, nullptr, nullptr);
  return 0;
}
