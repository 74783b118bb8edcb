// The PPD side of a device query: which options are installable, and the three families of
// per-option attributes that say what to ask and how to read the answer. The query, the
// filter's messages and the PPD check all name attributes through this one table.
#ifndef ZORV_PROBE_PPD_ATTRIBUTES_H
#define ZORV_PROBE_PPD_ATTRIBUTES_H

#include <cups/ppd.h>

#include <cstddef>
#include <cstdint>

// A PPD name has at most 40 characters; a longer attribute name is cut to that, and the cut
// name is what is looked up and shown.
inline constexpr size_t kAttributeNameSize = 41;

enum class ProbeFamily : uint8_t {
  kSnmp,  // "?Snmp<Keyword>" an OID, "Snmp<Keyword> <Choice>" an extended regular expression
  kOid,   // the CUPS-standard "?OID<Keyword>" (or "OID<Keyword>" without a choice) and
          // "OID<Keyword> <Choice>": the answer's natural text, compared whole
  kEp0,   // "?Ep0<Keyword>" four setup bytes, a slash and mask bytes; "Ep0<Keyword> <Choice>"
          // the expected bytes, all hexadecimal
};

struct ProbeFamilyNames {
  const char* query;  // prefix of the query attribute's name
  const char* reply;  // prefix of the reply attributes' name
};

// Indexed by ProbeFamily.
inline constexpr ProbeFamilyNames kProbeFamilies[] = {
    {"?Snmp", "Snmp"},
    {"?OID", "OID"},
    {"?Ep0", "Ep0"},
};

inline constexpr const ProbeFamilyNames& familyNames(ProbeFamily family) {
  return kProbeFamilies[static_cast<size_t>(family)];
}

// Forms the family's query or reply attribute name of a keyword, cut to 40 characters.
void formatQueryName(char (&name)[kAttributeNameSize], ProbeFamily family, const char* keyword);
void formatReplyName(char (&name)[kAttributeNameSize], ProbeFamily family, const char* keyword);

// Whether an attribute of the family counts as a reply attribute: every one of its name, but
// for the standard family only those with a choice (the one without is its query).
bool isReplyAttribute(ProbeFamily family, const ppd_attr_t* attr);

// The option's query attribute of the CUPS-standard family: the first "?OID<Keyword>" with a
// value, else the first "OID<Keyword>" without a choice whose value is a dotted OID; null when
// there is none. The name it was found under goes into name.
ppd_attr_t* findOidQuery(ppd_file_t* ppd, const ppd_option_t* option,
                         char (&name)[kAttributeNameSize]);

// Whether an attribute has a value that is not empty.
inline bool attributeHasValue(const ppd_attr_t* attr) {
  return attr->value != nullptr && attr->value[0] != '\0';
}

// The first group of the PPD whose text contains "install" in any letter case: its options are
// the installable options, in file order. Null when there is none. Keeps no state, so any
// number of walks over different PPD handles may run at once.
ppd_group_t* installableGroup(ppd_file_t* ppd);

#endif  // ZORV_PROBE_PPD_ATTRIBUTES_H
