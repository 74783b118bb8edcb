// How an answer picks a choice: the option's reply attributes of the query's family are tried
// in PPD order, and the first that matches names the choice. One rule for the three families;
// only the test of one value against the answer differs.
#ifndef ZORV_PROBE_REPLY_MATCH_H
#define ZORV_PROBE_REPLY_MATCH_H

#include <cups/ppd.h>

#include <cstddef>

#include "probe/probe.h"

// The eight bytes of a USB reply, and the masked answer a reply attribute is compared with.
inline constexpr size_t kUsbReplySize = 8;
inline constexpr size_t kUsbSetupSize = 4;

struct UsbAnswer {
  unsigned char bytes[kUsbReplySize] = {};  // already masked
  int skip = 0;  // leading mask bytes that are 0: the expected bytes line up after them
};

// Tries record's reply attributes (record.family, record.reply_name) against the answer:
// record.reply for the SNMP families, usb for the USB one. Sets record.matched and
// record.choice (when the option has that choice) and adds the notes that arise to notes.
void matchReply(ppd_file_t* ppd, ProbeRecord& record, HeapList<ProbeNote>& notes,
                const UsbAnswer* usb = nullptr);

// Whether the value of an "OID<Keyword> <Choice>" line matches the answer's natural text: it
// equals the text; or it is an extended regular expression that matches the whole text; or it
// is a decimal number followed by a space and a unit word ("262144 KBytes") and the text is
// that number. A value that is not a valid expression is compared as text only.
bool oidValueMatches(const char* value, const char* text);

// Reads the value of a "?Ep0<Keyword>" attribute: four setup bytes, a slash and up to eight
// mask bytes, in hexadecimal. False when not even one mask byte follows the setup bytes; mask
// bytes that are not given keep their value.
bool parseEp0Query(const char* text, unsigned char (&setup)[kUsbSetupSize],
                   unsigned char (&mask)[kUsbReplySize]);

// Reads the value of an "Ep0<Keyword>" attribute, up to eight hexadecimal bytes, into expected
// (bytes not given keep their value); returns the number of bytes read.
int parseEp0Reply(const char* text, unsigned char (&expected)[kUsbReplySize]);

#endif  // ZORV_PROBE_REPLY_MATCH_H
