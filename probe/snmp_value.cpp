// The text of an SNMP value.
#include "probe/snmp_value.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kLowBytes = 4;  // the 32-bit unsigned types render these bytes

// Appends to the reply text under the length rule: the length grows by what the print wanted,
// and once it reaches size the text is full (false), its length then being size - 1.
class ReplyText {
 public:
  ReplyText(char* buffer, size_t size) : buffer_(buffer), size_(size) { buffer_[0] = '\0'; }

  __attribute__((format(printf, 2, 3))) bool print(const char* format, ...) {
    if (full()) return false;
    va_list args;
    va_start(args, format);
    const int wanted = vsnprintf(buffer_ + length_, size_ - length_, format, args);
    va_end(args);
    if (wanted > 0) length_ += static_cast<size_t>(wanted);
    return !full();
  }

  int length() const { return static_cast<int>(full() ? size_ - 1 : length_); }

 private:
  bool full() const { return length_ >= size_; }

  char* buffer_;
  size_t size_;
  size_t length_ = 0;
};

bool is_32bit_unsigned(u_char type) {
  return type == ASN_COUNTER || type == ASN_GAUGE || type == ASN_TIMETICKS || type == ASN_UINTEGER;
}

void print_object_id(ReplyText& text, const netsnmp_variable_list* variable) {
  if (variable->val.objid == nullptr) return;
  const size_t count = variable->val_len / sizeof(oid);
  for (size_t i = 0; i < count; ++i) {
    if (!text.print("%s%lu", i == 0 ? "" : ".",
                    static_cast<unsigned long>(variable->val.objid[i]))) {
      return;
    }
  }
}

void print_bytes(ReplyText& text, const u_char* bytes, size_t count) {
  if (bytes == nullptr) return;
  for (size_t i = 0; i < count; ++i) {
    if (!text.print("%02X", bytes[i])) return;
  }
}

// The library stores these types as a native long; the reply text keeps the 4-byte form so
// that a PPD's reply expressions mean the same on every machine.
void print_low_32_bits(ReplyText& text, const netsnmp_variable_list* variable) {
  if (variable->val.integer == nullptr || variable->val_len != sizeof(long)) {
    print_bytes(text, variable->val.string, variable->val_len);
    return;
  }
  const auto value = static_cast<uint32_t>(static_cast<unsigned long>(*variable->val.integer));
  u_char bytes[kLowBytes];
  for (int i = 0; i < kLowBytes; ++i) bytes[i] = static_cast<u_char>(value >> (8 * i));
  print_bytes(text, bytes, sizeof(bytes));
}

}  // namespace

int snmpValueText(const netsnmp_variable_list* variable, char* buffer, size_t size) {
  if (variable == nullptr || buffer == nullptr || size == 0) return -1;
  ReplyText text(buffer, size);
  switch (variable->type) {
    case ASN_INTEGER:
      if (variable->val.integer != nullptr) text.print("%ld", *variable->val.integer);
      break;
    case ASN_OCTET_STR:
      if (variable->val.string != nullptr) {
        text.print("%.*s", static_cast<int>(variable->val_len), variable->val.string);
      }
      break;
    case ASN_NULL:
      text.print("<NULL>");
      break;
    case ASN_OBJECT_ID:
      print_object_id(text, variable);
      break;
    default:
      if (is_32bit_unsigned(variable->type)) {
        print_low_32_bits(text, variable);
      } else {
        print_bytes(text, variable->val.string, variable->val_len);
      }
      break;
  }
  return text.length();
}

int snmpNaturalText(const netsnmp_variable_list* variable, char* buffer, size_t size) {
  if (variable == nullptr || buffer == nullptr || size == 0) return -1;
  ReplyText text(buffer, size);
  const bool stored = variable->val.integer != nullptr;
  switch (variable->type) {
    case ASN_OCTET_STR:
      if (variable->val.string != nullptr) {
        text.print("%.*s", static_cast<int>(variable->val_len), variable->val.string);
      }
      break;
    case ASN_INTEGER:
      if (stored) text.print("%ld", *variable->val.integer);
      break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
      if (stored) {
        text.print("%lu",
                   static_cast<unsigned long>(static_cast<uint32_t>(*variable->val.integer)));
      }
      break;
    case ASN_COUNTER64:
      if (variable->val.counter64 != nullptr) {
        text.print("%llu", (static_cast<unsigned long long>(variable->val.counter64->high) << 32) |
                               (variable->val.counter64->low & 0xFFFFFFFFu));
      }
      break;
    case ASN_OBJECT_ID:
      print_object_id(text, variable);
      break;
    case ASN_IPADDRESS:
      if (variable->val.string != nullptr && variable->val_len == 4) {
        text.print("%u.%u.%u.%u", variable->val.string[0], variable->val.string[1],
                   variable->val.string[2], variable->val.string[3]);
      } else {
        print_bytes(text, variable->val.string, variable->val_len);
      }
      break;
    default:
      print_bytes(text, variable->val.string, variable->val_len);
      break;
  }
  return text.length();
}
