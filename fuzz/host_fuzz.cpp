// Fuzzes the host extraction from the device URI and the scheme classification that picks
// the query path.
#include <cstdint>
#include <cstring>
#include <string>

#include "autoconf/printer_config.h"
#include "autoconf/snmp_query.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string uri = fuzz_text(data, size);
  const char* host = hostFromUri(uri.c_str());
  if (host != nullptr && strnlen(host, 256) >= 256) fuzz_fail("host text not terminated");
  int type = deviceConnectionType(uri.c_str());
  if (type < 0 || type > 2) fuzz_fail("unknown connection type");
  return 0;
}
