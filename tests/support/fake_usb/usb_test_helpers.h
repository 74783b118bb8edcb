// Helpers of the USB unit tests: fixture PPDs, marks, standard error captured around a call.
#ifndef ZORV_TESTS_FAKE_USB_USB_TEST_HELPERS_H
#define ZORV_TESTS_FAKE_USB_USB_TEST_HELPERS_H

#include <cups/ppd.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "support/fake_usb/fake_usb.h"

namespace usb_test {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const {
    if (ppd != nullptr) ppdClose(ppd);
  }
};
using UniquePpd = std::unique_ptr<ppd_file_t, PpdCloser>;

inline UniquePpd open_fixture(const std::string& name) {
  return UniquePpd(ppdOpenFile((std::string(TEST_DATA_DIR) + "/usb/" + name).c_str()));
}

// The marked choice of an option, or "" when none is marked.
inline std::string marked(ppd_file_t* ppd, const char* keyword) {
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword);
  return choice != nullptr ? choice->choice : "";
}

// Runs fn with descriptor 2 sent to a temporary file; returns the bytes written there.
template <typename Fn>
std::string stderr_of(Fn fn) {
  fflush(stderr);
  FILE* capture = tmpfile();
  if (capture == nullptr) return "<no capture file>";
  int saved = dup(2);
  dup2(fileno(capture), 2);
  fn();
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string text;
  rewind(capture);
  char block[512];
  for (size_t n; (n = fread(block, 1, sizeof(block), capture)) > 0;) text.append(block, n);
  fclose(capture);
  return text;
}

// Points the PPD's model name at other text for one test; the original is back before close.
class ModelName {
 public:
  ModelName(ppd_file_t* ppd, const char* text)
      : ppd_(ppd), saved_(ppd->modelname), text_(text != nullptr ? text : "") {
    ppd_->modelname = text != nullptr ? text_.data() : nullptr;
  }
  ~ModelName() { ppd_->modelname = saved_; }
  ModelName(const ModelName&) = delete;
  ModelName& operator=(const ModelName&) = delete;

 private:
  ppd_file_t* ppd_;
  char* saved_;
  std::string text_;
};

// The usb_control_msg calls of the record.
inline std::vector<fake_usb::Call> control_calls() {
  std::vector<fake_usb::Call> found;
  for (const fake_usb::Call& call : fake_usb::calls()) {
    if (call.function == "usb_control_msg") found.push_back(call);
  }
  return found;
}

inline fake_usb::Reply reply8(std::vector<uint8_t> bytes) {
  bytes.resize(8);
  return fake_usb::Reply{8, bytes, ""};
}

}  // namespace usb_test

#endif  // ZORV_TESTS_FAKE_USB_USB_TEST_HELPERS_H
