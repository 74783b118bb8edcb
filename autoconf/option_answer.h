// What the device query found for one installable option, for an observer that shows it (the
// query tool): handed over after the option was reported and marked, in option order.
#ifndef ZORV_AUTOCONF_OPTION_ANSWER_H
#define ZORV_AUTOCONF_OPTION_ANSWER_H

#include <cups/ppd.h>

struct OptionAnswer {
  ppd_option_t* option = nullptr;
  const char* query_name = "";    // the query attribute's name as looked up ("?SnmpTray")
  const char* query = nullptr;    // its value; null when the option has none
  const char* reply = nullptr;    // the reply text the reply attributes saw; null without one
  const char* failure = nullptr;  // why there is no reply, in words; or a note on the reply
};

using OptionObserver = void (*)(const OptionAnswer& answer, void* context);

// Hands the answer it collects to the observer when it goes out of scope, so that every way
// out of an option's query reports it once.
class AnswerNote {
 public:
  AnswerNote(OptionObserver observer, void* context, ppd_option_t* option)
      : observer_(observer), context_(context) {
    answer.option = option;
  }
  ~AnswerNote() {
    if (observer_ != nullptr) observer_(answer, context_);
  }
  AnswerNote(const AnswerNote&) = delete;
  AnswerNote& operator=(const AnswerNote&) = delete;

  OptionAnswer answer;

 private:
  OptionObserver observer_;
  void* context_;
};

#endif  // ZORV_AUTOCONF_OPTION_ANSWER_H
