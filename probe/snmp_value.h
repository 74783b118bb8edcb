// The text of an SNMP value: the reply text that Snmp<Keyword> expressions are tried against,
// and the natural text of the CUPS-standard OID<Keyword> values.
#ifndef ZORV_PROBE_SNMP_VALUE_H
#define ZORV_PROBE_SNMP_VALUE_H

#include <cstddef>

struct variable_list;

// The reply text of one variable: decimal for INTEGER, the bytes up to the first zero for
// OCTET STRING, "<NULL>", dotted decimal for OBJECT IDENTIFIER, the low 32 bits least
// significant byte first in hexadecimal for the 32-bit unsigned types, and the stored bytes in
// hexadecimal for any other type. Each piece is printed into what is left of the buffer; once
// a piece does not fit the text is full and its length is size - 1. Returns the text length,
// or -1 for a missing variable or buffer.
int snmpValueText(const struct variable_list* variable, char* buffer, size_t size);

// The natural text of one variable, which the CUPS-standard OID<Keyword> values are compared
// with: an OCTET STRING up to its first zero byte, every integer type in decimal (signed for
// INTEGER, unsigned for the others), an OBJECT IDENTIFIER and an IpAddress dotted, anything
// else as hexadecimal bytes. Same length rule and results as snmpValueText.
int snmpNaturalText(const struct variable_list* variable, char* buffer, size_t size);

#endif  // ZORV_PROBE_SNMP_VALUE_H
