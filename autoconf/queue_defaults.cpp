// The printer's answers as the queue's own defaults.
#include "autoconf/queue_defaults.h"

#include <cstdio>
#include <cstring>

#include "autoconf/installable.h"
#include "log/escape.h"

namespace {

constexpr char kUpdateAttribute[] = "zorvUpdateQueue";
constexpr char kLinePrefix[] = "PPD:";
// The scheduler reads a filter's messages in lines of at most 2047 bytes; a line is closed
// before it could come near that.
constexpr size_t kLineLimit = 1024;
constexpr char kUnsafe[] = "\"'\\={}";

// Collects "PPD:" pairs into lines of at most kLineLimit bytes.
class PpdLine {
 public:
  ~PpdLine() { flush(); }
  PpdLine() = default;
  PpdLine(const PpdLine&) = delete;
  PpdLine& operator=(const PpdLine&) = delete;

  void add(const char* keyword, const char* choice) {
    char pair[kLineLimit];
    const int length = snprintf(pair, sizeof(pair), " Default%s=%s", keyword, choice);
    if (length < 0 || static_cast<size_t>(length) >= sizeof(pair)) return;
    if (used_ > 0 && used_ + static_cast<size_t>(length) + 1 >= kLineLimit) flush();
    if (used_ == 0) used_ = static_cast<size_t>(snprintf(line_, sizeof(line_), "%s", kLinePrefix));
    memcpy(line_ + used_, pair, static_cast<size_t>(length) + 1);
    used_ += static_cast<size_t>(length);
  }
  void flush() {
    if (used_ == 0) return;
    fprintf(stderr, "%s\n", line_);
    used_ = 0;
  }

 private:
  char line_[kLineLimit + 1] = {};
  size_t used_ = 0;
};

}  // namespace

bool queueUpdateWanted(ppd_file_t* ppd) {
  ppd_attr_t* attr = ppd != nullptr ? ppdFindAttr(ppd, kUpdateAttribute, nullptr) : nullptr;
  return attr != nullptr && attr->value != nullptr && strcmp(attr->value, "True") == 0;
}

bool safeOnPpdLine(const char* text) {
  if (text == nullptr || text[0] == '\0') return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (*p <= ' ' || *p >= 0x7f || strchr(kUnsafe, *p) != nullptr) return false;
  }
  return true;
}

int reportQueueDefaults(ppd_file_t* ppd) {
  int reported = 0;
  PpdLine line;
  for (ppd_option_t* option = firstInstallableOption(ppd); option != nullptr;
       option = nextInstallableOption(ppd)) {
    ppd_choice_t* choice = ppdFindMarkedChoice(ppd, option->keyword);
    if (choice == nullptr) continue;
    if (!safeOnPpdLine(option->keyword) || !safeOnPpdLine(choice->choice)) {
      fprintf(stderr,
              "WARNING: option '%s' choice '%s' cannot be passed to the queue safely, not "
              "reported\n",
              ShownText(option->keyword).c_str(), ShownText(choice->choice).c_str());
      continue;
    }
    line.add(option->keyword, choice->choice);
    ++reported;
  }
  return reported;
}
