// Small PPD texts for the SNMP query tests: an installable-options group whose options carry
// their query and reply attributes.
#ifndef ZORV_TESTS_SNMP_TEST_PPD_H
#define ZORV_TESTS_SNMP_TEST_PPD_H

#include <cups/ppd.h>

#include <memory>
#include <string>

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const {
    if (ppd != nullptr) ppdClose(ppd);
  }
};
using UniquePpd = std::unique_ptr<ppd_file_t, PpdCloser>;

// A boolean installable option with default False and the given attribute lines after it.
// Without the *Default line the keyword may use all 40 characters of a PPD name.
inline std::string installable_option(const std::string& keyword, bool with_default = true) {
  return "*OpenUI *" + keyword + "/" + keyword + ": Boolean\n" +
         (with_default ? "*Default" + keyword + ": False\n" : std::string()) + "*" + keyword +
         " True/Installed: \"\"\n*" + keyword + " False/Not Installed: \"\"\n*CloseUI: *" +
         keyword + "\n";
}

// manufacturer empty: no *Manufacturer line.
inline std::string test_ppd(const std::string& manufacturer, const std::string& options,
                            const std::string& attributes) {
  std::string text =
      "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"ZTEST.PPD\"\n";
  if (!manufacturer.empty()) text += "*Manufacturer: \"" + manufacturer + "\"\n";
  text +=
      "*Product: \"(Test)\"\n*ModelName: \"Test Printer\"\n*ShortNickName: \"Test Printer\"\n"
      "*NickName: \"Test Printer\"\n*PSVersion: \"(3010.000) 0\"\n"
      "*OpenGroup: InstallableOptions/Installable Options\n" +
      options + "*CloseGroup: InstallableOptions\n" + attributes;
  return text;
}

inline const char* marked_choice(ppd_file_t* ppd, const char* keyword) {
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword);
  return choice != nullptr ? choice->choice : "";
}

#endif  // ZORV_TESTS_SNMP_TEST_PPD_H
