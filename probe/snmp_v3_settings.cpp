// The SNMPv3 settings of a query: the keys of the settings file, the file's rules and the
// values' rules.
#include "probe/snmp_v3_settings.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "log/settings.h"
#include "log/text.h"

namespace {

// The stdio buffer of the settings file: on the stack, so that it can be cleared after the
// file is closed (the library's own would go back to the heap holding the passphrases).
constexpr size_t kStreamBuffer = 4096;

template <typename T>
struct Name {
  const char* text;
  T value;
};

// Accepted in any letter case; the first name of each value is the one shown.
constexpr Name<SnmpLevel> kLevels[] = {
    {"noAuthNoPriv", SnmpLevel::kNoAuthNoPriv},
    {"authNoPriv", SnmpLevel::kAuthNoPriv},
    {"authPriv", SnmpLevel::kAuthPriv},
};
constexpr Name<SnmpAuth> kAuths[] = {
    {"MD5", SnmpAuth::kMd5},        {"SHA-1", SnmpAuth::kSha1},     {"SHA1", SnmpAuth::kSha1},
    {"SHA", SnmpAuth::kSha1},       {"SHA-224", SnmpAuth::kSha224}, {"SHA224", SnmpAuth::kSha224},
    {"SHA-256", SnmpAuth::kSha256}, {"SHA256", SnmpAuth::kSha256},  {"SHA-384", SnmpAuth::kSha384},
    {"SHA384", SnmpAuth::kSha384},  {"SHA-512", SnmpAuth::kSha512}, {"SHA512", SnmpAuth::kSha512},
};
constexpr Name<SnmpPriv> kPrivs[] = {
    {"DES", SnmpPriv::kDes},        {"AES-128", SnmpPriv::kAes128}, {"AES128", SnmpPriv::kAes128},
    {"AES", SnmpPriv::kAes128},     {"AES-192", SnmpPriv::kAes192}, {"AES192", SnmpPriv::kAes192},
    {"AES-256", SnmpPriv::kAes256}, {"AES256", SnmpPriv::kAes256},
};

template <typename T, size_t N>
bool find_name(const Name<T> (&names)[N], const char* text, T* value) {
  for (const Name<T>& name : names) {
    if (strcasecmp(name.text, text) == 0) {
      *value = name.value;
      return true;
    }
  }
  return false;
}

template <typename T, size_t N>
const char* shown_name(const Name<T> (&names)[N], T value) {
  for (const Name<T>& name : names) {
    if (name.value == value) return name.text;
  }
  return "none";
}

// The keys in the order of Parse's fields.
enum Key {
  kVersion,
  kUser,
  kLevel,
  kAuthProtocol,
  kAuthPassphrase,
  kPrivProtocol,
  kPrivPassphrase,
  kContext,
  kKeyCount
};
constexpr const char* kKeys[kKeyCount] = {
    kSnmpVersionKey,        kSnmpUserKey,         kSnmpLevelKey,          kSnmpAuthProtocolKey,
    kSnmpAuthPassphraseKey, kSnmpPrivProtocolKey, kSnmpPrivPassphraseKey, kSnmpContextKey,
};

// What the lines gave: each key's value, where it goes, and whether it fitted.
struct Parse {
  SnmpV3Settings* settings;
  char version[kSnmpSettingNameSize] = "";
  char level[kSnmpSettingNameSize] = "";
  char auth[kSnmpSettingNameSize] = "";
  char priv[kSnmpSettingNameSize] = "";
  bool seen[kKeyCount] = {};
  bool too_long[kKeyCount] = {};

