// USB path of the option query: finds the attached printer that belongs to the PPD and asks it,
// by one control request on endpoint 0 per installable option, which choice it has. Every
// message goes to standard error, where the scheduler collects it; nothing goes to the log.
#include "autoconf/usb_query.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "autoconf/installable.h"
#include "common/signals.h"
#include "log/text.h"

namespace {

constexpr unsigned char kPrinterClass = 7;
constexpr int kStringSize = 256;  // one USB string descriptor as text, terminator included
constexpr int kNameSize = 41;     // PPD attribute names: at most 40 characters
constexpr int kSetupSize = 4;
constexpr int kReplySize = 8;
constexpr int kTimeoutMs = 3000;

// Reads one string descriptor into a 256-byte buffer that is always terminated; a failed read
// is reported and leaves the empty string, so the match goes on with what could be read.
void read_string(usb_dev_handle* handle, unsigned char index, char (&text)[kStringSize]) {
  memset(text, 0, sizeof(text));
  int n = usb_get_string_simple(handle, index, text, sizeof(text));
  if (n < 0) {
    fprintf(stderr, "ERROR: usb_get_string_simple(,%hhu,,) failed: <%s>\n", index, usb_strerror());
    text[0] = '\0';
    return;
  }
  // The library reports the length it stored; a full buffer leaves no room of its own for
  // the terminator, so the last byte is given up for it.
  text[n < kStringSize ? n : kStringSize - 1] = '\0';
}

// A product string and a model name belong together when either contains the other. A PPD
// without a model name belongs to no device.
bool product_matches(const char* product, const char* model) {
  if (model == nullptr) return false;
  return strstr(product, model) != nullptr || strstr(model, product) != nullptr;
}

bool has_value(const ppd_attr_t* attr) {
  return attr->value != nullptr && attr->value[0] != '\0';
}

// Tells the observer, when there is one, why the option has no usable reply.
__attribute__((format(printf, 2, 3))) void note_failure(UsbSeen* seen, const char* format, ...) {
  if (seen == nullptr) return;
  va_list args;
  va_start(args, format);
  vsnprintf(seen->failure, sizeof(seen->failure), format, args);
  va_end(args);
  seen->answer->failure = seen->failure;
}

}  // namespace

int usbUpdateConfigOptions(ppd_file_t* ppd, const char* device_uri) {
  return usbQueryDevice(ppd, device_uri, nullptr, nullptr);
}

int usbQueryDevice(ppd_file_t* ppd, const char* device_uri, OptionObserver observer,
                   void* context) {
  usb_init();
  if (usb_find_busses() < 0) {
    fprintf(stderr, "ERROR: usb_find_busses() failed: <%s>\n", usb_strerror());
    return -1;
  }
  if (usb_find_devices() < 0) {
    fprintf(stderr, "ERROR: usb_find_devices() failed: <%s>\n", usb_strerror());
    return -1;
  }
  usb_dev_handle* handle = usb_open_matched_device(ppd, device_uri);
  if (handle == nullptr) {
    fprintf(stderr, "ERROR: usb_open_matched_device() failed: <%s>\n", usb_strerror());
    return -1;
  }
  usbQueryInstallableOptions(handle, ppd, observer, context);
  // The close result is reported but does not undo the marks already made.
  if (usb_close(handle) < 0) fprintf(stderr, "ERROR: usb_close() failed: <%s>", usb_strerror());
  return 0;
}

// Returns the first printer-class device, in the library's bus and device order, whose product
// string and the PPD's model name contain one another. The device URI is not consulted. The
// returned handle belongs to the caller; every other device opened here is closed here.
usb_dev_handle* usb_open_matched_device(ppd_file_t* ppd, const char* /*device_uri*/) {
  if (ppd == nullptr) {
    fprintf(stderr, "ERROR: invalid ppd\n");
    return nullptr;
  }
  for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
      if (!usb_device_has_class(device, kPrinterClass)) continue;
      usb_dev_handle* handle = usb_open(device);
      if (handle == nullptr) {
        fprintf(stderr, "ERROR: usb_open() failed: <%s>\n", usb_strerror());
        continue;
      }
      char manufacturer[kStringSize];
      char product[kStringSize];
      char serial[kStringSize];
      read_string(handle, device->descriptor.iManufacturer, manufacturer);
      read_string(handle, device->descriptor.iProduct, product);
      read_string(handle, device->descriptor.iSerialNumber, serial);
      if (product_matches(product, ppd->modelname)) return handle;
      if (usb_close(handle) < 0) fprintf(stderr, "usb_close() failed: <%s>", usb_strerror());
    }
  }
  return nullptr;
}

// 1 when the device class, or the class of any alternate setting of any interface of any
// configuration, equals device_class. A level whose array the library did not fill in (a
// device that reports configurations it could not read) contributes nothing.
int usb_device_has_class(struct usb_device* device, unsigned char device_class) {
  if (device == nullptr) return 0;
  bool found = device->descriptor.bDeviceClass == device_class;
  if (device->config == nullptr) return found ? 1 : 0;
  for (int c = 0; !found && c < device->descriptor.bNumConfigurations; ++c) {
    const struct usb_config_descriptor& config = device->config[c];
    if (config.interface == nullptr) continue;
    for (int i = 0; !found && i < config.bNumInterfaces; ++i) {
      const struct usb_interface& interface = config.interface[i];
      if (interface.altsetting == nullptr) continue;
      for (int a = 0; !found && a < interface.num_altsetting; ++a) {
        found = interface.altsetting[a].bInterfaceClass == device_class;
      }
    }
  }
  return found ? 1 : 0;
}

