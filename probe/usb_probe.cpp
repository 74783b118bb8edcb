// The USB path of a device query: finds the attached printer that belongs to the PPD and asks
// it, by one control request on endpoint 0 per installable option, which choice it has.
#include "probe/usb_probe.h"

#include <pthread.h>

#include <cstdio>
#include <cstring>

#include "log/text.h"

namespace {

constexpr unsigned char kPrinterClass = 7;
constexpr int kStringSize = 256;  // one USB string descriptor as text, terminator included

// libusb 0.1 holds its bus and device lists and its last error text process-wide.
pthread_mutex_t g_usb = PTHREAD_MUTEX_INITIALIZER;

class UsbLock {
 public:
  UsbLock() { pthread_mutex_lock(&g_usb); }
  ~UsbLock() { pthread_mutex_unlock(&g_usb); }
  UsbLock(const UsbLock&) = delete;
  UsbLock& operator=(const UsbLock&) = delete;
};

// Reads one string descriptor into a 256-byte buffer that is always terminated; a failed read
// is noted and leaves the empty string, so the match goes on with what could be read.
void read_string(usb_dev_handle* handle, unsigned char index, char (&text)[kStringSize],
                 HeapList<DeviceNote>& notes) {
  memset(text, 0, sizeof(text));
  int n = usb_get_string_simple(handle, index, text, sizeof(text));
  if (n < 0) {
    addDeviceNote(notes, DeviceNoteKind::kStringFailed, usb_strerror(), index);
    text[0] = '\0';
    return;
  }
  // The library reports the length it stored; a full buffer leaves no room of its own for
  // the terminator, so the last byte is given up for it.
  text[n < kStringSize ? n : kStringSize - 1] = '\0';
}

// A product string and a model name belong together when either contains the other. A PPD
// without a model name belongs to no device, and an empty product string (what a string that
// could not be read leaves) to no PPD: every model name contains it.
bool product_matches(const char* product, const char* model) {
  if (model == nullptr || product[0] == '\0') return false;
  return strstr(product, model) != nullptr || strstr(model, product) != nullptr;
}

// The serial number of a device URI, "usb://Make/Model?serial=S", %XX escapes decoded, into
// serial; false when the URI names none. A serial number that cannot stand in a USB string
// (too long, or with a zero byte) is kept as one that no device has.
bool serial_of_uri(const char* uri, char (&serial)[kStringSize]) {
  serial[0] = '\0';
  const char* p = uri != nullptr ? strchr(uri, '?') : nullptr;
  if (p == nullptr) return false;
  constexpr char kKey[] = "serial=";
  constexpr size_t kKeyLength = sizeof(kKey) - 1;
  for (++p; *p != '\0';) {
    const size_t field = strcspn(p, "&#");
    if (field >= kKeyLength && strncmp(p, kKey, kKeyLength) == 0) {
      size_t length = 0;
      for (const char* v = p + kKeyLength; v < p + field; ++v) {
        char c = *v;
        if (c == '%' && v + 2 < p + field && hex_digit(v[1]) >= 0 && hex_digit(v[2]) >= 0) {
          c = static_cast<char>(hex_digit(v[1]) * 16 + hex_digit(v[2]));
          v += 2;
        }
        if (c == '\0' || length + 1 >= sizeof(serial)) {
          copy_text(serial, sizeof(serial), "\n");
          return true;
        }
        serial[length++] = c;
      }
      serial[length] = '\0';
      return true;
    }
    p += field;
    if (*p != '&') break;
    ++p;
  }
  return false;
}

}  // namespace

void probeUsbOptions(ppd_file_t* ppd, const char* device_uri, const ProbeCancel& cancel,
                     ProbeResult& result) {
  ppd_group_t* group = installableGroup(ppd);
  const size_t total = group != nullptr ? static_cast<size_t>(group->num_options) : 0;
  result.records = make_array<ProbeRecord>(total);
  if (result.records == nullptr) {
    result.status = kProbeNoMemory;
    return;
  }
  result.count = total;
  for (size_t i = 0; i < total; ++i) result.records[i].option = &group->options[i];

  UsbLock lock;
  usb_init();
  if (usb_find_busses() < 0) {
    addDeviceNote(result.device_notes, DeviceNoteKind::kFindBussesFailed, usb_strerror());
    result.notes_before = result.device_notes.size();
    result.status = kProbeNoDevice;
    return;
  }
  if (usb_find_devices() < 0) {
    addDeviceNote(result.device_notes, DeviceNoteKind::kFindDevicesFailed, usb_strerror());
    result.notes_before = result.device_notes.size();
    result.status = kProbeNoDevice;
    return;
  }
  usb_dev_handle* handle = probeUsbMatch(ppd, device_uri, result.device_notes);
  if (handle == nullptr) {
    addDeviceNote(result.device_notes, DeviceNoteKind::kNoDevice, usb_strerror());
    result.notes_before = result.device_notes.size();
    result.status = kProbeNoDevice;
    return;
  }
  result.notes_before = result.device_notes.size();
  // A request in flight cannot be interrupted (the kernel waits out its time-out), but after a
  // cancel no further one is sent.
  result.status = kProbeDone;
  for (size_t i = 0; i < total; ++i) {
    if (probeCancelled(cancel)) {
      result.status = kProbeCancelled;
      break;
    }
    probeUsbOption(handle, ppd, result.records[i].option, result.records[i], result.notes);
  }
  // The close result is noted but does not undo the answers already had.
  if (usb_close(handle) < 0) {
    addDeviceNote(result.device_notes, DeviceNoteKind::kFinalCloseFailed, usb_strerror());
  }
}

