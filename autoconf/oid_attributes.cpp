// The CUPS-standard SNMP attributes of an installable option.
#include "autoconf/oid_attributes.h"

#include <regex.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "autoconf/installable.h"
#include "autoconf/ppd_handles.h"
#include "common/handles.h"
#include "log/escape.h"
#include "log/text.h"

namespace {

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

// "262144 KBytes": true, with the number's length in digits, when value is digits, one space
// and a word of letters.
bool number_with_unit(const char* value, size_t* digits) {
  size_t n = 0;
  while (isdigit(static_cast<unsigned char>(value[n]))) ++n;
  if (n == 0 || value[n] != ' ' || !isalpha(static_cast<unsigned char>(value[n + 1]))) {
    return false;
  }
  for (const char* p = value + n + 1; *p != '\0'; ++p) {
    if (!isalpha(static_cast<unsigned char>(*p))) return false;
  }
  *digits = n;
  return true;
}

// Whether the expression matches all of text; false for an expression that does not compile.
// POSIX matching is leftmost-longest: when a match of the whole text exists, the first match
// starts at 0 and is the longest from there.
bool matches_whole(const char* expression, const char* text) {
  regex_t regex;
  if (regcomp(&regex, expression, REG_EXTENDED) != 0) return false;
  RegexOwner owner(&regex);
  regmatch_t match[1];
  return regexec(&regex, text, 1, match, 0) == 0 && match[0].rm_so == 0 &&
         static_cast<size_t>(match[0].rm_eo) == strlen(text);
}

}  // namespace

ppd_attr_t* findOidQuery(ppd_file_t* ppd, ppd_option_t* option, char (&name)[41]) {
  format_text(name, sizeof(name), "?OID%s", option->keyword);
  ppd_attr_t* query = ppdFindAttr(ppd, name, nullptr);
  if (query != nullptr && query->value != nullptr && query->value[0] != '\0') return query;
  format_text(name, sizeof(name), "OID%s", option->keyword);
  for (ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr); attr != nullptr;
       attr = ppdFindNextAttr(ppd, name, nullptr)) {
    if (attr->spec[0] == '\0' && dotted_oid(attr->value)) return attr;
  }
  return nullptr;
}

bool oidValueMatches(const char* value, const char* text) {
  if (strcmp(value, text) == 0 || matches_whole(value, text)) return true;
  size_t digits = 0;
  return number_with_unit(value, &digits) && strlen(text) == digits &&
         strncmp(value, text, digits) == 0;
}

void applyOidReply(ppd_file_t* ppd, ppd_option_t* option, const char* text) {
  char name[41];
  format_text(name, sizeof(name), "OID%s", option->keyword);
  for (ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr); attr != nullptr;
       attr = ppdFindNextAttr(ppd, name, nullptr)) {
    // The line without a choice is the query, not a reply.
    if (attr->spec[0] == '\0') continue;
    if (attr->value == nullptr || attr->value[0] == '\0') {
      fprintf(stderr, "WARNING: reply attribute '%s' is empty\n", name);
      continue;
    }
    if (oidValueMatches(attr->value, text)) {
      markReplyChoice(ppd, option, name, attr->spec);
      return;
    }
  }
  fprintf(stderr, "WARNING: option '%s' has no reply attribute '%s' with value '%s'\n",
          option->keyword, name, ShownText(text).c_str());
}
