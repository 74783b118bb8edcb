// The query mode of zorvquery.
#include "query/device_report.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "autoconf/option_answer.h"
#include "autoconf/printer_config.h"
#include "autoconf/snmp_query.h"
#include "autoconf/usb_query.h"
#include "common/credentials.h"
#include "log/escape.h"

namespace {

constexpr size_t kQuotedSize = escaped_size(256) + 256;
constexpr size_t kSourceSize = 256;

// The filter's own messages (what the scheduler's error log would show) are caught while the
// queries run and shown indented under the option they belong to.
class MessageCapture {
 public:
  explicit MessageCapture(FILE* out) : out_(out) {
    fflush(stderr);
    memory_ = memfd_create("zorvquery-messages", MFD_CLOEXEC);
    saved_ = dup(2);
    if (memory_ < 0 || saved_ < 0 || dup2(memory_, 2) < 0) release();
  }
  ~MessageCapture() {
    show();
    release();
  }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  // Shows the messages written since the last call, each line indented.
  void show() {
    if (memory_ < 0) return;
    fflush(stderr);
    char buffer[4096];
    ssize_t n;
    while ((n = pread(memory_, buffer, sizeof(buffer), shown_)) > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        if (at_line_start_) fputs("    ", out_);
        fputc(buffer[i], out_);
        at_line_start_ = buffer[i] == '\n';
      }
      shown_ += n;
    }
    if (!at_line_start_) {
      fputc('\n', out_);
      at_line_start_ = true;
    }
  }

 private:
  void release() {
    if (saved_ >= 0) {
      dup2(saved_, 2);
      close(saved_);
    }
    if (memory_ >= 0) close(memory_);
    saved_ = memory_ = -1;
  }

  FILE* out_;
  int memory_ = -1;
  int saved_ = -1;
  off_t shown_ = 0;
  bool at_line_start_ = true;
};

// What the observer has seen so far.
struct Tally {
  FILE* out;
  MessageCapture* messages = nullptr;
  int answered = 0;
};

// One line per option: keyword, query, what it gave, the choice it marks, the PPD's default.
void show_option_line(const OptionAnswer& answer, Tally& tally);

void show_option(const OptionAnswer& answer, void* context) {
  Tally& tally = *static_cast<Tally*>(context);
  show_option_line(answer, tally);
  if (tally.messages != nullptr) tally.messages->show();
}

void show_option_line(const OptionAnswer& answer, Tally& tally) {
  ppd_option_t* option = answer.option;
  const char* default_choice = option->defchoice[0] != '\0' ? option->defchoice : "-";
  if (answer.query == nullptr) {
    fprintf(tally.out, "%s: no query attribute '%s'; default %s\n", option->keyword,
            answer.query_name, default_choice);
    return;
  }
  char query[kQuotedSize];
  quoteReply(answer.query, query, sizeof(query));
  if (answer.reply == nullptr) {
    fprintf(tally.out, "%s: %s \"%s\" -> %s; default %s\n", option->keyword, answer.query_name,
            query, ShownText(answer.failure != nullptr ? answer.failure : "no value").c_str(),
            default_choice);
    return;
  }
  ++tally.answered;
  char reply[kQuotedSize];
  quoteReply(answer.reply, reply, sizeof(reply));
  // Only the device's answer marks choices in this PPD handle: nothing called ppdMarkDefaults.
  ppd_choice_t* marked = nullptr;
  for (int i = 0; i < option->num_choices; ++i) {
    if (option->choices[i].marked) marked = &option->choices[i];
  }
  fprintf(tally.out, "%s: %s \"%s\" -> \"%s\" -> %s%s%s%s; default %s\n", option->keyword,
          answer.query_name, query, reply, marked != nullptr ? marked->choice : "-",
          marked != nullptr ? "" : " (no reply attribute matches)",
          answer.failure != nullptr ? ", " : "",
          answer.failure != nullptr ? ShownText(answer.failure).c_str() : "", default_choice);
}

// Runs the query of the URI's kind; the kind's own lines go to out. kQueryUsage for a URI
// that cannot be queried.
int run_queries(const char* uri, ppd_file_t* ppd, Tally& tally) {
  switch (deviceConnectionType(uri)) {
    case kConnectionNetwork: {
      const char* host = hostFromUri(uri);
      if (host == nullptr || host[0] == '\0') return kQueryUsage;
      snmpLibraryInit();
      char community[kSnmpCommunitySize];
      char source[kSourceSize];
      snmpRunCommunity(ppd, community, source, sizeof(source));
      fprintf(tally.out, "# %s: SNMP to %s, community %s\n", ShownUri(uri).c_str(),
              ShownText(host).c_str(),
              source[0] != '\0' ? source : "the default (no settings file for this manufacturer)");
      snmpQueryOptions(ppd, host, community, show_option, &tally);
      return kQueryAnswered;
    }
    case kConnectionUsb:
      fprintf(tally.out,
              "# %s: the USB printer whose product string and the PPD's model name contain one "
              "another\n",
              ShownUri(uri).c_str());
      usbQueryDevice(ppd, uri, show_option, &tally);
      return kQueryAnswered;
    default:
      return kQueryUsage;
  }
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
  Tally tally{out};
  int status;
  {
    // The filter's messages are caught while the queries run.
    MessageCapture messages(out);
    tally.messages = &messages;
    status = run_queries(uri, ppd, tally);
    tally.messages = nullptr;
  }
  if (status == kQueryUsage) {
    if (deviceConnectionType(uri) == kConnectionNetwork) {
      fprintf(stderr, "zorvquery: no host in the device URI %s\n", ShownUri(uri).c_str());
    } else {
      fprintf(stderr,
              "zorvquery: the device URI %s cannot be queried (network URIs: http:, ipp:, "
              "socket:, lpd:; USB URIs: usb:, mfp:)\n",
              ShownUri(uri).c_str());
    }
    return kQueryUsage;
  }
  if (tally.answered > 0) return kQueryAnswered;
  fprintf(stderr, "zorvquery: no query got an answer%s\n",
          deviceConnectionType(uri) == kConnectionNetwork
              ? "; under SNMPv1 a wrong community is not answered at all"
              : "");
  return kQueryNoAnswer;
}
