// The --check mode of zorvquery.
#include "query/ppd_check.h"

#include <regex.h>

#include <cstdarg>
#include <cstring>

#include "common/secret.h"
#include "log/escape.h"
#include "probe/probe.h"
#include "query/ppd_syntax.h"
#include "query/settings_check.h"

namespace {

constexpr size_t kNameLimit = kAttributeNameSize - 1;  // a PPD name longer than this is cut
constexpr size_t kMessageSize = 256;
constexpr char kFilterName[] = "zorvautoconf";
constexpr ProbeFamily kFamilies[] = {ProbeFamily::kSnmp, ProbeFamily::kEp0, ProbeFamily::kOid};

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

// The query attribute and the reply attributes of one family of one option.
// Everything from the PPD is shown escaped: it may be a copy anyone could write.
void check_family(Checker& c, ppd_option_t* option, ProbeFamily family) {
  const ShownText keyword(option->keyword);
  char query_name[kAttributeNameSize];
  char reply_name[kAttributeNameSize];
  formatQueryName(query_name, family, option->keyword);
  formatReplyName(reply_name, family, option->keyword);

  // The standard family's query may also be written without its '?' and without a choice.
  ppd_attr_t* query = family == ProbeFamily::kOid ? findOidQuery(c.ppd, option, query_name)
                                                  : ppdFindAttr(c.ppd, query_name, nullptr);
  int replies = 0;
  for (ppd_attr_t* attr = ppdFindAttr(c.ppd, reply_name, nullptr); attr != nullptr;
       attr = ppdFindNextAttr(c.ppd, reply_name, nullptr)) {
    if (!isReplyAttribute(family, attr)) continue;
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
          keyword.c_str(), ShownText(reply_name).c_str(), ShownText(attr->spec).c_str(),
          ShownText(choices).c_str());
    }
    if (attr->value == nullptr || attr->value[0] == '\0') {
      c.problem("%s: reply attribute '%s %s' is empty and matches nothing", keyword.c_str(),
                ShownText(reply_name).c_str(), ShownText(attr->spec).c_str());
    } else if (family == ProbeFamily::kSnmp) {
      char message[kMessageSize];
      const int error = regexSearch(attr->value, "", message, sizeof(message));
      if (error != 0 && error != REG_NOMATCH) {
        c.problem("%s: reply attribute '%s %s' does not compile: %s", keyword.c_str(),
                  ShownText(reply_name).c_str(), ShownText(attr->spec).c_str(), message);
      }
    }
  }
  const bool has_query = query != nullptr && query->value != nullptr && query->value[0] != '\0';
  if (has_query && !probeQueryReadable(family, query->value)) {
    c.problem("%s: query attribute '%s' cannot be read: \"%s\"", keyword.c_str(),
              ShownText(query_name).c_str(), ShownText(query->value).c_str());
  }
  if (family == ProbeFamily::kOid && query == nullptr) {
    formatQueryName(query_name, family, option->keyword);
  }
  if (has_query && replies == 0) {
    c.problem("%s: query attribute '%s' but no reply attribute '%s'", keyword.c_str(),
              ShownText(query_name).c_str(), ShownText(reply_name).c_str());
  } else if (!has_query && replies > 0) {
    c.problem("%s: reply attributes '%s' but no query attribute '%s'", keyword.c_str(),
              ShownText(reply_name).c_str(), ShownText(query_name).c_str());
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
          ShownText(pre->value).c_str(), ShownText(type).c_str(), kFilterName);
    }
  }
}

// The SNMPv3 settings of the manufacturer's file: the user, level and protocols that the
// queries use, never a passphrase; settings that are not used are a problem.
void check_snmp_v3(Checker& c) {
  Secret<SnmpCredentials> credentials;
  if (credentials.get() == nullptr) return;
  SnmpSettingsReport report;
  snmpRunCredentials(c.ppd, *credentials, report);
  if (credentials->use_v3) {
    char summary[kMessageSize];
    snmpV3Summary(credentials->v3, summary, sizeof(summary));
    fprintf(c.out, "# SNMPv3: %s, from %s (instead of the community)\n",
            ShownText(summary).c_str(), report.path);
  } else if (report.problem != SnmpSettingsProblem::kNone) {
    char words[kMessageSize];
    snmpSettingsProblemWords(report, words, sizeof(words));
    c.problem("SNMPv3 settings of %s not used: %s; the queries use SNMPv1", report.path,
              ShownText(words).c_str());
  }
}

}  // namespace

int checkPpd(ppd_file_t* ppd, const char* path, FILE* out) {
  probeInit();
  Checker c{ppd, out};
  c.problems += checkPpdLines(path, out);
  check_prefilters(c);
  ppd_group_t* group = installableGroup(ppd);
  const int options = group != nullptr ? group->num_options : 0;
  for (int i = 0; i < options; ++i) {
    ppd_option_t* option = &group->options[i];
    if (strlen(option->keyword) + strlen(familyNames(ProbeFamily::kSnmp).query) > kNameLimit) {
      c.problem(
          "%s: the keyword has %zu characters; its attribute names longer than %zu "
          "characters are cut, and the cut names are looked up",
          ShownText(option->keyword).c_str(), strlen(option->keyword), kNameLimit);
    }
    for (ProbeFamily family : kFamilies) check_family(c, option, family);
  }
  if (options == 0) {
    c.problem(
        "no installable options: the first group whose name contains \"install\" has "
        "none, or there is no such group");
  }

  char settings[kSettingsPathSize];
  if (snmpSettingsPath(ppd, settings, sizeof(settings))) {
    c.problems += checkSettingsLines(settings, out);
  }
  char community[kSnmpCommunitySize];
  char source[kMessageSize] = "";
  const char* manufacturer = ppd->manufacturer != nullptr ? ppd->manufacturer : "";
  if (findSnmpCommunity(ppd, community, sizeof(community), source, sizeof(source)) == 0) {
    fprintf(out, "# SNMP community: SNMP_COMMUNITY= of %s (manufacturer \"%s\")\n", source,
            ShownText(manufacturer).c_str());
  } else {
    char tried[kMessageSize * 2];
    snmpDefaultCommunityWords(ppd, tried, sizeof(tried));
    fprintf(out,
            "# SNMP community: the default (manufacturer \"%s\" leads to no settings file "
            "with SNMP_COMMUNITY=; %s)\n",
            ShownText(manufacturer).c_str(), ShownText(tried).c_str());
  }
  check_snmp_v3(c);
  return c.problems;
}
