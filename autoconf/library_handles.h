// RAII owners for the handles of the libraries the auto-configuration filter uses: PPD files,
// fetched temporary PPD paths, compiled regular expressions, SNMP sessions and PDUs. The USB
// device handle is closed by hand: both of its close results are reported.
#ifndef ZORV_AUTOCONF_LIBRARY_HANDLES_H
#define ZORV_AUTOCONF_LIBRARY_HANDLES_H

#include <cups/ppd.h>
#include <regex.h>
#include <unistd.h>

#include <memory>

#include "common/text.h"

// The CUPS 2.4 headers mark the PPD interface deprecated; it is the one this filter needs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
#pragma GCC diagnostic pop
using UniquePpd = std::unique_ptr<ppd_file_t, PpdCloser>;

// Frees a compiled expression that lives elsewhere (usually on the stack); set it only after
// regcomp succeeded.
struct RegexFreer {
  void operator()(regex_t* expression) const { regfree(expression); }
};
using RegexOwner = std::unique_ptr<regex_t, RegexFreer>;

// The SNMP owners exist only where the Net-SNMP headers were included before this one: they
// are not pulled in here because Net-SNMP declares an xdump of its own that clashes with the
// log library's.
#ifdef NET_SNMP_INCLUDES_H
struct SnmpPduFreer {
  void operator()(netsnmp_pdu* pdu) const { snmp_free_pdu(pdu); }
};
// A PDU handed to snmp_sess_synch_response belongs to the library: release() it then.
using UniqueSnmpPdu = std::unique_ptr<netsnmp_pdu, SnmpPduFreer>;

// The single-session interface hands out an opaque pointer.
struct SnmpSessionCloser {
  void operator()(void* session) const { snmp_sess_close(session); }
};
using UniqueSnmpSession = std::unique_ptr<void, SnmpSessionCloser>;
#endif  // NET_SNMP_INCLUDES_H

// Removes a fetched temporary file at destruction. The path is copied in, because the CUPS
// library returns fetched paths in one buffer that its next fetch overwrites.
class TempPathGuard {
 public:
  static constexpr size_t kPathSize = 1024;

  TempPathGuard() = default;
  explicit TempPathGuard(const char* path) { reset(path); }
  TempPathGuard(const TempPathGuard&) = delete;
  TempPathGuard& operator=(const TempPathGuard&) = delete;
  ~TempPathGuard() { reset(nullptr); }

  const char* path() const { return path_; }
  bool empty() const { return path_[0] == '\0'; }
  // Removes the file held so far, then holds path (nothing for null).
  void reset(const char* path) {
    if (path_[0] != '\0') unlink(path_);
    copy_text(path_, sizeof(path_), path != nullptr ? path : "");
  }
  // Stops holding the file without removing it.
  void release() { path_[0] = '\0'; }

 private:
  char path_[kPathSize] = {};
};

#endif  // ZORV_AUTOCONF_LIBRARY_HANDLES_H
