// The endpoint-0 query of one installable option and the walk over all of them, against the
// libusb double: request fields, mask and skip, reply attributes, and every warning's words.
#include "autoconf/usb_query.h"

#include <sys/eventfd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/handles.h"
#include "probe/messages.h"
#include "support/capture.h"
#include "support/fake_usb/fake_usb.h"
#include "support/paths.h"
#include "support/ppd.h"

using fake_usb::control_calls;
using fake_usb::Reply;
using fake_usb::reply8;
using fake_usb::Request;

namespace {

class UsbOptionQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    ppd_ = open_ppd(test_data("usb/options.ppd"));
    ASSERT_NE(ppd_, nullptr);
  }

  // One printer that answers the given requests, opened as the matcher would leave it.
  void answer(const std::map<Request, Reply>& replies) {
    fake_usb::Scenario scenario;
    scenario.buses.resize(1);
    scenario.buses[0].devices.push_back(fake_usb::printer("p1", "ZX 500"));
    scenario.buses[0].devices[0].replies = replies;
    fake_usb::install(scenario);
    handle_ = usb_open(usb_get_busses()->devices);
    ASSERT_NE(handle_, nullptr);
  }

  // Queries one option and returns what it wrote to standard error.
  std::string query(const char* keyword) {
    ppd_option_t* option = ppdFindOption(ppd_.get(), keyword);
    EXPECT_NE(option, nullptr) << keyword;
    return stderr_of([&] { usbQueryOption(handle_, ppd_.get(), option); });
  }

  void TearDown() override {
    EXPECT_TRUE(fake_usb::violations().empty()) << fake_usb::violations().front();
  }

  UniquePpd ppd_;
  usb_dev_handle* handle_ = nullptr;
};

TEST_F(UsbOptionQuery, MatchingReplyMarksItsChoiceSilently) {
  answer({{Request{0xc1, 0x01, 0, 0}, reply8({0x01, 0xaa, 0x55})}});
  EXPECT_EQ(query("Tray"), "");
  EXPECT_EQ(marked_choice(ppd_.get(), "Tray"), "True");
}

TEST_F(UsbOptionQuery, RequestCarriesSetupBytesEightByteStageAndTimeout) {
  answer({});
  query("Tray");
  std::vector<fake_usb::Call> sent = control_calls();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].request_type, 0xc1);
  EXPECT_EQ(sent[0].request, 0x01);
  EXPECT_EQ(sent[0].value, 0);
  EXPECT_EQ(sent[0].index, 0);
  EXPECT_EQ(sent[0].size, 8);
  EXPECT_EQ(sent[0].timeout, 3000);
}

TEST_F(UsbOptionQuery, FieldsAboveOneByteSendTheirLowByteOnly) {
  answer({{Request{0xc1, 0x07, 0xff, 0xab}, reply8({0x01})}});
  EXPECT_EQ(query("Wide"), "");
  ASSERT_EQ(control_calls().size(), 1u);
  EXPECT_EQ(fake_usb::trace().back(), "usb_control_msg(p1,c1,07,00ff,00ab,8,3000)");
  EXPECT_EQ(marked_choice(ppd_.get(), "Wide"), "True");
}

TEST_F(UsbOptionQuery, HostToDeviceRequestSendsEightZeroBytes) {
  answer({{Request{0x41, 0x0d, 0x05, 0x06}, Reply{8, {}, ""}}});
  EXPECT_EQ(query("Out"), "");
  ASSERT_EQ(control_calls().size(), 1u);
  EXPECT_EQ(control_calls()[0].data, std::vector<uint8_t>(8, 0));
  EXPECT_EQ(marked_choice(ppd_.get(), "Out"), "Done");
}

TEST_F(UsbOptionQuery, QueryWithoutMaskByteIsIncorrectAndSendsNothing) {
  answer({});
  EXPECT_EQ(query("NoMask"),
            "WARNING: query attribute '?Ep0NoMask' has incorrect format 'c1 02 00 00'\n");
  EXPECT_TRUE(control_calls().empty());
  EXPECT_EQ(marked_choice(ppd_.get(), "NoMask"), "");
}

