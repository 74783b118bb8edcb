// Fuzzes the reply text of an SNMP value on fuzzer-built variable records: one built the way
// the SNMP library builds them (snmp_set_var_typed_value), one raw with any type tag and a
// value of exactly val_len bytes. The first input bytes pick the type and the buffer size.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "probe/snmp_value.h"
#include "fuzz_support.h"

namespace {

// Types whose value the library stores as a native long (or a struct of them): a record of
// such a type always holds at least that many bytes.
bool stored_as_number(u_char type) {
  switch (type) {
    case ASN_INTEGER:
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
    case ASN_COUNTER64:
#ifdef NETSNMP_WITH_OPAQUE_SPECIAL_TYPES
    case ASN_OPAQUE_COUNTER64:
    case ASN_OPAQUE_U64:
    case ASN_OPAQUE_I64:
    case ASN_OPAQUE_FLOAT:
    case ASN_OPAQUE_DOUBLE:
#endif
      return true;
    default:
      return false;
  }
}

// Renders the variable into exactly size bytes; returns the text.
std::string render(const netsnmp_variable_list* variable, size_t size) {
  std::vector<char> buffer(size, 'x');
  int n = snmpValueText(variable, buffer.data(), buffer.size());
  if (n < 0 || static_cast<size_t>(n) >= size) fuzz_fail("reply length out of range");
  if (strlen(buffer.data()) > static_cast<size_t>(n)) fuzz_fail("text longer than its length");
  return buffer.data();
}

// The reply text of the types whose rendering needs no knowledge of the library's storage.
bool expected_text(const netsnmp_variable_list* v, std::string& text) {
  char number[32];
  switch (v->type) {
    case ASN_INTEGER:
      snprintf(number, sizeof(number), "%ld", *v->val.integer);
      text = number;
      return true;
    case ASN_OCTET_STR:
      text.assign(reinterpret_cast<const char*>(v->val.string),
                  strnlen(reinterpret_cast<const char*>(v->val.string), v->val_len));
      return true;
    case ASN_NULL:
      text = "<NULL>";
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const u_char type = data[0];
  const size_t buffer_size = 1 + data[1] % 300;
  const uint8_t* value = data + 2;
  const size_t value_len = size - 2;

  netsnmp_variable_list built;
  memset(&built, 0, sizeof(built));
  if (snmp_set_var_typed_value(&built, type, value, value_len) == 0) {
    const std::string text = render(&built, buffer_size);
    std::string expected;
    if (expected_text(&built, expected) && expected.substr(0, buffer_size - 1) != text) {
      fuzz_fail("reply text differs from its definition");
    }
  }
  snmp_free_var_internals(&built);

  // A raw record: exactly val_len bytes of storage, unless the type is read as a number.
  size_t storage = value_len;
  if (stored_as_number(type) && storage < sizeof(struct counter64)) {
    storage = sizeof(struct counter64);
  }
  std::vector<uint8_t> bytes(storage == 0 ? 1 : storage, 0);
  if (value_len > 0) memcpy(bytes.data(), value, value_len);
  netsnmp_variable_list raw;
  memset(&raw, 0, sizeof(raw));
  raw.type = type;
  raw.val.string = bytes.data();
  raw.val_len = value_len;
  render(&raw, buffer_size);
  return 0;
}
