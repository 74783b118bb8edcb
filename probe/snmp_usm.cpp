// SNMPv3 through the SNMP library's user-based security model: session parameters, the USM
// users of the rounds, and reports.
#include "probe/snmp_usm.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// After the library's configuration, which its other headers need.
#include <net-snmp/library/keytools.h>
#include <net-snmp/library/snmpusm.h>
#include <openssl/evp.h>

#include <cstring>

#include "common/secret.h"
#include "log/text.h"
#include "probe/snmp_lock.h"
#include "probe/snmp_session.h"

namespace {

// Room for a key localized to an engine: the longest hash (SHA-512) is 64 bytes.
constexpr size_t kLocalKeySize = 64;

// A user in the library's list that rounds use: the last to end removes it.
struct UserInUse {
  struct usmUser* user = nullptr;
  unsigned rounds = 0;
};
// Under SnmpLibraryLock.
UserInUse g_users[kSnmpUsmUsers];

// A protocol: its OID on the wire, and its name as the library looks it up (which tells
// whether the library was built with it).
struct Protocol {
  const char* library_name;
  oid name[10];
  size_t length;
};

// The authentication protocols of the USM, in the order of SnmpAuth.
constexpr Protocol kAuthProtocols[] = {
    {"NOAUTH", {1, 3, 6, 1, 6, 3, 10, 1, 1, 1}, 10},
    {"MD5", {1, 3, 6, 1, 6, 3, 10, 1, 1, 2}, 10},
    {"SHA-1", {1, 3, 6, 1, 6, 3, 10, 1, 1, 3}, 10},
    {"SHA-224", {1, 3, 6, 1, 6, 3, 10, 1, 1, 4}, 10},
    {"SHA-256", {1, 3, 6, 1, 6, 3, 10, 1, 1, 5}, 10},
    {"SHA-384", {1, 3, 6, 1, 6, 3, 10, 1, 1, 6}, 10},
    {"SHA-512", {1, 3, 6, 1, 6, 3, 10, 1, 1, 7}, 10},
};
// The privacy protocols, with the longer AES keys that printers offer under the OIDs the SNMP
// library knows them by, in the order of SnmpPriv.
constexpr Protocol kPrivProtocols[] = {
    {"NOPRIV", {1, 3, 6, 1, 6, 3, 10, 1, 2, 1}, 10},
    {"DES", {1, 3, 6, 1, 6, 3, 10, 1, 2, 2}, 10},
    {"AES-128", {1, 3, 6, 1, 6, 3, 10, 1, 2, 4}, 10},
    {"AES-192", {1, 3, 6, 1, 4, 1, 14832, 1, 3}, 9},
    {"AES-256", {1, 3, 6, 1, 4, 1, 14832, 1, 4}, 9},
};

// The protocol's OID as session parameters hold it (the library copies it when the session
// opens), or null when the library lacks the protocol. The OIDs are the program's own rather
// than the library's variables, which a program that exports only its own symbols cannot
// reference.
oid* auth_oid(SnmpAuth auth, size_t* length) {
  const Protocol& protocol = kAuthProtocols[static_cast<size_t>(auth)];
  *length = protocol.length;
  if (usm_lookup_auth_type(protocol.library_name) < 0) return nullptr;
  return const_cast<oid*>(protocol.name);
}

oid* priv_oid(SnmpPriv priv, size_t* length) {
  const Protocol& protocol = kPrivProtocols[static_cast<size_t>(priv)];
  *length = protocol.length;
  if (usm_lookup_priv_type(protocol.library_name) < 0) return nullptr;
  return const_cast<oid*>(protocol.name);
}

int security_level(SnmpLevel level) {
  switch (level) {
    case SnmpLevel::kAuthNoPriv:
      return SNMP_SEC_LEVEL_AUTHNOPRIV;
    case SnmpLevel::kAuthPriv:
      return SNMP_SEC_LEVEL_AUTHPRIV;
    case SnmpLevel::kNoAuthNoPriv:
      break;
  }
  return SNMP_SEC_LEVEL_NOAUTH;
}

void clear_master_keys(netsnmp_session* session) {
  explicit_bzero(session->securityAuthKey, sizeof(session->securityAuthKey));
  explicit_bzero(session->securityPrivKey, sizeof(session->securityPrivKey));
  session->securityAuthKeyLen = 0;
  session->securityPrivKeyLen = 0;
}

// The hash of an authentication protocol; null for none.
const EVP_MD* hash_of(SnmpAuth auth) {
  switch (auth) {
    case SnmpAuth::kMd5:
      return EVP_md5();
    case SnmpAuth::kSha1:
      return EVP_sha1();
    case SnmpAuth::kSha224:
      return EVP_sha224();
    case SnmpAuth::kSha256:
      return EVP_sha256();
    case SnmpAuth::kSha384:
      return EVP_sha384();
    case SnmpAuth::kSha512:
      return EVP_sha512();
    case SnmpAuth::kNone:
      break;
  }
  return nullptr;
}

// Room for 64 repetitions of the longest passphrase.
struct Expansion {
  unsigned char bytes[kUsmHashBlock * kSnmpPassphraseSize];
};

}  // namespace