  char* field(int key, size_t* size) {
    switch (key) {
      case kVersion:
        *size = sizeof(version);
        return version;
      case kUser:
        *size = sizeof(settings->user);
        return settings->user;
      case kLevel:
        *size = sizeof(level);
        return level;
      case kAuthProtocol:
        *size = sizeof(auth);
        return auth;
      case kAuthPassphrase:
        *size = sizeof(settings->auth_passphrase);
        return settings->auth_passphrase;
      case kPrivProtocol:
        *size = sizeof(priv);
        return priv;
      case kPrivPassphrase:
        *size = sizeof(settings->priv_passphrase);
        return settings->priv_passphrase;
      default:
        *size = sizeof(settings->context);
        return settings->context;
    }
  }
};

// Every key by the community's rule, each on its own: the first line that holds the key and an
// '=' after the key's length sets it. A value that does not fit is not cut (a cut passphrase
// or name is another one) but marked too long, and so is one that reaches the end of a piece
// of a longer line. The line is cleared afterwards: it may hold a passphrase.
int parse_line(char* line, void* context) {
  Parse& parse = *static_cast<Parse*>(context);
  const size_t piece = strlen(line);
  const bool cut = piece + 1 >= SETTINGS_LINE_SIZE && line[piece - 1] != '\n';
  strip_newline(line);
  const size_t length = strlen(line);
  for (int key = 0; key < kKeyCount; ++key) {
    const char* value = parse.seen[key] ? nullptr : settingLineValue(line, kKeys[key]);
    if (value == nullptr) continue;
    parse.seen[key] = true;
    size_t size = 0;
    char* field = parse.field(key, &size);
    const size_t value_length = strlen(value);
    if (cut || value_length >= size) {
      parse.too_long[key] = true;
      // A name too long to be known is still shown, cut, in the message.
      if (key == kVersion || key == kLevel || key == kAuthProtocol || key == kPrivProtocol) {
        copy_text(field, size, value);
      }
    } else {
      memcpy(field, value, value_length + 1);
    }
  }
  explicit_bzero(line, length);
  return 0;
}

bool fail(SnmpSettingsReport& report, SnmpSettingsProblem problem, const char* key,
          const char* value = "") {
  report.problem = problem;
  report.key = key;
  copy_text(report.value, sizeof(report.value), value);
  return false;
}

// The file's rules, for a file that holds SNMPv3 keys. opened is the file as read.
bool file_rules_met(const char* path, const struct stat& opened, bool holds_passphrase,
                    SnmpSettingsReport& report) {
  struct stat link;
  if (lstat(path, &link) != 0 || !S_ISREG(link.st_mode) || link.st_dev != opened.st_dev ||
      link.st_ino != opened.st_ino) {
    return fail(report, SnmpSettingsProblem::kNotRegularFile, nullptr);
  }
  // Whoever may change the file chooses the printer's user and keys; whoever may read it
  // learns the passphrases.
  if (opened.st_uid != 0) return fail(report, SnmpSettingsProblem::kNotRootsFile, nullptr);
  if ((opened.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return fail(report, SnmpSettingsProblem::kWritableByOthers, nullptr);
  }
  if (holds_passphrase && (opened.st_mode & S_IROTH) != 0) {
    return fail(report, SnmpSettingsProblem::kReadableByAll, nullptr);
  }
  return true;
}

// The values of a file that asks for SNMPv3: names known, nothing too long, then the rules of
// checkSnmpV3Settings.
bool values_met(const Parse& parse, SnmpV3Settings& settings, SnmpSettingsReport& report) {
  constexpr int kLengthKeys[] = {kUser, kContext, kAuthPassphrase, kPrivPassphrase};
  for (int key : kLengthKeys) {
    if (parse.too_long[key]) return fail(report, SnmpSettingsProblem::kTooLong, kKeys[key]);
  }
  if (!snmpLevelOfName(parse.level, &settings.level)) {
    return fail(report, SnmpSettingsProblem::kUnknownLevel, kSnmpLevelKey, parse.level);
  }
  const bool auth = settings.level != SnmpLevel::kNoAuthNoPriv;
  const bool priv = settings.level == SnmpLevel::kAuthPriv;
  // An empty protocol is a missing one: checkSnmpV3Settings says that the level needs it.
  if (auth && parse.auth[0] != '\0' && !snmpAuthOfName(parse.auth, &settings.auth)) {
    return fail(report, SnmpSettingsProblem::kUnknownAuth, kSnmpAuthProtocolKey, parse.auth);
  }
  if (priv && parse.priv[0] != '\0' && !snmpPrivOfName(parse.priv, &settings.priv)) {
    return fail(report, SnmpSettingsProblem::kUnknownPriv, kSnmpPrivProtocolKey, parse.priv);
  }
  // What the level does not use plays no part.
  if (!auth) {
    settings.auth = SnmpAuth::kNone;
    explicit_bzero(settings.auth_passphrase, sizeof(settings.auth_passphrase));
  }
  if (!priv) {
    settings.priv = SnmpPriv::kNone;
    explicit_bzero(settings.priv_passphrase, sizeof(settings.priv_passphrase));
  }
  return checkSnmpV3Settings(settings, report);
}

}  // namespace

const char* settingLineValue(const char* line, const char* key) {
  const size_t key_length = strlen(key);
  if (strstr(line, key) == nullptr || strlen(line) < key_length) return nullptr;
  const char* equals = strchr(line + key_length, '=');
  return equals != nullptr ? equals + 1 : nullptr;
}

bool checkSnmpV3Settings(const SnmpV3Settings& settings, SnmpSettingsReport& report) {
  report.problem = SnmpSettingsProblem::kNone;
  if (settings.user[0] == '\0') return fail(report, SnmpSettingsProblem::kNoUser, kSnmpUserKey);
  struct Secret {
    bool used;
    bool named;
    SnmpSettingsProblem unnamed;
    const char* protocol_key;
    const char* passphrase;
    const char* passphrase_key;
  };
  const Secret secrets[] = {
      {settings.level != SnmpLevel::kNoAuthNoPriv, settings.auth != SnmpAuth::kNone,
       SnmpSettingsProblem::kNoAuthProtocol, kSnmpAuthProtocolKey, settings.auth_passphrase,
       kSnmpAuthPassphraseKey},
      {settings.level == SnmpLevel::kAuthPriv, settings.priv != SnmpPriv::kNone,
       SnmpSettingsProblem::kNoPrivProtocol, kSnmpPrivProtocolKey, settings.priv_passphrase,
       kSnmpPrivPassphraseKey},
  };
  for (const Secret& secret : secrets) {
    if (!secret.used) continue;
    if (!secret.named) return fail(report, secret.unnamed, secret.protocol_key);
    const size_t length = strnlen(secret.passphrase, kSnmpPassphraseSize);
    if (length == 0) return fail(report, SnmpSettingsProblem::kNoPassphrase, secret.passphrase_key);
    if (length < kSnmpPassphraseMinimum) {
      return fail(report, SnmpSettingsProblem::kShortPassphrase, secret.passphrase_key);
    }
    if (length >= kSnmpPassphraseSize) {
      return fail(report, SnmpSettingsProblem::kTooLong, secret.passphrase_key);
    }
  }
  return true;
}

int readSnmpV3Settings(const char* path, SnmpV3Settings& settings, SnmpSettingsReport& report) {
  settings = SnmpV3Settings();
  report = SnmpSettingsReport();
  copy_text(report.path, sizeof(report.path), path);
  // Opened as the community's reader opens it (through a symbolic link too), so that what it
  // holds decides whether the file's rules apply; a FIFO or device is not waited on.
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    close(fd);
    return 0;
  }
  FILE* stream = fdopen(fd, "r");
  if (stream == nullptr) {
    close(fd);
    return 0;
  }
  char buffer[kStreamBuffer];
  setvbuf(stream, buffer, _IOFBF, sizeof(buffer));
  Parse parse;
  parse.settings = &settings;
  read_settings_stream(stream, parse_line, &parse);
  fclose(stream);
  explicit_bzero(buffer, sizeof(buffer));