// The returned handle belongs to the caller; every other device opened here is closed here.
usb_dev_handle* probeUsbMatch(ppd_file_t* ppd, const char* device_uri,
                              HeapList<DeviceNote>& notes) {
  if (ppd == nullptr) {
    addDeviceNote(notes, DeviceNoteKind::kNoPpd, "");
    return nullptr;
  }
  char wanted_serial[kStringSize];
  const bool serial_wanted = serial_of_uri(device_uri, wanted_serial);
  for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
      if (!usb_device_has_class(device, kPrinterClass)) continue;
      usb_dev_handle* handle = usb_open(device);
      if (handle == nullptr) {
        addDeviceNote(notes, DeviceNoteKind::kOpenFailed, usb_strerror());
        continue;
      }
      char manufacturer[kStringSize];
      char product[kStringSize];
      char serial[kStringSize];
      read_string(handle, device->descriptor.iManufacturer, manufacturer, notes);
      read_string(handle, device->descriptor.iProduct, product, notes);
      read_string(handle, device->descriptor.iSerialNumber, serial, notes);
      // A serial number that could not be read (or is empty) is none the URI can name.
      if (product_matches(product, ppd->modelname) &&
          (!serial_wanted || (serial[0] != '\0' && strcmp(serial, wanted_serial) == 0))) {
        return handle;
      }
      if (usb_close(handle) < 0) {
        addDeviceNote(notes, DeviceNoteKind::kCloseFailed, usb_strerror());
      }
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

void probeUsbOption(usb_dev_handle* handle, ppd_file_t* ppd, const ppd_option_t* option,
                    ProbeRecord& record, HeapList<ProbeNote>& notes) {
  record.option = option;
  record.family = ProbeFamily::kEp0;
  formatQueryName(record.query_name, ProbeFamily::kEp0, option->keyword);
  formatReplyName(record.reply_name, ProbeFamily::kEp0, option->keyword);
  record.outcome = ProbeOutcome::kNoQuery;
  ppd_attr_t* query = ppdFindAttr(ppd, record.query_name, nullptr);
  if (query == nullptr || !attributeHasValue(query)) return;
  record.query = query->value;

  unsigned char setup[kUsbSetupSize] = {};
  unsigned char mask[kUsbReplySize] = {};
  if (!parseEp0Query(query->value, setup, mask)) {
    record.outcome = ProbeOutcome::kBadQuery;
    return;
  }
  UsbAnswer answer;
  const long n = usb_ep0_request(handle, setup, answer.bytes, sizeof(answer.bytes));
  record.transferred = n;
  if (n <= 0) {
    record.outcome = ProbeOutcome::kNoAnswer;
    if (n < 0) copy_text(record.detail, sizeof(record.detail), usb_strerror());
    return;
  }
  // Only what the device delivered counts; the rest compares as 0.
  if (n < static_cast<long>(kUsbReplySize)) {
    memset(answer.bytes + n, 0, sizeof(answer.bytes) - static_cast<size_t>(n));
  }
  answer.skip = static_cast<int>(kUsbReplySize);
  for (int k = static_cast<int>(kUsbReplySize) - 1; k >= 0; --k) {
    answer.bytes[k] &= mask[k];
    if (mask[k] != 0) answer.skip = k;
  }
  const unsigned char* b = answer.bytes;
  snprintf(record.reply, sizeof(record.reply), "%02X %02X %02X %02X %02X %02X %02X %02X", b[0],
           b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
  record.outcome = ProbeOutcome::kAnswered;
  matchReply(ppd, record, notes, &answer);
}

// wValue and wIndex are single bytes here, so the request never carries a high byte in them.
int usb_ep0_request(usb_dev_handle* handle, const unsigned char setup[4], unsigned char* bytes,
                    int size) {
  return usb_control_msg(handle, setup[0], setup[1], setup[2], setup[3],
                         reinterpret_cast<char*>(bytes), size, kUsbTimeoutMs);
}