int usmMasterKey(SnmpAuth auth, const char* passphrase, unsigned char* key, size_t* length) {
  const EVP_MD* hash = hash_of(auth);
  const size_t passphrase_length = strlen(passphrase);
  if (hash == nullptr || passphrase_length < kSnmpPassphraseMinimum ||
      passphrase_length >= kSnmpPassphraseSize || *length < static_cast<size_t>(EVP_MAX_MD_SIZE)) {
    return -1;
  }
  // 64 repetitions are a whole number of passphrases and of 64-byte blocks: hashed again and
  // again, and the last time in part, they are the passphrase repeated over the expansion's
  // length, exactly what the SNMP library hashes 64 bytes at a time. On a secret's pages.
  Secret<Expansion> expansion;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  int result = -1;
  if (expansion.get() != nullptr && context != nullptr &&
      EVP_DigestInit_ex(context, hash, nullptr) == 1) {
    const size_t pattern = kUsmHashBlock * passphrase_length;
    for (size_t i = 0; i < pattern; ++i) {
      expansion->bytes[i] = static_cast<unsigned char>(passphrase[i % passphrase_length]);
    }
    bool hashed = true;
    for (size_t left = kUsmExpandedPassphrase; left > 0 && hashed;) {
      const size_t piece = left < pattern ? left : pattern;
      hashed = EVP_DigestUpdate(context, expansion->bytes, piece) == 1;
      left -= piece;
    }
    unsigned int made = 0;
    if (hashed && EVP_DigestFinal_ex(context, key, &made) == 1) {
      *length = made;
      result = 0;
    }
  }
  EVP_MD_CTX_free(context);
  return result;
}

namespace {

// The master key (Ku) of a passphrase into key (USM_AUTH_KU_LEN bytes), made with the
// session's authentication hash (the privacy key's too). False, with the session's master keys
// cleared, when it cannot be made.
static_assert(USM_AUTH_KU_LEN == USM_PRIV_KU_LEN, "both master keys have the same room");
static_assert(USM_LENGTH_EXPANDED_PASSPHRASE == kUsmExpandedPassphrase &&
                  USM_LENGTH_KU_HASHBLOCK == kUsmHashBlock,
              "the expansion the SNMP library makes");
bool make_master_key(netsnmp_session* session, SnmpAuth auth, const char* passphrase, u_char* key,
                     size_t* length) {
  *length = USM_AUTH_KU_LEN;
  if (usmMasterKey(auth, passphrase, key, length) == 0) return true;
  clear_master_keys(session);
  return false;
}

void clear_bytes(u_char* bytes, size_t length) {
  if (bytes != nullptr) explicit_bzero(bytes, length);
}

bool same_protocol(const oid* a, size_t a_length, const oid* b, size_t b_length) {
  if (a == nullptr || b == nullptr) return a == b || (a_length == 0 && b_length == 0);
  return snmp_oid_compare(a, a_length, b, b_length) == 0;
}

// Whether key is what master localizes to for the engine of session: all of it, or, for a
// privacy key that the library extended or cut to its cipher's length, the shorter of both.
bool same_local_key(const netsnmp_session* session, const u_char* master, size_t master_length,
                    const u_char* key, size_t key_length, bool whole) {
  if (master_length == 0) return key_length == 0;
  u_char local[kLocalKeySize];
  size_t local_length = sizeof(local);
  bool same =
      generate_kul(session->securityAuthProto, static_cast<u_int>(session->securityAuthProtoLen),
                   session->securityEngineID, session->securityEngineIDLen, master, master_length,
                   local, &local_length) == SNMPERR_SUCCESS &&
      key != nullptr;
  if (same) {
    const size_t compared = local_length < key_length ? local_length : key_length;
    same =
        (!whole || key_length == local_length) && compared > 0 && memcmp(local, key, compared) == 0;
  }
  explicit_bzero(local, sizeof(local));
  return same;
}

// Whether the user in the list has what the session's settings would give it.
bool same_user(const struct usmUser* user, const netsnmp_session* session) {
  return same_protocol(user->authProtocol, user->authProtocolLen, session->securityAuthProto,
                       session->securityAuthProtoLen) &&
         same_protocol(user->privProtocol, user->privProtocolLen, session->securityPrivProto,
                       session->securityPrivProtoLen) &&
         same_local_key(session, session->securityAuthKey, session->securityAuthKeyLen,
                        user->authKey, user->authKeyLen, true) &&
         same_local_key(session, session->securityPrivKey, session->securityPrivKeyLen,
                        user->privKey, user->privKeyLen, false);
}

UserInUse* in_use(const struct usmUser* user) {
  for (UserInUse& entry : g_users) {
    if (entry.user == user) return &entry;
  }
  return nullptr;
}

}  // namespace