  bool any = false;
  for (bool seen : parse.seen) any = any || seen;
  bool met = any;
  if (any) {
    const bool holds_passphrase =
        settings.auth_passphrase[0] != '\0' || settings.priv_passphrase[0] != '\0' ||
        parse.too_long[kAuthPassphrase] || parse.too_long[kPrivPassphrase];
    met = file_rules_met(path, opened, holds_passphrase, report);
    if (met && strcmp(parse.version, "3") != 0) {
      // SNMPv3 keys without SNMP_VERSION=3 wait unused; a version of neither kind is a mistake.
      met = false;
      if (parse.seen[kVersion] && strcmp(parse.version, "1") != 0) {
        fail(report, SnmpSettingsProblem::kUnknownVersion, kSnmpVersionKey, parse.version);
      }
    }
    if (met) met = values_met(parse, settings, report);
  }
  if (met) return 1;
  explicit_bzero(&settings, sizeof(settings));
  settings = SnmpV3Settings();
  return report.problem == SnmpSettingsProblem::kNone ? 0 : -1;
}

bool snmpLevelOfName(const char* name, SnmpLevel* value) {
  return name != nullptr && find_name(kLevels, name, value);
}

bool snmpAuthOfName(const char* name, SnmpAuth* value) {
  return name != nullptr && find_name(kAuths, name, value);
}

