// SNMPv3 through the SNMP library's user-based security model (USM): session parameters from
// SnmpV3Settings, the USM user that a round needs in the library's process-wide user list, and
// what a USM report says. Writes nothing anywhere; never shows a passphrase or a key.
#ifndef ZORV_PROBE_SNMP_USM_H
#define ZORV_PROBE_SNMP_USM_H

#include <cstddef>

#include "probe/snmp_v3_settings.h"

struct snmp_session;
struct snmp_pdu;

// Room for the words of a settings problem.
inline constexpr size_t kSnmpUsmWordsSize = 256;

// At most this many USM users (an engine and a user name) are in use by rounds at once.
inline constexpr size_t kSnmpUsmUsers = 64;

// Fills the session parameters for SNMPv3 to host ("udp6:" for an IPv6 address): user, level,
// protocols, context, and the master keys made from the passphrases; the session, when opened,
// leaves the discovery of the printer's engine to the round, which does it within its
// time-out. 0; -1 with the reason in detail when the settings break a rule of
// checkSnmpV3Settings, the library lacks a protocol or cannot make a key. Either way
// releaseSnmpSession frees the parameters and clears the keys. Put session on a Secret's pages
// (common/secret.h): it holds the master keys.
int setupSnmpV3Session(struct snmp_session* session, const char* host,
                       const SnmpV3Settings& settings, char* detail, size_t size);

// Session parameters by the credentials of a run: SNMPv1 (SNMPv2c to an IPv6 address) with
// their community, or SNMPv3 as setupSnmpV3Session sets them up. 0; -1 with the reason in
// detail. Either way releaseSnmpSession frees them.
int setupCredentialSession(struct snmp_session* session, const char* host,
                           const SnmpCredentials& credentials, char* detail, size_t size);

// The USM's passphrase expansion (RFC 3414, A.2): the passphrase repeated over this many bytes,
// hashed 64-byte block by block.
inline constexpr size_t kUsmExpandedPassphrase = 1048576;
inline constexpr size_t kUsmHashBlock = 64;
// The master key (Ku) of a passphrase (8 to 255 characters) under the hash of auth, into key
// (*length bytes, at least 64; set to the key's length): the key the SNMP library's generate_Ku
// makes, in a fraction of its time. 0; -1 for no protocol, a passphrase out of bounds, or a
// hash that failed.
int usmMasterKey(SnmpAuth auth, const char* passphrase, unsigned char* key, size_t* length);

// The rest is for the round, which calls it with SnmpLibraryLock held.

// Whether session parameters (or an open session) are SNMPv3 ones whose engine is unknown.
bool snmpNeedsDiscovery(const struct snmp_session* session);
// The request that discovers an agent's engine: a GET without variables, of no user and
// unauthenticated, which an agent answers with a report that names its engine.
// Null when memory runs out.
struct snmp_pdu* snmpDiscoveryPdu();
// Once the engine of the open session is known: its USM user (the engine and the session's
// user name) in the library's list, with the keys localized to that engine (the library makes
// it as it learns the engine), which a round of another thread with the same settings shares.
// The session's master keys are cleared. 0; -1 with the reason in detail (another round uses
// that user with other keys, too many users).
int usmUserAcquire(struct snmp_session* open, char* detail, size_t size);
// Ends a round on the open session: its master keys are cleared, and, when usmUserAcquire gave
// it a user (acquired), the last round that used the user removes it from the list and clears
// its keys.
void usmRoundEnd(struct snmp_session* open, bool acquired);
// What a report says.
SnmpReport snmpReportOf(struct snmp_pdu* pdu);

#endif  // ZORV_PROBE_SNMP_USM_H