TEST_F(UsbOptionQuery, MissingOrEmptyQueryAttributeSendsNothing) {
  answer({});
  EXPECT_EQ(query("NoQuery"), "WARNING: option 'NoQuery' has no query attribute '?Ep0NoQuery'\n");
  EXPECT_EQ(query("EmptyQuery"),
            "WARNING: option 'EmptyQuery' has no query attribute '?Ep0EmptyQuery'\n");
  EXPECT_TRUE(control_calls().empty());
}

TEST_F(UsbOptionQuery, AllZeroMaskMarksFirstReplyWithAField) {
  answer({{Request{0xc1, 0x03, 0, 0}, reply8({0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0})}});
  EXPECT_EQ(query("ZeroMask"),
            "WARNING: reply attribute 'Ep0ZeroMask' is empty\n"
            "WARNING: reply attribute 'Ep0ZeroMask' has incorrect format 'zz'\n");
  EXPECT_EQ(marked_choice(ppd_.get(), "ZeroMask"), "First");
}

TEST_F(UsbOptionQuery, ExpectedBytesLineUpWithFirstSignificantMaskByte) {
  // Mask 00 00 ff 0f ff ff ff ff: skip 2, six bytes compared.
  struct Case {
    std::vector<uint8_t> reply;
    const char* choice;
  } cases[] = {
      {{0xaa, 0xbb, 0x05, 0xf0}, "Small"},
      {{0xaa, 0xbb, 0x05, 0xf1}, "Big"},
      {{0x00, 0x00, 0x05, 0x00, 0, 0, 0, 0x09}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.choice);
    SetUp();
    answer({{Request{0xc1, 0x04, 0, 0}, reply8(c.reply)}});
    std::string err = query("Skip2");
    EXPECT_EQ(marked_choice(ppd_.get(), "Skip2"), c.choice);
    if (c.choice[0] == '\0') {
      EXPECT_EQ(err,
                "WARNING: option 'Skip2' has no reply attribute 'Ep0Skip2' with value "
                "'00 00 05 00 00 00 00 09'\n");
    }
  }
}

TEST_F(UsbOptionQuery, MaskedOutByteInsideComparesAsZero) {
  answer({{Request{0xc1, 0x05, 0, 0}, reply8({0x01, 0x77, 0x02})}});
  EXPECT_EQ(query("Gap"), "");
  EXPECT_EQ(marked_choice(ppd_.get(), "Gap"), "Right");
}

TEST_F(UsbOptionQuery, FirstMatchingReplyWinsAndLaterOnesAreNotParsed) {
  answer({{Request{0xc1, 0x06, 0, 0}, reply8({0x01})}});
  EXPECT_EQ(query("Order"), "");  // C holds no hexadecimal field and would be reported
  EXPECT_EQ(marked_choice(ppd_.get(), "Order"), "B");
}

TEST_F(UsbOptionQuery, ExtraFieldsAndLettersEndTheParseWithoutHarm) {
  answer({{Request{0xc1, 0x08, 0, 0}, reply8({1, 2, 3, 4, 5, 6, 7, 8})},
          {Request{0xc1, 0x09, 0, 0}, reply8({0x01, 0xff})}});
  EXPECT_EQ(query("Extra"), "");
  EXPECT_EQ(marked_choice(ppd_.get(), "Extra"), "True");
  EXPECT_EQ(query("Letters"), "");
  EXPECT_EQ(marked_choice(ppd_.get(), "Letters"), "True");
}

TEST_F(UsbOptionQuery, ShortReplyIsReportedAndComparedWithZeroes) {
  // The double also writes bytes it does not count: only delivered bytes may take part.
  answer({{Request{0xc1, 0x0a, 0, 0}, Reply{3, {1, 2, 3, 0xee, 0xee, 0xee, 0xee, 0xee}, ""}}});
  EXPECT_EQ(query("Short"),
            "WARNING: USB reply (c1 0a 00 00 / ff ff ff ff ff) has unexpected size (3)\n");
  EXPECT_EQ(marked_choice(ppd_.get(), "Short"), "Three");
}

