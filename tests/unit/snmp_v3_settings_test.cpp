// The SNMPv3 settings: the keys of a settings file by the community's line rule, the file's
// rules, the values' rules, and words that never hold a passphrase.
#include "probe/probe.h"
#include "probe/snmp_settings.h"
#include "probe/snmp_v3_settings.h"

#include "probe/snmp_usm.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/keytools.h>

#include "support/paths.h"
#include "support/ppd.h"

namespace {

constexpr char kSecret[] = "Tr0ub4dor&3";
constexpr uid_t kNobody = 65534;

const std::string kAuthPriv = std::string(
                                  "SNMP_VERSION=3\nSNMP_V3_USER=alice\nSNMP_V3_LEVEL=authPriv\n"
                                  "SNMP_V3_AUTH_PROTOCOL=SHA-256\nSNMP_V3_PRIV_PROTOCOL=AES\n"
                                  "SNMP_V3_AUTH_PASSPHRASE=") +
                              kSecret + "\nSNMP_V3_PRIV_PASSPHRASE=" + kSecret + "\n";

std::string with(const std::string& text, const std::string& line) {
  return text + line + "\n";
}

std::string words_of(const SnmpSettingsReport& report) {
  char words[512];
  snmpSettingsProblemWords(report, words, sizeof(words));
  return words;
}

class SnmpV3SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_ROOT(); }
  // The file's result, with report and settings; the file is made with mode and owner.
  int read(const std::string& text, mode_t mode = 0640, uid_t owner = 0) {
    const std::string path = dir_.file("OEM.ini");
    unlink(path.c_str());
    EXPECT_TRUE(write_file(path, text));
    EXPECT_EQ(chmod(path.c_str(), mode), 0);
    EXPECT_EQ(chown(path.c_str(), owner, 0), 0);
    return readSnmpV3Settings(path.c_str(), settings_, report_);
  }
  TempDir dir_;
  SnmpV3Settings settings_;
  SnmpSettingsReport report_;
};

