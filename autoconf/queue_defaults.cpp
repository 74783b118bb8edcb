// The printer's answers as the queue's own defaults.
#include "autoconf/queue_defaults.h"

#include <cstdio>
#include <cstring>

#include "autoconf/installable.h"
#include "log/escape.h"

namespace {

constexpr char kUpdateAttribute[] = "zorvUpdateQueue";
constexpr char kLinePrefix[] = "PPD:";
constexpr char kUnsafe[] = "\"'\\={}";

}  // namespace

PpdLine::~PpdLine() {
  flush();
}

bool PpdLine::add(const char* keyword, const char* choice) {
  char pair[kPpdLineLimit];
  const int length = snprintf(pair, sizeof(pair), " Default%s=%s", keyword, choice);
  if (length < 0 || static_cast<size_t>(length) >= sizeof(pair)) return false;
  // Every pair, the first of a line too, must leave room for the newline.
  const size_t prefix = sizeof(kLinePrefix) - 1;
  if (prefix + static_cast<size_t>(length) + 1 >= kPpdLineLimit) return false;
  if (used_ > 0 && used_ + static_cast<size_t>(length) + 1 >= kPpdLineLimit) flush();
  if (used_ == 0) {
    memcpy(line_, kLinePrefix, prefix + 1);
    used_ = prefix;
  }
  memcpy(line_ + used_, pair, static_cast<size_t>(length) + 1);
  used_ += static_cast<size_t>(length);
  return true;
}

void PpdLine::flush() {
  if (used_ == 0) return;
  fprintf(out_, "%s\n", line_);
  used_ = 0;
}

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
  PpdLine line(stderr);
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
    if (!line.add(option->keyword, choice->choice)) {
      fprintf(stderr,
              "WARNING: option '%s' choice '%s' cannot be passed to the queue safely, not "
              "reported\n",
              ShownText(option->keyword).c_str(), ShownText(choice->choice).c_str());
      continue;
    }
    ++reported;
  }
  return reported;
}
