// The SNMPv3 settings of a query (user-based security: user, security level, protocols,
// passphrases, context): as a struct that a program fills from its own state, or read from the
// manufacturer's settings file, and the rules both must meet. Passphrases are secrets: nothing
// here writes them anywhere, and a struct that holds them belongs on a Secret's pages
// (common/secret.h).
#ifndef ZORV_PROBE_SNMP_V3_SETTINGS_H
#define ZORV_PROBE_SNMP_V3_SETTINGS_H

#include <cstddef>
#include <cstdint>

// Room for a community: at most 32 characters.
inline constexpr size_t kSnmpCommunitySize = 33;
// Room for the path of a settings file.
inline constexpr size_t kSettingsPathSize = 256;
// A USM user name and a context name: 1 to 32 characters (the user), 0 to 32 (the context).
inline constexpr size_t kSnmpUserSize = 33;
inline constexpr size_t kSnmpContextSize = 33;
// A passphrase: 8 (the USM minimum) to 255 characters.
inline constexpr size_t kSnmpPassphraseSize = 256;
inline constexpr size_t kSnmpPassphraseMinimum = 8;
// A protocol, level or version name as the settings file gives it, for the messages.
inline constexpr size_t kSnmpSettingNameSize = 32;

enum class SnmpLevel : uint8_t { kNoAuthNoPriv, kAuthNoPriv, kAuthPriv };
enum class SnmpAuth : uint8_t { kNone, kMd5, kSha1, kSha224, kSha256, kSha384, kSha512 };
enum class SnmpPriv : uint8_t { kNone, kDes, kAes128, kAes192, kAes256 };

struct SnmpV3Settings {
  char user[kSnmpUserSize] = "";
  char context[kSnmpContextSize] = "";
  SnmpLevel level = SnmpLevel::kNoAuthNoPriv;
  SnmpAuth auth = SnmpAuth::kNone;  // for kAuthNoPriv and kAuthPriv
  SnmpPriv priv = SnmpPriv::kNone;  // for kAuthPriv
  char auth_passphrase[kSnmpPassphraseSize] = "";
  char priv_passphrase[kSnmpPassphraseSize] = "";
};

// What the queries of a run use: SNMPv1 with the community (SNMPv2c to an IPv6 address), or
// SNMPv3 with v3.
struct SnmpCredentials {
  bool use_v3 = false;
  char community[kSnmpCommunitySize] = "";
  SnmpV3Settings v3;
};

// What an SNMPv3 printer's report says: each kind is one of the USM's statistics counters,
// which the report carries.
enum class SnmpReport : uint8_t {
  kNone,
  kWrongDigest,       // usmStatsWrongDigests: the authentication passphrase or protocol
  kUnknownUser,       // usmStatsUnknownUserNames
  kUnsupportedLevel,  // usmStatsUnsupportedSecLevels: not at this security level for the user
  kDecryptionError,   // usmStatsDecryptionErrors: the privacy passphrase or protocol
  kUnknownEngine,     // usmStatsUnknownEngineIDs: the engine changed since its discovery
  kNotInTimeWindow,   // usmStatsNotInTimeWindows, still after the library's one resend
  kNoEngine,          // not a report: the answer to the discovery named no engine
  kOther,             // a report of another counter, or none the library can read
};

// Why SNMPv3 settings are not used.
enum class SnmpSettingsProblem : uint8_t {
  kNone,
  kNotRegularFile,    // a symbolic link, or no regular file, in the settings file's place
  kNotRootsFile,      // the file belongs to another user than root
  kWritableByOthers,  // the group or others may write it
  kReadableByAll,     // it holds a passphrase and others (not only owner and group) may read it
  kUnknownVersion,    // SNMP_VERSION is neither 1 nor 3
  kNoUser,            // version 3 without a user name
  kTooLong,           // a user or context name over 32 characters, a passphrase over 255
  kUnknownLevel,      // not noAuthNoPriv, authNoPriv or authPriv
  kUnknownAuth,       // an authentication protocol name that is not known
  kUnknownPriv,       // a privacy protocol name that is not known
  kNoAuthProtocol,    // the level authenticates but no protocol is named
  kNoPrivProtocol,    // the level encrypts but no protocol is named
  kNoPassphrase,      // a protocol of the level without its passphrase
  kShortPassphrase,   // a passphrase under 8 characters
};