TEST_F(SnmpV3SettingsFile, RulesOfTheFileAndItsValues) {
  using P = SnmpSettingsProblem;
  const std::string long_name(33, 'u');
  const std::string longest_passphrase(255, 'p');
  const struct {
    const char* what;
    std::string text;
    mode_t mode;
    uid_t owner;
    int result;
    P problem;
    const char* words;
  } table[] = {
      {"authPriv, 0640 root", kAuthPriv, 0640, 0, 1, P::kNone, ""},
      {"noAuthNoPriv needs no secret, may be read by all",
       "SNMP_VERSION=3\nSNMP_V3_USER=carol\nSNMP_V3_LEVEL=noauthnopriv\n", 0644, 0, 1, P::kNone,
       ""},
      {"a community only: no rule applies", "SNMP_COMMUNITY=x\n", 0666, kNobody, 0, P::kNone, ""},
      {"SNMPv3 keys without version 3", "SNMP_V3_USER=alice\nSNMP_VERSION=1\n", 0640, 0, 0,
       P::kNone, ""},
      {"unknown version", with(kAuthPriv, "").replace(13, 1, "2c"), 0640, 0, -1, P::kUnknownVersion,
       "SNMP_VERSION=2c is neither 1 nor 3"},
      {"no user", "SNMP_VERSION=3\nSNMP_V3_LEVEL=noAuthNoPriv\n", 0640, 0, -1, P::kNoUser,
       "SNMP_VERSION=3 without a user name in SNMP_V3_USER"},
      {"user of 33 characters",
       "SNMP_VERSION=3\nSNMP_V3_LEVEL=noAuthNoPriv\nSNMP_V3_USER=" + long_name + "\n", 0640, 0, -1,
       P::kTooLong,
       "SNMP_V3_USER is too long (names at most 32 characters, passphrases at most 255)"},
      {"no level", "SNMP_VERSION=3\nSNMP_V3_USER=carol\n", 0640, 0, -1, P::kUnknownLevel,
       "SNMP_VERSION=3 needs SNMP_V3_LEVEL: noAuthNoPriv, authNoPriv or authPriv"},
      {"a level with a carriage return (values are taken unchanged)",
       "SNMP_VERSION=3\nSNMP_V3_USER=carol\nSNMP_V3_LEVEL=noAuthNoPriv\r\n", 0640, 0, -1,
       P::kUnknownLevel,
       "SNMP_V3_LEVEL=noAuthNoPriv\r is not noAuthNoPriv, authNoPriv or authPriv"},
      {"unknown authentication protocol", "SNMP_V3_AUTH_PROTOCOL=SHA-3\n" + kAuthPriv, 0640, 0, -1,
       P::kUnknownAuth,
       "SNMP_V3_AUTH_PROTOCOL=SHA-3 is not a known protocol (MD5, SHA-1, SHA-224, SHA-256, "
       "SHA-384, SHA-512)"},
      {"unknown privacy protocol", "SNMP_V3_PRIV_PROTOCOL=ROT13\n" + kAuthPriv, 0640, 0, -1,
       P::kUnknownPriv,
       "SNMP_V3_PRIV_PROTOCOL=ROT13 is not a known protocol (DES, AES-128, AES-192, AES-256)"},
      {"authentication without a protocol",
       "SNMP_VERSION=3\nSNMP_V3_USER=bob\nSNMP_V3_LEVEL=authNoPriv\n"
       "SNMP_V3_AUTH_PASSPHRASE=" +
           std::string(kSecret) + "\n",
       0640, 0, -1, P::kNoAuthProtocol, "the security level needs SNMP_V3_AUTH_PROTOCOL"},
      {"authentication with an empty protocol", "SNMP_V3_AUTH_PROTOCOL=\n" + kAuthPriv, 0640, 0, -1,
       P::kNoAuthProtocol, "the security level needs SNMP_V3_AUTH_PROTOCOL"},
      {"privacy with an empty protocol", "SNMP_V3_PRIV_PROTOCOL=\n" + kAuthPriv, 0640, 0, -1,
       P::kNoPrivProtocol, "the security level needs SNMP_V3_PRIV_PROTOCOL"},
      {"an empty privacy protocol the level does not use",
       "SNMP_VERSION=3\nSNMP_V3_USER=bob\nSNMP_V3_LEVEL=authNoPriv\nSNMP_V3_PRIV_PROTOCOL=\n"
       "SNMP_V3_AUTH_PROTOCOL=SHA-256\nSNMP_V3_AUTH_PASSPHRASE=" +
           std::string(kSecret) + "\n",
       0640, 0, 1, P::kNone, ""},
      {"privacy without a passphrase", "SNMP_V3_PRIV_PASSPHRASE=\n" + kAuthPriv, 0640, 0, -1,
       P::kNoPassphrase, "the security level needs SNMP_V3_PRIV_PASSPHRASE"},
      {"passphrase of 7", "SNMP_V3_AUTH_PASSPHRASE=1234567\n" + kAuthPriv, 0640, 0, -1,
       P::kShortPassphrase,
       "SNMP_V3_AUTH_PASSPHRASE is shorter than 8 characters, the USM minimum"},
      {"passphrase of 8", "SNMP_V3_AUTH_PASSPHRASE=12345678\n" + kAuthPriv, 0640, 0, 1, P::kNone,
       ""},
      {"passphrase of 255", "SNMP_V3_AUTH_PASSPHRASE=" + longest_passphrase + "\n" + kAuthPriv,
       0640, 0, 1, P::kNone, ""},
      {"passphrase of 256", "SNMP_V3_AUTH_PASSPHRASE=" + longest_passphrase + "p\n" + kAuthPriv,
       0640, 0, -1, P::kTooLong,
       "SNMP_V3_AUTH_PASSPHRASE is too long (names at most 32 characters, passphrases at most "
       "255)"},
      {"readable by all", kAuthPriv, 0644, 0, -1, P::kReadableByAll,
       "it holds a passphrase that others may read (0640 root:lp keeps it to root and the "
       "filters)"},
      {"group-writable", kAuthPriv, 0660, 0, -1, P::kWritableByOthers,
       "its group or others may write it"},
      {"writable by all", kAuthPriv, 0602, 0, -1, P::kWritableByOthers,
       "its group or others may write it"},
      {"not root's", kAuthPriv, 0600, kNobody, -1, P::kNotRootsFile, "it does not belong to root"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(read(row.text, row.mode, row.owner), row.result);
    EXPECT_EQ(report_.problem, row.problem);
    EXPECT_EQ(words_of(report_), row.words);
    EXPECT_EQ(words_of(report_).find(kSecret), std::string::npos);
    if (row.result != 1) {
      EXPECT_STREQ(settings_.auth_passphrase, "");
    }
  }
}

TEST_F(SnmpV3SettingsFile, ValuesByTheCommunitysLineRule) {
  ASSERT_EQ(read("; SNMP_V3_USER=first\nSNMP_V3_USER=second\nSNMP_VERSION=3\n"
                 "SNMP_V3_CONTEXT=printers\n" +
                 kAuthPriv),
            1);
  EXPECT_STREQ(settings_.user, "first");
  EXPECT_STREQ(settings_.context, "printers");
  EXPECT_EQ(settings_.level, SnmpLevel::kAuthPriv);
  EXPECT_EQ(settings_.auth, SnmpAuth::kSha256);
  EXPECT_EQ(settings_.priv, SnmpPriv::kAes128);
  EXPECT_STREQ(settings_.auth_passphrase, kSecret);
  char summary[256];
  snmpV3Summary(settings_, summary, sizeof(summary));
  EXPECT_STREQ(summary, "user first, authPriv, SHA-256, AES-128, context printers");
  // A passphrase that reaches past the reader's line piece is cut, so it is refused.
  EXPECT_EQ(read(kAuthPriv + std::string(990, ' ') +
                 "SNMP_V3_PRIV_PASSPHRASE=" + std::string(30, 'x') + "\n"),
            1);
  EXPECT_EQ(read(std::string(990, ' ') + "SNMP_V3_PRIV_PASSPHRASE=" + std::string(30, 'x') + "\n" +
                 kAuthPriv),
            -1);
  EXPECT_EQ(report_.problem, SnmpSettingsProblem::kTooLong);
}

TEST_F(SnmpV3SettingsFile, SymbolicLinkOrNothingInItsPlace) {
  const std::string target = dir_.file("target.ini");
  ASSERT_TRUE(write_file(target, kAuthPriv));
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  const std::string link = dir_.file("OEM.ini");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(readSnmpV3Settings(link.c_str(), settings_, report_), -1);
  EXPECT_EQ(report_.problem, SnmpSettingsProblem::kNotRegularFile);
  EXPECT_EQ(words_of(report_), "it is a symbolic link or no regular file");
  EXPECT_EQ(readSnmpV3Settings(dir_.file("absent").c_str(), settings_, report_), 0);
  EXPECT_EQ(readSnmpV3Settings(dir_.path().c_str(), settings_, report_), 0);
}

// The manufacturer's file decides, read by the filter's vendor lookup.
TEST(SnmpRunCredentials, ManufacturersFileGivesSnmpV3OrTheCommunity) {
  REQUIRE_ROOT();
  SavedPath saved("/opt/TALMA");
  ASSERT_TRUE(make_dirs("/opt/TALMA/mfp/share"));
  const std::string path = "/opt/TALMA/mfp/share/OEM.ini";
  UniquePpd ppd = open_ppd_text(test_ppd("Talma", installable_option("T"), ""));
  ASSERT_TRUE(ppd);
  SnmpCredentials credentials;
  SnmpSettingsReport report;
  ASSERT_TRUE(write_file(path, "SNMP_COMMUNITY=talma\n" + kAuthPriv));
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  snmpRunCredentials(ppd.get(), credentials, report);
  EXPECT_TRUE(credentials.use_v3);
  EXPECT_STREQ(credentials.community, "talma");
  EXPECT_EQ(report.path, path);
  ASSERT_EQ(chmod(path.c_str(), 0604), 0);
  snmpRunCredentials(ppd.get(), credentials, report);
  EXPECT_FALSE(credentials.use_v3);
  EXPECT_STREQ(credentials.v3.auth_passphrase, "");
  EXPECT_EQ(report.problem, SnmpSettingsProblem::kReadableByAll);
  EXPECT_EQ(report.path, path);

  // Every program's network set-up reads the same: the host, the community and its file, and
  // under SNMPv3 a process that leaves no core dump.
  const struct {
    const char* uri;
    std::string file;  // "" for none
    bool use_v3;
    const char* community_source;
  } setups[] = {
      {"socket://127.0.0.1:9100", "", false, ""},
      {"ipp://127.0.0.1/ipp", "SNMP_COMMUNITY=talma\n", false, "/opt/TALMA/mfp/share/OEM.ini"},
      {"socket://127.0.0.1", "SNMP_COMMUNITY=talma\n" + kAuthPriv, true,
       "/opt/TALMA/mfp/share/OEM.ini"},
  };
  for (const auto& row : setups) {
    SCOPED_TRACE(row.file);
    unlink(path.c_str());
    if (!row.file.empty()) {
      ASSERT_TRUE(write_file(path, row.file));
      ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    }
    ASSERT_EQ(prctl(PR_SET_DUMPABLE, 1, 0, 0, 0), 0);
    NetworkQuery query;
    const char* why = "";
    ASSERT_EQ(setupNetworkQuery(row.uri, ppd.get(), nullptr, query, &why), kProbeDone) << why;
    EXPECT_STREQ(query.host, "127.0.0.1");
    EXPECT_EQ(query.credentials->use_v3, row.use_v3);
    EXPECT_STREQ(query.community_source, row.community_source);
    EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), row.use_v3 ? 0 : 1);
  }
  prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
}