bool parseEp0Query(const char* text, unsigned char (&setup)[4], unsigned char (&mask)[8]) {
  // Each %hhx stores one byte (the low byte of a larger number), so nothing lands outside
  // the arrays whatever the attribute holds.
  const int fields =
      sscanf(text, "%hhx %hhx %hhx %hhx / %hhx %hhx %hhx %hhx %hhx %hhx %hhx %hhx", &setup[0],
             &setup[1], &setup[2], &setup[3], &mask[0], &mask[1], &mask[2], &mask[3], &mask[4],
             &mask[5], &mask[6], &mask[7]);
  return fields > kSetupSize;
}

// A request in flight cannot be interrupted (the kernel waits out its time-out), but after a
// cancellation no further one is sent.
void usbQueryInstallableOptions(usb_dev_handle* handle, ppd_file_t* ppd, OptionObserver observer,
                                void* context) {
  for (ppd_option_t* option = firstInstallableOption(ppd); option != nullptr && !job_cancelled();
       option = nextInstallableOption(ppd)) {
    AnswerNote note(observer, context, option);
    UsbSeen seen;
    seen.answer = &note.answer;
    usbQueryOption(handle, ppd, option, observer != nullptr ? &seen : nullptr);
  }
}

// Sends the request of the option's query attribute and marks the choice of the first reply
// attribute whose bytes equal the masked answer, counted from the first significant mask byte.
void usbQueryOption(usb_dev_handle* handle, ppd_file_t* ppd, ppd_option_t* option, UsbSeen* seen) {
  if (ppd == nullptr || option == nullptr) return;
  char name[kNameSize];
  format_text(name, sizeof(name), "?Ep0%s", option->keyword);
  if (seen != nullptr) {
    copy_text(seen->query_name, sizeof(seen->query_name), name);
    seen->answer->query_name = seen->query_name;
  }
  ppd_attr_t* query = ppdFindAttr(ppd, name, nullptr);
  if (query == nullptr || !has_value(query)) {
    fprintf(stderr, "WARNING: option '%s' has no query attribute '%s'\n", option->keyword, name);
    return;
  }
  if (seen != nullptr) seen->answer->query = query->value;

  unsigned char setup[kSetupSize] = {};
  unsigned char mask[kReplySize] = {};
  unsigned char reply[kReplySize] = {};
  if (!parseEp0Query(query->value, setup, mask)) {
    fprintf(stderr, "WARNING: query attribute '%s' has incorrect format '%s'\n", name,
            query->value);
    note_failure(seen, "the query is not 4 setup bytes, a slash and mask bytes");
    return;
  }

  long n = usb_ep0_request(handle, setup, reply, sizeof(reply));
  if (n < 0) {
    fprintf(stderr, "WARNING: USB query (%s) failure (%ld)\n", query->value, n);
    note_failure(seen, "the request failed (%ld: %s)", n, usb_strerror());
    return;
  }
  if (n == 0) {
    fprintf(stderr, "WARNING: USB query (%s) timeout\n", query->value);
    note_failure(seen, "no answer (time-out)");
    return;
  }
  if (n != kReplySize) {
    fprintf(stderr, "WARNING: USB reply (%s) has unexpected size (%ld)\n", query->value, n);
    note_failure(seen, "a reply of %ld bytes, the rest taken as 00", n);
    // Only what the device delivered counts; the rest compares as 0.
    if (n < kReplySize) memset(reply + n, 0, sizeof(reply) - static_cast<size_t>(n));
  }

  int skip = kReplySize;
  for (int k = kReplySize - 1; k >= 0; --k) {
    reply[k] &= mask[k];
    if (mask[k] != 0) skip = k;
  }
  if (seen != nullptr) {
    snprintf(seen->reply, sizeof(seen->reply), "%02X %02X %02X %02X %02X %02X %02X %02X", reply[0],
             reply[1], reply[2], reply[3], reply[4], reply[5], reply[6], reply[7]);
    seen->answer->reply = seen->reply;
  }

  format_text(name, sizeof(name), "Ep0%s", option->keyword);
  for (ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr); attr != nullptr;
       attr = ppdFindNextAttr(ppd, name, nullptr)) {
    if (!has_value(attr)) {
      fprintf(stderr, "WARNING: reply attribute '%s' is empty\n", name);
      continue;
    }
    unsigned char expected[kReplySize] = {};
    int got =
        sscanf(attr->value, "%hhx %hhx %hhx %hhx %hhx %hhx %hhx %hhx", &expected[0], &expected[1],
               &expected[2], &expected[3], &expected[4], &expected[5], &expected[6], &expected[7]);
    if (got < 1) {
      fprintf(stderr, "WARNING: reply attribute '%s' has incorrect format '%s'\n", name,
              attr->value);
      continue;
    }
    // The expected bytes line up with the first significant reply byte.
    if (memcmp(reply + skip, expected, static_cast<size_t>(kReplySize - skip)) == 0) {
      markReplyChoice(ppd, option, name, attr->spec);
      return;
    }
  }
  fprintf(stderr,
          "WARNING: option '%s' has no reply attribute '%s' with value "
          "'%02X %02X %02X %02X %02X %02X %02X %02X'\n",
          option->keyword, name, reply[0], reply[1], reply[2], reply[3], reply[4], reply[5],
          reply[6], reply[7]);
}

// wValue and wIndex are single bytes here, so the request never carries a high byte in them.
int usb_ep0_request(usb_dev_handle* handle, const unsigned char setup[4], unsigned char* bytes,
                    int size) {
  return usb_control_msg(handle, setup[0], setup[1], setup[2], setup[3],
                         reinterpret_cast<char*>(bytes), size, kTimeoutMs);
}
