// The --check mode of zorvquery.
#include "query/ppd_check.h"

#include <regex.h>

#include <cstdarg>
#include <cstring>

#include "autoconf/installable.h"
#include "autoconf/oid_attributes.h"
#include "autoconf/snmp_query.h"
#include "autoconf/snmp_round.h"
#include "autoconf/usb_query.h"
#include "log/escape.h"

namespace {

constexpr size_t kNameLimit = 40;  // a PPD name longer than this is cut
constexpr size_t kNameSize = kNameLimit + 1;
constexpr size_t kMessageSize = 256;
constexpr char kFilterName[] = "zorvautoconf";

// The families of attributes: the query prefix, the reply prefix, and how their values read.
enum class Values { kExpressions, kUsbBytes, kStandard };
struct Family {
  const char* query;
  const char* reply;
  Values values;
};
constexpr Family kFamilies[] = {{"?Snmp", "Snmp", Values::kExpressions},
                                {"?Ep0", "Ep0", Values::kUsbBytes},
                                {"?OID", "OID", Values::kStandard}};

struct Checker {
  ppd_file_t* ppd;
  FILE* out;
  int problems = 0;

  void problem(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    vfprintf(out, format, args);
    va_end(args);
    fputc('\n', out);
    ++problems;
  }
};

bool usb_query_readable(const char* text) {
  unsigned char setup[4];
  unsigned char mask[8];
  return parseEp0Query(text, setup, mask);
}

// The query attribute and the reply attributes of one family of one option.
void check_family(Checker& c, ppd_option_t* option, const Family& family) {
  char query_name[kNameSize];
  char reply_name[kNameSize];
  snprintf(query_name, sizeof(query_name), "%s%s", family.query, option->keyword);
  snprintf(reply_name, sizeof(reply_name), "%s%s", family.reply, option->keyword);
  const bool snmp = family.values != Values::kUsbBytes;

  // The standard family's query may also be written without its '?' and without a choice.
  ppd_attr_t* query = family.values == Values::kStandard ? findOidQuery(c.ppd, option, query_name)
                                                         : ppdFindAttr(c.ppd, query_name, nullptr);
  int replies = 0;
  for (ppd_attr_t* attr = ppdFindAttr(c.ppd, reply_name, nullptr); attr != nullptr;
       attr = ppdFindNextAttr(c.ppd, reply_name, nullptr)) {
    if (family.values == Values::kStandard && attr->spec[0] == '\0') continue;
    ++replies;
    if (ppdFindChoice(option, attr->spec) == nullptr) {
      char choices[kMessageSize] = "";
      for (int i = 0; i < option->num_choices; ++i) {
        const size_t used = strlen(choices);
        snprintf(choices + used, sizeof(choices) - used, "%s%s", i > 0 ? ", " : "",
                 option->choices[i].choice);
      }
      c.problem(
          "%s: reply attribute '%s %s' names a choice that the option does not have "
          "(choices: %s)",
          option->keyword, reply_name, ShownText(attr->spec).c_str(), ShownText(choices).c_str());
    }
    if (attr->value == nullptr || attr->value[0] == '\0') {
      c.problem("%s: reply attribute '%s %s' is empty and matches nothing", option->keyword,
                reply_name, ShownText(attr->spec).c_str());
    } else if (family.values == Values::kExpressions) {
      regex_t regex;
      const int error = regcomp(&regex, attr->value, REG_EXTENDED | REG_NOSUB);
      if (error != 0) {
        char message[kMessageSize];
        regerror(error, &regex, message, sizeof(message));
        c.problem("%s: reply attribute '%s %s' does not compile: %s", option->keyword, reply_name,
                  ShownText(attr->spec).c_str(), message);
      } else {
        regfree(&regex);
      }
    }
  }
  const bool has_query = query != nullptr && query->value != nullptr && query->value[0] != '\0';
  if (has_query && !(snmp ? snmpOidReadable(query->value) : usb_query_readable(query->value))) {
    c.problem("%s: query attribute '%s' cannot be read: \"%s\"", option->keyword, query_name,
              ShownText(query->value).c_str());
  }
  if (family.values == Values::kStandard && query == nullptr) {
    snprintf(query_name, sizeof(query_name), "%s%s", family.query, option->keyword);
  }
  if (has_query && replies == 0) {
    c.problem("%s: query attribute '%s' but no reply attribute '%s'", option->keyword, query_name,
              reply_name);
  } else if (!has_query && replies > 0) {
    c.problem("%s: reply attributes '%s' but no query attribute '%s'", option->keyword, reply_name,
              query_name);
  }
}

// The source type of a filter line: "type cost program" or "source destination cost program".
bool takes_type(const char* line, const char* type, bool two_types) {
  char source[kMessageSize];
  char destination[kMessageSize];
  const int fields =
      two_types ? sscanf(line, "%255s %255s", source, destination) : sscanf(line, "%255s", source);
  return fields >= 1 && strcmp(source, type) == 0;
}

// A pre-filter runs only for a type that a filter line takes. The attributes are walked by
// index: the library's find-next walk has one position, which an inner walk would move.
void check_prefilters(Checker& c) {
  for (int p = 0; p < c.ppd->num_attrs; ++p) {
    const ppd_attr_t* pre = c.ppd->attrs[p];
    char type[kMessageSize];
    char program[kMessageSize];
    int cost = 0;
    if (strcmp(pre->name, "cupsPreFilter") != 0 || pre->value == nullptr ||
        sscanf(pre->value, "%255s %d %255s", type, &cost, program) != 3 ||
        strstr(program, kFilterName) == nullptr) {
      continue;
    }
    bool taken = false;
    for (int i = 0; i < c.ppd->num_filters && !taken; ++i) {
      taken = takes_type(c.ppd->filters[i], type, false);
    }
    for (int i = 0; i < c.ppd->num_attrs && !taken; ++i) {
      const ppd_attr_t* filter = c.ppd->attrs[i];
      taken = strcmp(filter->name, "cupsFilter2") == 0 && filter->value != nullptr &&
              takes_type(filter->value, type, true);
    }
    if (!taken) {
      c.problem(
          "*cupsPreFilter \"%s\": no *cupsFilter or *cupsFilter2 line takes %s, so "
          "%s never runs",
          ShownText(pre->value).c_str(), type, kFilterName);
    }
  }
}

}  // namespace