// The master keys are made by our own expansion, a pattern of the passphrase at a time: they
// must be the SNMP library's, for every hash and every length of passphrase (the pattern's
// length is 64 passphrases, which the expansion's length is rarely a multiple of).
TEST(SnmpV3Settings, MasterKeysAreTheLibrarysKeys) {
  init_snmp("zorvtest");
  const struct {
    SnmpAuth auth;
    oid name[10];
  } hashes[] = {
      {SnmpAuth::kMd5, {1, 3, 6, 1, 6, 3, 10, 1, 1, 2}},
      {SnmpAuth::kSha1, {1, 3, 6, 1, 6, 3, 10, 1, 1, 3}},
      {SnmpAuth::kSha224, {1, 3, 6, 1, 6, 3, 10, 1, 1, 4}},
      {SnmpAuth::kSha256, {1, 3, 6, 1, 6, 3, 10, 1, 1, 5}},
      {SnmpAuth::kSha384, {1, 3, 6, 1, 6, 3, 10, 1, 1, 6}},
      {SnmpAuth::kSha512, {1, 3, 6, 1, 6, 3, 10, 1, 1, 7}},
  };
  const std::string passphrases[] = {"maplesyr", "alice-auth-pass", std::string(64, 'p'),
                                     std::string(100, 'q') + "x", std::string(255, 'z')};
  for (const auto& hash : hashes) {
    for (const std::string& passphrase : passphrases) {
      SCOPED_TRACE(std::string(snmpAuthName(hash.auth)) + " " + std::to_string(passphrase.size()));
      u_char library[USM_AUTH_KU_LEN];
      size_t library_length = sizeof(library);
      ASSERT_EQ(generate_Ku(hash.name, 10, reinterpret_cast<const u_char*>(passphrase.c_str()),
                            passphrase.size(), library, &library_length),
                SNMPERR_SUCCESS);
      unsigned char ours[USM_AUTH_KU_LEN];
      size_t our_length = sizeof(ours);
      ASSERT_EQ(usmMasterKey(hash.auth, passphrase.c_str(), ours, &our_length), 0);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(ours), our_length),
                std::string(reinterpret_cast<char*>(library), library_length));
    }
  }
  unsigned char key[USM_AUTH_KU_LEN];
  size_t length = sizeof(key);
  EXPECT_EQ(usmMasterKey(SnmpAuth::kSha256, "short", key, &length), -1);
  EXPECT_EQ(usmMasterKey(SnmpAuth::kNone, "long enough", key, &length), -1);
}

}  // namespace