bool snmpPrivOfName(const char* name, SnmpPriv* value) {
  return name != nullptr && find_name(kPrivs, name, value);
}

const char* snmpLevelName(SnmpLevel level) {
  return shown_name(kLevels, level);
}

const char* snmpAuthName(SnmpAuth auth) {
  return shown_name(kAuths, auth);
}

const char* snmpPrivName(SnmpPriv priv) {
  return shown_name(kPrivs, priv);
}

void snmpSettingsProblemWords(const SnmpSettingsReport& report, char* buffer, size_t size) {
  const char* key = report.key != nullptr ? report.key : "";
  const char* value = report.value;
  switch (report.problem) {
    case SnmpSettingsProblem::kNone:
      format_text(buffer, size, "%s", "");
      return;
    case SnmpSettingsProblem::kNotRegularFile:
      format_text(buffer, size, "it is a symbolic link or no regular file");
      return;
    case SnmpSettingsProblem::kNotRootsFile:
      format_text(buffer, size, "it does not belong to root");
      return;
    case SnmpSettingsProblem::kWritableByOthers:
      format_text(buffer, size, "its group or others may write it");
      return;
    case SnmpSettingsProblem::kReadableByAll:
      format_text(buffer, size,
                  "it holds a passphrase that others may read (0640 root:lp keeps it to root "
                  "and the filters)");
      return;
    case SnmpSettingsProblem::kUnknownVersion:
      format_text(buffer, size, "%s=%s is neither 1 nor 3", key, value);
      return;
    case SnmpSettingsProblem::kNoUser:
      format_text(buffer, size, "SNMP_VERSION=3 without a user name in %s", key);
      return;
    case SnmpSettingsProblem::kTooLong:
      format_text(buffer, size,
                  "%s is too long (names at most 32 characters, passphrases at most 255)", key);
      return;
    case SnmpSettingsProblem::kUnknownLevel:
      if (value[0] == '\0') {
        format_text(buffer, size, "SNMP_VERSION=3 needs %s: noAuthNoPriv, authNoPriv or authPriv",
                    key);
      } else {
        format_text(buffer, size, "%s=%s is not noAuthNoPriv, authNoPriv or authPriv", key, value);
      }
      return;
    case SnmpSettingsProblem::kUnknownAuth:
      format_text(buffer, size,
                  "%s=%s is not a known protocol (MD5, SHA-1, SHA-224, SHA-256, SHA-384, "
                  "SHA-512)",
                  key, value);
      return;
    case SnmpSettingsProblem::kUnknownPriv:
      format_text(buffer, size, "%s=%s is not a known protocol (DES, AES-128, AES-192, AES-256)",
                  key, value);
      return;
    case SnmpSettingsProblem::kNoAuthProtocol:
    case SnmpSettingsProblem::kNoPrivProtocol:
      format_text(buffer, size, "the security level needs %s", key);
      return;
    case SnmpSettingsProblem::kNoPassphrase:
      format_text(buffer, size, "the security level needs %s", key);
      return;
    case SnmpSettingsProblem::kShortPassphrase:
      format_text(buffer, size, "%s is shorter than 8 characters, the USM minimum", key);
      return;
  }
}

void snmpV3Summary(const SnmpV3Settings& settings, char* buffer, size_t size) {
  const bool auth = settings.level != SnmpLevel::kNoAuthNoPriv;
  const bool priv = settings.level == SnmpLevel::kAuthPriv;
  const bool context = settings.context[0] != '\0';
  format_text(buffer, size, "user %s, %s%s%s%s%s%s%s", settings.user, snmpLevelName(settings.level),
              auth ? ", " : "", auth ? snmpAuthName(settings.auth) : "", priv ? ", " : "",
              priv ? snmpPrivName(settings.priv) : "", context ? ", context " : "",
              context ? settings.context : "");
}
