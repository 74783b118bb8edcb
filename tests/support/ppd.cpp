// PPD texts and files of the tests.
#include "support/ppd.h"

#include "support/paths.h"

std::string installable_option(const std::string& keyword, bool with_default) {
  return "*OpenUI *" + keyword + "/" + keyword + ": Boolean\n" +
         (with_default ? "*Default" + keyword + ": False\n" : std::string()) + "*" + keyword +
         " True/Installed: \"\"\n*" + keyword + " False/Not Installed: \"\"\n*CloseUI: *" +
         keyword + "\n";
}

std::string test_ppd(const std::string& manufacturer, const std::string& options,
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

UniquePpd open_ppd(const std::string& path) {
  return UniquePpd(ppdOpenFile(path.c_str()));
}

UniquePpd open_ppd_text(const std::string& text) {
  // The library reads the whole file when it opens it; the file may go at once.
  TempDir dir;
  if (!write_file(dir.file("test.ppd"), text)) return nullptr;
  return open_ppd(dir.file("test.ppd"));
}

std::string marked_choice(ppd_file_t* ppd, const std::string& keyword) {
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword.c_str());
  return choice != nullptr ? choice->choice : "";
}