int setupSnmpV3Session(netsnmp_session* session, const char* host, const SnmpV3Settings& settings,
                       char* detail, size_t size) {
  setupSnmpSession(session, host, "");
  SnmpSettingsReport report;
  if (!checkSnmpV3Settings(settings, report)) {
    char words[kSnmpUsmWordsSize];
    snmpSettingsProblemWords(report, words, sizeof(words));
    format_text(detail, size, "SNMPv3 settings not used: %s", words);
    return -1;
  }
  SnmpLibraryLock lock;
  session->version = SNMP_VERSION_3;
  session->securityModel = SNMP_SEC_MODEL_USM;
  session->securityLevel = security_level(settings.level);
  session->securityName = strdup(settings.user);
  session->securityNameLen = session->securityName != nullptr ? strlen(settings.user) : 0;
  session->contextName = strdup(settings.context);
  session->contextNameLen = session->contextName != nullptr ? strlen(settings.context) : 0;
  // The round discovers the engine within its own time-out, while other rounds go on.
  session->flags |= SNMP_FLAGS_DONT_PROBE;
  if (session->securityName == nullptr || session->contextName == nullptr) {
    format_text(detail, size, "no memory for the SNMPv3 user");
    return -1;
  }
  if (settings.level == SnmpLevel::kNoAuthNoPriv) return 0;

  size_t length = 0;
  session->securityAuthProto = auth_oid(settings.auth, &length);
  session->securityAuthProtoLen = length;
  if (session->securityAuthProto == nullptr) {
    format_text(detail, size, "the SNMP library lacks the authentication protocol %s",
                snmpAuthName(settings.auth));
    return -1;
  }
  if (!make_master_key(session, settings.auth, settings.auth_passphrase, session->securityAuthKey,
                       &session->securityAuthKeyLen)) {
    format_text(detail, size, "the SNMP library cannot make a %s key", snmpAuthName(settings.auth));
    return -1;
  }
  if (settings.level != SnmpLevel::kAuthPriv) return 0;

  session->securityPrivProto = priv_oid(settings.priv, &length);
  session->securityPrivProtoLen = length;
  if (session->securityPrivProto == nullptr) {
    clear_master_keys(session);
    format_text(detail, size, "the SNMP library lacks the privacy protocol %s",
                snmpPrivName(settings.priv));
    return -1;
  }
  if (!make_master_key(session, settings.auth, settings.priv_passphrase, session->securityPrivKey,
                       &session->securityPrivKeyLen)) {
    format_text(detail, size, "the SNMP library cannot make a %s key", snmpPrivName(settings.priv));
    return -1;
  }
  return 0;
}

int setupCredentialSession(netsnmp_session* session, const char* host,
                           const SnmpCredentials& credentials, char* detail, size_t size) {
  if (credentials.use_v3) return setupSnmpV3Session(session, host, credentials.v3, detail, size);
  setupSnmpSession(session, host, credentials.community);
  return 0;
}