TEST_F(UsbOptionQuery, EmptyOrFailedTransferMarksNothing) {
  struct Case {
    Reply reply;
    const char* message;
  } cases[] = {
      {Reply{0, {0x01}, ""}, "WARNING: USB query (c1 0b 00 00 / ff) timeout\n"},
      {Reply{-110, {0x01}, "Connection timed out"},
       "WARNING: USB query (c1 0b 00 00 / ff) failure (-110)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    SetUp();
    answer({{Request{0xc1, 0x0b, 0, 0}, c.reply}});
    EXPECT_EQ(query("Silent"), c.message);
    EXPECT_EQ(marked_choice(ppd_.get(), "Silent"), "");
  }
}

TEST_F(UsbOptionQuery, UnansweredRequestIsAFailure) {
  answer({});  // the double stalls requests it has no reply for
  EXPECT_EQ(query("Silent"), "WARNING: USB query (c1 0b 00 00 / ff) failure (-32)\n");
}

TEST_F(UsbOptionQuery, NoReplyAttributePrintsAllEightMaskedBytes) {
  answer({{Request{0xc1, 0x0c, 0, 0}, reply8({0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0})}});
  EXPECT_EQ(query("NoReply"),
            "WARNING: option 'NoReply' has no reply attribute 'Ep0NoReply' with value "
            "'02 30 00 00 00 00 00 00'\n");
  EXPECT_EQ(marked_choice(ppd_.get(), "NoReply"), "");
}

TEST_F(UsbOptionQuery, LongKeywordsAreLookedUpUnderNamesCutToForty) {
  struct Case {
    const char* keyword;
    uint8_t request;
  } cases[] = {
      {"AFeeder01234567890123456789012345678", 0x0e},    // "?Ep0" + 36: exactly 40
      {"BFeeder012345678901234567890123456789", 0x0f},   // query name cut, reply name 40
      {"CFeeder0123456789012345678901234567890", 0x10},  // both names cut
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyword);
    SetUp();
    answer({{Request{0xc1, c.request, 0, 0}, reply8({0x01})}});
    EXPECT_EQ(query(c.keyword), "");
    ASSERT_EQ(control_calls().size(), 1u);
    EXPECT_EQ(control_calls()[0].request, c.request);
    EXPECT_EQ(marked_choice(ppd_.get(), c.keyword), "True");
  }
}

TEST_F(UsbOptionQuery, MessagesPrintTheCutNames) {
  answer({{Request{0xc1, 0x10, 0, 0}, reply8({0x02})}});
  EXPECT_EQ(query("CFeeder0123456789012345678901234567890"),
            "WARNING: option 'CFeeder0123456789012345678901234567890' has no reply attribute "
            "'Ep0CFeeder012345678901234567890123456789' with value "
            "'02 00 00 00 00 00 00 00'\n");
}

TEST_F(UsbOptionQuery, WalkSendsOneRequestPerQueryableOptionInGroupOrder) {
  answer({});
  std::string err = stderr_of([&] { usbQueryInstallableOptions(handle_, ppd_.get()); });
  std::vector<int> requests;
  for (const fake_usb::Call& call : control_calls()) requests.push_back(call.request);
  // NoMask, NoQuery and EmptyQuery send nothing; PageSize is not installable.
  EXPECT_EQ(requests, (std::vector<int>{0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b,
                                        0x0c, 0x0d, 0x0e, 0x0f, 0x10}));
  EXPECT_NE(err.find("WARNING: option 'NoQuery' has no query attribute '?Ep0NoQuery'\n"),
            std::string::npos);
  EXPECT_EQ(fake_usb::open_handles(), 1);  // the walk leaves closing to its caller
}

