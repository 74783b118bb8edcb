// An SNMPv1 agent that misbehaves on purpose, for the tests and the benchmarks: bound to one
// loopback address on UDP port 161, it answers every GET by the last component of its OID, so
// that one PPD can meet every way a printer answers. Stopped at destruction.
#ifndef ZORV_TESTS_SUPPORT_SNMP_AGENT_H
#define ZORV_TESTS_SUPPORT_SNMP_AGENT_H

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The second IPv6 address of the sandbox's loopback (scripts/sandbox.sh): another host on
// the path of an IPv6 query.
inline constexpr char kNeighbourIpv6[] = "fd00::2";

// Scheduler control lines and terminal controls (7-bit, 8-bit and UTF-8) hidden in an answer
// (behaviour 5).
extern const std::string kHostileAnswer;

// An object of the agent's table mode: its OID ("1.3.6.1...") and its value as BER (tag and
// contents: agent_integer, agent_text).
struct AgentValue {
  unsigned char tag;
  std::string contents;
};
AgentValue agent_integer(long value);
AgentValue agent_text(const std::string& text);
using AgentObjects = std::map<std::vector<unsigned long>, AgentValue>;
// "1.3.6.1.2" as numbers.
std::vector<unsigned long> agent_oid(const std::string& dotted);

class ScriptedAgent {
 public:
  // kScripted answers every GET first with garbage (random bytes, an empty datagram, an answer
  // of a fixed request id cut in half, so that the library's words for it do not change with
  // the random id's length; an answer to another request id), then by the last OID component:
  //   1 an Opaque of 300 bytes 00 01 02 ...      2 the string "abc", a zero byte, 0xFF bytes
  //   3 the error status noSuchName              4 nothing at all
  //   5 the string kHostileAnswer                6 the string "slow", after 500 ms
  //   7 the string "first", then "second"        8 the string "late", after 3500 ms
  //   9 the string "elsewhere", from the next loopback address (a second socket)
  //  10 the string "other port", from the agent's address but another port
  //  11 nothing from the agent; a neighbour floods the asker with answers "forged" for every
  //     request id within 1500 of the request's, from the next loopback address and from
  //     another port of the agent's
  //   anything else: nothing.
  // kSlow answers every GET, with nothing else, with INTEGER 1 after delay_ms.
  // kQuiet answers every GET with INTEGER 1 too, but only once no request has come for
  // delay_ms: then all at once. What a client keeps in flight is then exactly what it sends
  // before it waits (most_waiting()).
  // kV3Reports reads SNMPv3 messages instead, and answers each first with garbage (random
  // bytes, an empty datagram, the message cut in half), then with an unauthenticated report
  // (usmStatsUnknownEngineIDs) that names another engine every time. kV3Silent counts the
  // SNMPv3 messages and answers none. kV3DecryptionErrors answers the discovery with its one
  // engine and every later message with an unauthenticated report that it could not decrypt
  // it (usmStatsDecryptionErrors).
  // kTable answers GETs, GETNEXTs and GETBULKs (every variable of a request) from the objects
  // of set_objects, after delay_ms, past the last object with noSuchName as SNMPv1 agents do
  // (with endOfMibView to SNMPv2c); how it misbehaves on a walk is set_walk's. It also answers
  // on UDP [::1]:161 (bound6()), where clients ask with SNMPv2c, at once; just before each
  // answer a neighbour on [kNeighbourIpv6]:161 forges one that ends the walk.
  enum class Mode { kScripted, kSlow, kQuiet, kV3Reports, kV3Silent, kV3DecryptionErrors, kTable };

  // kTable's walk: as it should be; every GETNEXT answered with the object asked for (or its
  // first object when there is none), for ever; or with the object before it.
  enum class Walk { kForward, kSameObject, kEarlierObject };

  ScriptedAgent(const std::string& address, Mode mode, int delay_ms = 0);
  ~ScriptedAgent();
  ScriptedAgent(const ScriptedAgent&) = delete;
  ScriptedAgent& operator=(const ScriptedAgent&) = delete;

  // False when the address's port 161 could not be bound (taken, or not ours).
  bool bound() const { return bound_; }
  // True when both [::1]:161 and the neighbour's address could be bound (the neighbour's is
  // there in the sandbox only).
  bool bound6() const { return fd6_ >= 0 && neighbour6_fd_ >= 0; }
  int requests() const { return requests_; }
  // The most requests received and not yet answered at one time.
  int most_waiting() const { return most_waiting_; }
  // The request ids of the GETs received, in order (of the SNMPv3 modes: of the messages
  // whose PDU is not encrypted).
  std::vector<long> request_ids() const;
  // Datagrams the neighbour of behaviour 11 sent.
  int forged() const { return forged_; }

  // kTable: the objects served from now on, and how a walk goes.
  void set_objects(AgentObjects objects);
  void set_walk(Walk walk);

 private:
  void serve();
  std::string table_answer(const std::string& packet);

  Mode mode_;
  int delay_ms_;
  int fd_ = -1;
  int fd6_ = -1;
  int neighbour6_fd_ = -1;
  int elsewhere_fd_ = -1;
  int other_port_fd_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::atomic<int> most_waiting_{0};
  std::atomic<int> forged_{0};
  mutable std::mutex ids_mutex_;
  std::vector<long> request_ids_;
  AgentObjects objects_;  // kTable, under ids_mutex_
  Walk walk_ = Walk::kForward;
  std::thread thread_;
};

#endif  // ZORV_TESTS_SUPPORT_SNMP_AGENT_H