bool snmpNeedsDiscovery(const netsnmp_session* session) {
  return session != nullptr && session->version == SNMP_VERSION_3 &&
         session->securityEngineIDLen == 0;
}

netsnmp_pdu* snmpDiscoveryPdu() {
  netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
  if (pdu == nullptr) return nullptr;
  pdu->version = SNMP_VERSION_3;
  pdu->securityModel = SNMP_SEC_MODEL_USM;
  pdu->securityLevel = SNMP_SEC_LEVEL_NOAUTH;
  pdu->securityName = strdup("");
  pdu->securityNameLen = 0;
  if (pdu->securityName == nullptr) {
    snmp_free_pdu(pdu);
    return nullptr;
  }
  return pdu;
}

int usmUserAcquire(netsnmp_session* open, char* detail, size_t size) {
  if (open->securityEngineIDLen == 0 || open->securityName == nullptr) {
    format_text(detail, size, "the printer named no engine");
    clear_master_keys(open);
    return -1;
  }
  // The library makes the user itself as it learns the engine, unless one of that engine and
  // name is in its list already: another round's, then, or one whose round has not yet come
  // here. Either way the keys must be the session's.
  struct usmUser* user =
      usm_get_user(open->securityEngineID, open->securityEngineIDLen, open->securityName);
  if (user == nullptr) {
    // The library made none for this session if another round's was there when this round
    // learnt the engine, and will make none while the session says it did; that one may be
    // gone by now.
    open->flags &= ~SNMP_FLAGS_USER_CREATED;
  }
  if (user == nullptr && usm_create_user_from_session(open) == SNMPERR_SUCCESS) {
    user = usm_get_user(open->securityEngineID, open->securityEngineIDLen, open->securityName);
  }
  int result = -1;
  UserInUse* entry = user != nullptr ? in_use(user) : nullptr;
  if (user == nullptr) {
    format_text(detail, size, "the SNMP library cannot make the SNMPv3 user's keys");
  } else if (!same_user(user, open)) {
    format_text(detail, size,
                "another query uses the SNMPv3 user %s of this printer with other settings",
                open->securityName);
  } else if (entry == nullptr && (entry = in_use(nullptr)) == nullptr) {
    format_text(detail, size, "too many SNMPv3 users in use at once");
  } else {
    entry->user = user;
    ++entry->rounds;
    result = 0;
  }
  // The user holds the keys localized to the engine now; the master keys are not needed.
  clear_master_keys(open);
  return result;
}

void usmRoundEnd(netsnmp_session* open, bool acquired) {
  if (open == nullptr) return;
  clear_master_keys(open);
  if (!acquired || open->securityEngineIDLen == 0 || open->securityName == nullptr) return;
  struct usmUser* user =
      usm_get_user(open->securityEngineID, open->securityEngineIDLen, open->securityName);
  UserInUse* entry = user != nullptr ? in_use(user) : nullptr;
  if (entry == nullptr || --entry->rounds > 0) return;
  clear_bytes(user->authKey, user->authKeyLen);
  clear_bytes(user->privKey, user->privKeyLen);
  clear_bytes(user->authKeyKu, user->authKeyKuLen);
  clear_bytes(user->privKeyKu, user->privKeyKuLen);
  usm_remove_user(user);
  usm_free_user(user);
  *entry = UserInUse();
}

SnmpReport snmpReportOf(netsnmp_pdu* pdu) {
  switch (snmpv3_get_report_type(pdu)) {
    case SNMPERR_AUTHENTICATION_FAILURE:
      return SnmpReport::kWrongDigest;
    case SNMPERR_UNKNOWN_USER_NAME:
      return SnmpReport::kUnknownUser;
    case SNMPERR_UNSUPPORTED_SEC_LEVEL:
      return SnmpReport::kUnsupportedLevel;
    case SNMPERR_DECRYPTION_ERR:
      return SnmpReport::kDecryptionError;
    case SNMPERR_UNKNOWN_ENG_ID:
      return SnmpReport::kUnknownEngine;
    case SNMPERR_NOT_IN_TIME_WINDOW:
      return SnmpReport::kNotInTimeWindow;
    default:
      return SnmpReport::kOther;
  }
}
