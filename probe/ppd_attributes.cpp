// The PPD side of a device query: installable options and the attribute families.
#include "probe/ppd_attributes.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "log/text.h"

namespace {

constexpr char kGroupMark[] = "install";

// Case-insensitive substring test; the PPD library's strings are ASCII.
bool contains_ignoring_case(const char* text, const char* mark) {
  const size_t mark_length = strlen(mark);
  for (const char* p = text; *p != '\0'; p++) {
    if (strncasecmp(p, mark, mark_length) == 0) return true;
  }
  return false;
}

// ".1.3.6.1.2.1.25.2.2.0" or "1.3.6.1...": digits separated by single dots.
bool dotted_oid(const char* text) {
  if (text == nullptr) return false;
  const char* p = text[0] == '.' ? text + 1 : text;
  if (!isdigit(static_cast<unsigned char>(*p))) return false;
  for (; *p != '\0'; ++p) {
    if (*p == '.' && !isdigit(static_cast<unsigned char>(p[1]))) return false;
    if (*p != '.' && !isdigit(static_cast<unsigned char>(*p))) return false;
  }
  return true;
}

}  // namespace

void formatQueryName(char (&name)[kAttributeNameSize], ProbeFamily family, const char* keyword) {
  format_text(name, sizeof(name), "%s%s", familyNames(family).query, keyword);
}

void formatReplyName(char (&name)[kAttributeNameSize], ProbeFamily family, const char* keyword) {
  format_text(name, sizeof(name), "%s%s", familyNames(family).reply, keyword);
}

bool isReplyAttribute(ProbeFamily family, const ppd_attr_t* attr) {
  return family != ProbeFamily::kOid || attr->spec[0] != '\0';
}

ppd_attr_t* findOidQuery(ppd_file_t* ppd, const ppd_option_t* option,
                         char (&name)[kAttributeNameSize]) {
  formatQueryName(name, ProbeFamily::kOid, option->keyword);
  ppd_attr_t* query = ppdFindAttr(ppd, name, nullptr);
  if (query != nullptr && query->value != nullptr && query->value[0] != '\0') return query;
  formatReplyName(name, ProbeFamily::kOid, option->keyword);
  for (ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr); attr != nullptr;
       attr = ppdFindNextAttr(ppd, name, nullptr)) {
    if (!isReplyAttribute(ProbeFamily::kOid, attr) && dotted_oid(attr->value)) return attr;
  }
  return nullptr;
}

ppd_group_t* installableGroup(ppd_file_t* ppd) {
  if (ppd == nullptr) return nullptr;
  for (int i = 0; i < ppd->num_groups; i++) {
    ppd_group_t* group = &ppd->groups[i];
    if (contains_ignoring_case(group->text, kGroupMark)) return group;
  }
  return nullptr;
}