// Where the settings came from and, with a problem, which key it concerns (a static name,
// null for a problem of the file) and the value shown for it (never a passphrase's).
struct SnmpSettingsReport {
  SnmpSettingsProblem problem = SnmpSettingsProblem::kNone;
  char path[kSettingsPathSize] = "";
  const char* key = nullptr;
  char value[kSnmpSettingNameSize] = "";
};

// The settings files' line rule: the value that line (without its newline) gives key, when it
// holds the key and an '=' after the key's length (the key is passed over by position, wherever
// it stands): everything after that '=', unchanged. Null when the line sets no value of key.
const char* settingLineValue(const char* line, const char* key);

// The keys of the settings file.
inline constexpr char kSnmpVersionKey[] = "SNMP_VERSION";
inline constexpr char kSnmpUserKey[] = "SNMP_V3_USER";
inline constexpr char kSnmpLevelKey[] = "SNMP_V3_LEVEL";
inline constexpr char kSnmpAuthProtocolKey[] = "SNMP_V3_AUTH_PROTOCOL";
inline constexpr char kSnmpAuthPassphraseKey[] = "SNMP_V3_AUTH_PASSPHRASE";
inline constexpr char kSnmpPrivProtocolKey[] = "SNMP_V3_PRIV_PROTOCOL";
inline constexpr char kSnmpPrivPassphraseKey[] = "SNMP_V3_PRIV_PASSPHRASE";
inline constexpr char kSnmpContextKey[] = "SNMP_V3_CONTEXT";

// Reads the SNMPv3 keys of the settings file at path, each by the community's line rule (the
// first line that holds the key and an '=' after the key's length wins; the value is the rest
// of the line, unchanged). 1: SNMP_VERSION=3 and settings that meet every rule, in settings;
// 0: no such file, a file that cannot be opened, or no SNMPv3 key in it (SNMPv1); -1: SNMPv3
// keys that are not used, with the reason in report. The file's rules apply to a file with
// SNMPv3 keys: a regular file (not a symbolic link) of root's that only root may write, and,
// when it holds a passphrase, that only its owner and group may read. settings is cleared
// unless the result is 1. The lines read are cleared as they go.
int readSnmpV3Settings(const char* path, SnmpV3Settings& settings, SnmpSettingsReport& report);

// The rules of the values alone (user, lengths, protocols of the level, passphrases), for
// settings a program filled: true when they are met, else the problem and its key in report.
bool checkSnmpV3Settings(const SnmpV3Settings& settings, SnmpSettingsReport& report);


// Names for people and the settings file.
const char* snmpLevelName(SnmpLevel level);
const char* snmpAuthName(SnmpAuth auth);
const char* snmpPrivName(SnmpPriv priv);
// The value a name gives, as the settings file's keys take it (any letter case, aliases such
// as "SHA" and "AES"): false for a name that is not known, with *value untouched. For a
// program that keeps the settings as text (a form, a state file).
bool snmpLevelOfName(const char* name, SnmpLevel* value);
bool snmpAuthOfName(const char* name, SnmpAuth* value);
bool snmpPrivOfName(const char* name, SnmpPriv* value);
// Why settings are not used, in words naming the key (report.key) and the value shown; never
// a passphrase. For problems of the file, the words name what is wrong with it.
void snmpSettingsProblemWords(const SnmpSettingsReport& report, char* buffer, size_t size);
// "user NAME, LEVEL, AUTH, PRIV[, context NAME]" for zorvquery and --check: no secret.
void snmpV3Summary(const SnmpV3Settings& settings, char* buffer, size_t size);

#endif  // ZORV_PROBE_SNMP_V3_SETTINGS_H