int checkPpd(ppd_file_t* ppd, FILE* out) {
  snmpLibraryInit();
  Checker c{ppd, out};
  check_prefilters(c);
  int options = 0;
  for (ppd_option_t* option = firstInstallableOption(ppd); option != nullptr;
       option = nextInstallableOption(ppd), ++options) {
    if (strlen(option->keyword) + strlen("?Snmp") > kNameLimit) {
      c.problem(
          "%s: the keyword has %zu characters; its attribute names longer than %zu "
          "characters are cut, and the cut names are looked up",
          option->keyword, strlen(option->keyword), kNameLimit);
    }
    for (const Family& family : kFamilies) check_family(c, option, family);
  }
  if (options == 0) {
    c.problem(
        "no installable options: the first group whose name contains \"install\" has "
        "none, or there is no such group");
  }

  char community[kSnmpCommunitySize];
  char source[kMessageSize] = "";
  const char* manufacturer = ppd->manufacturer != nullptr ? ppd->manufacturer : "";
  if (findSnmpCommunity(ppd, community, sizeof(community), source, sizeof(source)) == 0) {
    fprintf(out, "# SNMP community: SNMP_COMMUNITY= of %s (manufacturer \"%s\")\n", source,
            ShownText(manufacturer).c_str());
  } else {
    fprintf(out,
            "# SNMP community: the default (manufacturer \"%s\" leads to no settings file "
            "with SNMP_COMMUNITY=)\n",
            ShownText(manufacturer).c_str());
  }
  return c.problems;
}