// The whole USB path as records: each option's outcome, the choice it picks (nothing is marked
// in the PPD), and the words for people; the device is closed again.
TEST_F(UsbOptionQuery, EveryOptionIsARecordOfItsOutcome) {
  fake_usb::Scenario scenario;
  scenario.buses.resize(1);
  scenario.buses[0].devices.push_back(fake_usb::printer("p1", "ZX 500"));
  scenario.buses[0].devices[0].replies = {
      {Request{0xc1, 0x01, 0, 0}, reply8({0x01, 0xaa, 0x55})},
      {Request{0xc1, 0x03, 0, 0}, reply8({0x12})},
      {Request{0xc1, 0x0a, 0, 0}, Reply{3, {1, 2, 3}, ""}},
      {Request{0xc1, 0x0b, 0, 0}, Reply{-110, {}, "Connection timed out"}},
      {Request{0xc1, 0x0c, 0, 0}, Reply{0, {}, ""}},
  };
  fake_usb::install(scenario);
  ProbeResult result;
  probeUsbOptions(ppd_.get(), "usb://Orvane/ZX%20500", ProbeCancel{}, result);
  EXPECT_EQ(result.status, kProbeDone);
  EXPECT_EQ(fake_usb::open_handles(), 0);
  struct Row {
    const char* keyword;
    ProbeOutcome outcome;
    const char* reply;
    const char* choice;  // "" for none
    const char* words;
    size_t notes;
  } rows[] = {
      {"Tray", ProbeOutcome::kAnswered, "01 00 00 00 00 00 00 00", "True", "", 0},
      {"NoMask", ProbeOutcome::kBadQuery, "", "",
       "the query is not 4 setup bytes, a slash and mask bytes", 0},
      {"ZeroMask", ProbeOutcome::kAnswered, "00 00 00 00 00 00 00 00", "First", "", 2},
      {"NoQuery", ProbeOutcome::kNoQuery, "", "", "no query attribute '?Ep0NoQuery'", 0},
      {"EmptyQuery", ProbeOutcome::kNoQuery, "", "", "no query attribute '?Ep0EmptyQuery'", 0},
      {"Short", ProbeOutcome::kAnswered, "01 02 03 00 00 00 00 00", "Three",
       "a reply of 3 bytes, the rest taken as 00", 0},
      {"Silent", ProbeOutcome::kNoAnswer, "", "",
       "the request failed (-110: Connection timed out)", 0},
      {"NoReply", ProbeOutcome::kNoAnswer, "", "", "no answer (time-out)", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.keyword);
    const ProbeRecord* record = nullptr;
    for (size_t i = 0; i < result.count; ++i) {
      if (strcmp(result.records[i].option->keyword, row.keyword) == 0) record = &result.records[i];
    }
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->outcome, row.outcome);
    EXPECT_EQ(record->family, ProbeFamily::kEp0);
    EXPECT_STREQ(record->reply, row.reply);
    EXPECT_STREQ(record->choice != nullptr ? record->choice : "", row.choice);
    char words[256];
    probeFailureWords(*record, words, sizeof(words));
    EXPECT_STREQ(words, row.words);
    EXPECT_EQ(record->note_count, row.notes);
    EXPECT_EQ(marked_choice(ppd_.get(), row.keyword), "");
  }
}

// A cancel seen before the first request: nothing is sent, and no record is an answer.
TEST_F(UsbOptionQuery, CancelledQueryLeavesEveryRecordUnasked) {
  fake_usb::Scenario scenario;
  scenario.buses.resize(1);
  scenario.buses[0].devices.push_back(fake_usb::printer("p1", "ZX 500"));
  fake_usb::install(scenario);
  UniqueFd cancel(eventfd(1, EFD_CLOEXEC));
  ProbeCancel by_descriptor;
  by_descriptor.fd = cancel.get();
  ProbeResult result;
  probeUsbOptions(ppd_.get(), "usb://x", by_descriptor, result);
  EXPECT_EQ(result.status, kProbeCancelled);
  EXPECT_TRUE(control_calls().empty());
  EXPECT_EQ(fake_usb::open_handles(), 0);
  ASSERT_GT(result.count, 0u);
  for (size_t i = 0; i < result.count; ++i) {
    EXPECT_EQ(result.records[i].outcome, ProbeOutcome::kNotAsked);
  }
}

TEST_F(UsbOptionQuery, FailedOptionDoesNotStopTheWalk) {
  answer({{Request{0xc1, 0x01, 0, 0}, Reply{-19, {}, "No such device"}},
          {Request{0xc1, 0x04, 0, 0}, reply8({0, 0, 0x05})},
          {Request{0xc1, 0x10, 0, 0}, reply8({0x01})}});
  stderr_of([&] { usbQueryInstallableOptions(handle_, ppd_.get()); });
  EXPECT_EQ(marked_choice(ppd_.get(), "Tray"), "");
  EXPECT_EQ(marked_choice(ppd_.get(), "Skip2"), "Small");
  EXPECT_EQ(marked_choice(ppd_.get(), "CFeeder0123456789012345678901234567890"), "True");
}

}  // namespace
