// Reply text of hand-made variable records, the length rule and the session parameters.
#include "autoconf/snmp_get.h"
#include "probe/snmp_session.h"
#include "probe/messages.h"
#include "probe/snmp_probe.h"
#include "probe/snmp_round.h"
#include "probe/snmp_value.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/capture.h"

namespace {

constexpr size_t kReply = 256;

// A variable record whose value points into storage owned by the test.
struct Variable {
  netsnmp_variable_list record{};
  long number = 0;
  std::vector<u_char> bytes;
  std::vector<oid> ids;

  static Variable integer(u_char type, long value) {
    Variable v;
    v.record.type = type;
    v.number = value;
    v.record.val_len = sizeof(long);
    return v;
  }
  static Variable string(u_char type, const std::string& text) {
    Variable v;
    v.record.type = type;
    v.bytes.assign(text.begin(), text.end());
    v.record.val_len = text.size();
    return v;
  }
  static Variable object_id(std::vector<oid> parts) {
    Variable v;
    v.record.type = ASN_OBJECT_ID;
    v.ids = std::move(parts);
    v.record.val_len = v.ids.size() * sizeof(oid);
    return v;
  }
  const netsnmp_variable_list* get() {
    if (!ids.empty()) {
      record.val.objid = ids.data();
    } else if (!bytes.empty()) {
      record.val.string = bytes.data();
    } else {
      record.val.integer = &number;
    }
    return &record;
  }
};

struct Rendered {
  int length;
  std::string text;
};

Rendered render(Variable& variable, size_t size = kReply) {
  std::vector<char> buffer(size + 1, '#');  // one guard byte behind the buffer
  const int length = snmpValueText(variable.get(), buffer.data(), size);
  EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
  return {length, size > 0 ? std::string(buffer.data()) : std::string()};
}

TEST(SnmpValueText, EveryTypeHasItsForm) {
  const struct {
    const char* name;
    Variable variable;
    const char* text;
  } table[] = {
      {"integer", Variable::integer(ASN_INTEGER, 42), "42"},
      {"negative integer", Variable::integer(ASN_INTEGER, -1), "-1"},
      {"smallest integer", Variable::integer(ASN_INTEGER, -2147483648L), "-2147483648"},
      {"octet string", Variable::string(ASN_OCTET_STR, "Duplex Unit"), "Duplex Unit"},
      {"string with zero byte", Variable::string(ASN_OCTET_STR, std::string("AB\0CD", 5)), "AB"},
      {"null", Variable::string(ASN_NULL, ""), "<NULL>"},
      {"object id", Variable::object_id({1, 3, 6, 1, 4, 1, 64999, 7}), "1.3.6.1.4.1.64999.7"},
      {"big sub-identifier", Variable::object_id({1, 4294967295UL}), "1.4294967295"},
      {"ip address", Variable::string(ASN_IPADDRESS, std::string("\xc0\xa8\x00\x01", 4)),
       "C0A80001"},
      {"gauge", Variable::integer(ASN_GAUGE, 1), "01000000"},
      {"counter", Variable::integer(ASN_COUNTER, 0x12345678), "78563412"},
      {"counter at its top", Variable::integer(ASN_COUNTER, 4294967295L), "FFFFFFFF"},
      {"timeticks", Variable::integer(ASN_TIMETICKS, 256), "00010000"},
      {"unsigned", Variable::integer(ASN_UINTEGER, 2), "02000000"},
      {"opaque bytes", Variable::string(ASN_OPAQUE, "\x01\xab"), "01AB"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    Variable variable = row.variable;
    const Rendered rendered = render(variable);
    EXPECT_EQ(rendered.text, row.text);
    EXPECT_EQ(rendered.length, static_cast<int>(strlen(row.text)));
  }
}

// The text that the CUPS-standard OID<Keyword> values are compared with.
TEST(SnmpNaturalText, IntegersInDecimalAddressesDottedStringsAsTheyAre) {
  const struct {
    const char* name;
    Variable variable;
    const char* text;
  } table[] = {
      {"integer", Variable::integer(ASN_INTEGER, -1), "-1"},
      {"memory in KBytes", Variable::integer(ASN_INTEGER, 262144), "262144"},
      {"gauge", Variable::integer(ASN_GAUGE, 1), "1"},
      {"counter at its top", Variable::integer(ASN_COUNTER, 4294967295L), "4294967295"},
      {"timeticks", Variable::integer(ASN_TIMETICKS, 256), "256"},
      {"string", Variable::string(ASN_OCTET_STR, "Duplex Paper Path"), "Duplex Paper Path"},
      {"string with zero byte", Variable::string(ASN_OCTET_STR, std::string("AB\0CD", 5)), "AB"},
      {"ip address", Variable::string(ASN_IPADDRESS, std::string("\xc0\xa8\x00\x01", 4)),
       "192.168.0.1"},
      {"object id", Variable::object_id({1, 3, 6, 1, 4, 1, 64999, 7}), "1.3.6.1.4.1.64999.7"},
      {"opaque bytes", Variable::string(ASN_OPAQUE, "\x01\xab"), "01AB"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    Variable variable = row.variable;
    char buffer[kReply];
    EXPECT_EQ(snmpNaturalText(variable.get(), buffer, sizeof(buffer)),
              static_cast<int>(strlen(row.text)));
    EXPECT_STREQ(buffer, row.text);
  }
}

TEST(SnmpValueText, CounterKeepsOnlyItsLow32Bits) {
  if (sizeof(long) < 8) GTEST_SKIP() << "long has 32 bits here";
  Variable variable = Variable::integer(ASN_COUNTER, static_cast<long>(0x1122334455667788L));
  EXPECT_EQ(render(variable).text, "88776655");
}

TEST(SnmpValueText, EmptyPieceByPieceValuesGiveEmptyText) {
  Variable object = Variable::object_id({});
  object.record.val_len = 0;
  EXPECT_EQ(render(object).length, 0);
  Variable bytes = Variable::string(ASN_IPADDRESS, "");
  EXPECT_EQ(render(bytes).length, 0);
  EXPECT_EQ(render(bytes).text, "");
  Variable text = Variable::string(ASN_OCTET_STR, "");
  EXPECT_EQ(render(text).length, 0);
}

TEST(SnmpValueText, MissingVariableOrBufferGivesNoText) {
  char buffer[8];
  EXPECT_EQ(snmpValueText(nullptr, buffer, sizeof(buffer)), -1);
  Variable variable = Variable::integer(ASN_INTEGER, 1);
  EXPECT_EQ(snmpValueText(variable.get(), nullptr, 8), -1);
  EXPECT_EQ(snmpValueText(variable.get(), buffer, 0), -1);
}

TEST(SnmpValueText, LongStringIsCutToTheBuffer) {
  Variable variable = Variable::string(ASN_OCTET_STR, std::string(300, 'L'));
  const Rendered rendered = render(variable);
  EXPECT_EQ(rendered.length, 255);
  EXPECT_EQ(rendered.text, std::string(255, 'L'));
}

// Text of n characters in buffers of n (cut), n + 1 (fits exactly) and n + 2.
void expect_cuts(Variable variable, const std::string& full) {
  const size_t n = full.size();
  for (size_t size : {n - 1, n, n + 1, n + 2}) {
    SCOPED_TRACE("buffer of " + std::to_string(size) + " bytes");
    const Rendered rendered = render(variable, size);
    if (size > n) {
      EXPECT_EQ(rendered.length, static_cast<int>(n));
      EXPECT_EQ(rendered.text, full);
    } else {
      EXPECT_EQ(rendered.length, static_cast<int>(size - 1));
      EXPECT_EQ(rendered.text, full.substr(0, size - 1));
    }
  }
}

TEST(SnmpValueText, LengthRuleAtTheBufferEdges) {
  {
    SCOPED_TRACE("integer");
    expect_cuts(Variable::integer(ASN_INTEGER, -12345), "-12345");
  }
  {
    SCOPED_TRACE("octet string");
    expect_cuts(Variable::string(ASN_OCTET_STR, "abcdefgh"), "abcdefgh");
  }
  {
    SCOPED_TRACE("null");
    expect_cuts(Variable::string(ASN_NULL, ""), "<NULL>");
  }
  {
    SCOPED_TRACE("object id, cut inside a sub-identifier");
    expect_cuts(Variable::object_id({1, 3, 6, 123456}), "1.3.6.123456");
  }
  {
    SCOPED_TRACE("hexadecimal, cut inside a pair");
    expect_cuts(Variable::string(ASN_IPADDRESS, std::string("\xc0\xa8\x00\x01", 4)), "C0A80001");
  }
  {
    SCOPED_TRACE("gauge");
    expect_cuts(Variable::integer(ASN_GAUGE, 1), "01000000");
  }
}

TEST(SnmpValueText, OneByteBufferHoldsOnlyTheTerminator) {
  Variable variable = Variable::object_id({1, 3});
  const Rendered rendered = render(variable, 1);
  EXPECT_EQ(rendered.length, 0);
  EXPECT_EQ(rendered.text, "");
}

TEST(SnmpSession, Ipv4HostTakesSnmpV1) {
  netsnmp_session session;
  setupSnmpSession(&session, "192.168.1.2", "mirelo");
  EXPECT_EQ(session.version, SNMP_VERSION_1);
  EXPECT_STREQ(session.peername, "192.168.1.2");
  ASSERT_EQ(session.community_len, 6u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(session.community), session.community_len),
            "mirelo");
  releaseSnmpSession(&session);
  EXPECT_EQ(session.peername, nullptr);
  EXPECT_EQ(session.community, nullptr);
}

TEST(SnmpSession, Ipv6HostTakesSnmpV2c) {
  netsnmp_session session;
  setupSnmpSession(&session, "::1", "c");
  EXPECT_EQ(session.version, SNMP_VERSION_2c);
  EXPECT_STREQ(session.peername, "::1");
  releaseSnmpSession(&session);
}

TEST(SnmpSession, LongestIpv6TextIsNotCut) {
  const std::string longest = "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255";
  ASSERT_EQ(longest.size(), 45u);
  netsnmp_session session;
  setupSnmpSession(&session, longest.c_str(), "c");
  EXPECT_EQ(std::string(session.peername), longest);
  releaseSnmpSession(&session);
}

TEST(SnmpSession, EmptyCommunityIsKept) {
  netsnmp_session session;
  setupSnmpSession(&session, "host", "");
  EXPECT_STREQ(reinterpret_cast<char*>(session.community), "");
  EXPECT_EQ(session.community_len, 0u);
  releaseSnmpSession(&session);
}

// Each way a GET of a round can end is one kind of record, with words for people; only an
// answer with a value is tried against the reply attributes.
TEST(SnmpRecordOutcome, EachEndOfAGetIsARecord) {
  Variable text = Variable::string(ASN_OCTET_STR, "Duplex");
  Variable gauge = Variable::integer(ASN_GAUGE, 1);
  Variable exception = Variable::string(SNMP_NOSUCHINSTANCE, "");
  char timeout[] = "Timeout";
  char unknown_host[] = "Unknown host (nohost.invalid)";
  char unknown_report[] = "Unknown Report message";
  struct Case {
    const char* what;
    SnmpRequest request;
    SnmpTextForm form;
    ProbeOutcome outcome;
    const char* reply;
    const char* words;
  } cases[] = {
      {"not sent", {}, SnmpTextForm::kReply, ProbeOutcome::kNotAsked, "", "not asked"},
      {"unreadable OID",
       {nullptr, SnmpOutcome::kInvalidOid},
       SnmpTextForm::kReply,
       ProbeOutcome::kBadQuery,
       "",
       "the OID cannot be read"},
      {"no session",
       {nullptr, SnmpOutcome::kOpenFailed, 0, nullptr, unknown_host},
       SnmpTextForm::kReply,
       ProbeOutcome::kNoSession,
       "",
       "no session: Unknown host (nohost.invalid)"},
      {"time-out",
       {nullptr, SnmpOutcome::kFailed, 0, "snmp_sess_synch_response", timeout},
       SnmpTextForm::kReply,
       ProbeOutcome::kNoAnswer,
       "",
       "no answer: Timeout"},
      {"error status",
       {nullptr, SnmpOutcome::kErrorStatus, SNMP_ERR_NOSUCHNAME},
       SnmpTextForm::kReply,
       ProbeOutcome::kErrorStatus,
       "",
       "error status: (noSuchName) There is no such variable name in this MIB."},
      {"SNMPv3 report of a counter the query does not know",
       {nullptr, SnmpOutcome::kRefused, 0, nullptr, unknown_report, nullptr, nullptr,
        SnmpReport::kOther},
       SnmpTextForm::kReply,
       ProbeOutcome::kRefused,
       "",
       "refused: a report the query does not know (Unknown Report message)"},
      {"SNMPv3 discovery without an engine",
       {nullptr, SnmpOutcome::kRefused, 0, nullptr, nullptr, nullptr, nullptr,
        SnmpReport::kNoEngine},
       SnmpTextForm::kReply,
       ProbeOutcome::kRefused,
       "",
       "refused: the printer's answer to the engine discovery named no engine"},
      {"answer without a variable",
       {nullptr, SnmpOutcome::kAnswered},
       SnmpTextForm::kReply,
       ProbeOutcome::kNoValue,
       "",
       "an answer without a value"},
      {"SNMPv2c exception",
       {nullptr, SnmpOutcome::kAnswered, 0, nullptr, nullptr,
        const_cast<netsnmp_variable_list*>(exception.get())},
       SnmpTextForm::kReply,
       ProbeOutcome::kNoValue,
       "",
       "no such object (an SNMPv2c exception)"},
      {"reply text",
       {nullptr, SnmpOutcome::kAnswered, 0, nullptr, nullptr,
        const_cast<netsnmp_variable_list*>(gauge.get())},
       SnmpTextForm::kReply,
       ProbeOutcome::kAnswered,
       "01000000",
       ""},
      {"natural text",
       {nullptr, SnmpOutcome::kAnswered, 0, nullptr, nullptr,
        const_cast<netsnmp_variable_list*>(gauge.get())},
       SnmpTextForm::kNatural,
       ProbeOutcome::kAnswered,
       "1",
       ""},
      {"string",
       {nullptr, SnmpOutcome::kAnswered, 0, nullptr, nullptr,
        const_cast<netsnmp_variable_list*>(text.get())},
       SnmpTextForm::kReply,
       ProbeOutcome::kAnswered,
       "Duplex",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProbeRecord record;
    snmpRecordOutcome(c.request, c.form, record);
    EXPECT_EQ(record.outcome, c.outcome);
    EXPECT_STREQ(record.reply, c.reply);
    char words[256];
    probeFailureWords(record, words, sizeof(words));
    EXPECT_STREQ(words, c.words);
  }
}

TEST(SnmpGetText, NoSessionIsReported) {
  char buffer[kReply];
  StreamCapture err(stderr);
  EXPECT_EQ(snmpGetText(nullptr, ".1.3", buffer, sizeof(buffer), 3000, 0), -1);
  EXPECT_EQ(err.finish(), "invalid session value\n");
}

TEST(SnmpGetText, UnparseableOidIsReportedWithoutTraffic) {
  netsnmp_session session;
  setupSnmpSession(&session, "192.0.2.1", "mirelo");
  char buffer[kReply];
  for (const char* bad : {"1.3.x.y.", "not an oid", ""}) {
    SCOPED_TRACE(bad);
    StreamCapture err(stderr);
    EXPECT_EQ(snmpGetText(&session, bad, buffer, sizeof(buffer), 3000, 0), -1);
    EXPECT_EQ(err.finish(), "invalid OID string <" + std::string(bad) + ">\n");
  }
  StreamCapture err(stderr);
  EXPECT_EQ(snmpGetText(&session, nullptr, buffer, sizeof(buffer), 3000, 0), -1);
  EXPECT_EQ(err.finish(), "invalid OID string <(null)>\n");
  releaseSnmpSession(&session);
}

// A datagram the kernel refuses at once (a broadcast from a socket not allowed to send one):
// the library ends the request inside the send itself; the GET fails once, with its words,
// and the round does not wait for an answer that will never come.
TEST(SnmpGetText, SendThatFailsEndsTheGetOnce) {
  netsnmp_session session;
  setupSnmpSession(&session, "255.255.255.255", "mirelo");
  char buffer[kReply];
  StreamCapture err(stderr);
  EXPECT_EQ(snmpGetText(&session, ".1.3.6.1.2.1.1.1.0", buffer, sizeof(buffer), 60000, 0), -1);
  const std::string said = err.finish();
  EXPECT_NE(said.find("Failure in sendto"), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  releaseSnmpSession(&session);
}

}  // namespace
