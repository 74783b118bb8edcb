// The CUPS-standard SNMP attributes of an installable option: "*?OID<Keyword>" names the OID to
// read (or "*OID<Keyword>" without a choice, as many PPDs write it), and each
// "*OID<Keyword> <Choice>" gives a value that marks its choice when the answer matches it.
#ifndef ZORV_AUTOCONF_OID_ATTRIBUTES_H
#define ZORV_AUTOCONF_OID_ATTRIBUTES_H

#include <cups/ppd.h>

// The option's query line of this family: the first "?OID<Keyword>" with a value, else the
// first "OID<Keyword>" without a choice whose value is a dotted OID; null when there is none.
// Its name is written into name (41 bytes, the PPD limit).
ppd_attr_t* findOidQuery(ppd_file_t* ppd, ppd_option_t* option, char (&name)[41]);

// Whether the value of an "OID<Keyword> <Choice>" line matches the answer's natural text: it
// equals the text; or it is an extended regular expression that matches the whole text; or it
// is a decimal number followed by a space and a unit word ("262144 KBytes") and the text is
// that number. A value that is not a valid expression is compared as text only.
bool oidValueMatches(const char* value, const char* text);

// Marks the choice of the option's first "OID<Keyword> <Choice>" line that matches the
// natural text, in PPD order, or says on standard error that none does (the text escaped).
void applyOidReply(ppd_file_t* ppd, ppd_option_t* option, const char* text);

#endif  // ZORV_AUTOCONF_OID_ATTRIBUTES_H
