// The state file of the printers' accessories, beside the server's own: each printer's
// intervals, SNMPv3 settings and the device's and hand-set choices, in lines whose free text
// is written in hexadecimal. Written whole, beside the old file and renamed over it, with no
// lock held that a delete inside PAPPL could wait for.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/accessory_parts.h"
#include "log/escape.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

constexpr char kNoChoice[] = "-";
// A line of the state file: an SNMPv3 line carries two passphrases in hexadecimal.
constexpr size_t kStateLineSize = 4 * kSnmpPassphraseSize + 256;

// The buffer of a stream that reads or writes secrets, and one line of it.
struct StreamBuffer {
  char bytes[8192];
};
struct StateLine {
  char text[kStateLineSize];
};

// What one printer's lines say, copied under its lock so that they are written without it.
struct SavedPrinter {
  int printer_id;
  int interval;
  int state_interval;
  bool use_v3;
  SnmpV3Settings v3;
};

// Text as lower-case hexadecimal ("-" for the empty text), so that a line of the state file
// carries any bytes; and back, false for anything else or what does not fit.
void put_hex(FILE* out, const char* text) {
  if (text[0] == '\0') fputc('-', out);
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    fprintf(out, "%02x", *p);
  }
}

bool take_hex(const char* hex, char* text, size_t size) {
  if (strcmp(hex, kNoChoice) == 0) {
    text[0] = '\0';
    return true;
  }
  size_t n = 0;
  for (const char* p = hex; p[0] != '\0'; p += 2) {
    if (p[1] == '\0' || n + 1 >= size || hex_digit(p[0]) < 0 || hex_digit(p[1]) < 0) return false;
    const int byte = hex_digit(p[0]) * 16 + hex_digit(p[1]);
    if (byte == 0) return false;
    text[n++] = static_cast<char>(byte);
  }
  text[n] = '\0';
  return true;
}

// One printer's lines; false when memory runs out.
bool save_one(FILE* out, PrinterAccessories* a) {
  Secret<SavedPrinter> saved;
  if (saved.get() == nullptr) return false;
  {
    Locked locked(a->lock);
    saved->printer_id = a->printer_id;
    saved->interval = a->interval;
    saved->state_interval = a->state_interval;
    saved->use_v3 = a->use_v3 && a->v3.get() != nullptr;
    if (saved->use_v3) saved->v3 = *a->v3;
  }
  int count = 0;
  UniqueMalloc<InstalledOption[]> options = snapshotOptions(a, &count);
  if (options == nullptr) return false;
  fprintf(out, "printer %d interval %d\n", saved->printer_id, saved->interval);
  fprintf(out, "state-interval %d\n", saved->state_interval);
  if (saved->use_v3) {
    const SnmpV3Settings& v3 = saved->v3;
    fprintf(out, "snmpv3 %s %s %s ", snmpLevelName(v3.level), snmpAuthName(v3.auth),
            snmpPrivName(v3.priv));
    for (const char* text : {v3.user, v3.context, v3.auth_passphrase, v3.priv_passphrase}) {
      put_hex(out, text);
      fputc(' ', out);
    }
    fputc('\n', out);
  }
  for (int i = 0; i < count; i++) {
    const InstalledOption& o = options[i];
    fprintf(out, "option %s %s %s\n", o.keyword,
            o.device_choice[0] != '\0' ? o.device_choice : kNoChoice,
            o.hand_choice[0] != '\0' ? o.hand_choice : kNoChoice);
  }
  fputs("end\n", out);
  return true;
}

// References to every registered printer's accessories, taken under the registry's lock and
// used without it; false when memory runs out or the system is ending (none are taken then).
bool registered(AccessoryContext* context, HeapList<PrinterAccessories*>* held) {
  Locked registry(context->lock);
  if (context->ending) return false;
  for (size_t i = 0; i < context->printers.size(); i++) {
    if (!held->add(context->printers[i])) return false;
    context->printers[i]->refs++;
  }
  return true;
}

// Writes the file at temporary: true, or false with why.
bool write_file(AccessoryContext* context, const char* temporary, char* why, size_t why_size) {
  HeapList<PrinterAccessories*> held;
  const bool all = registered(context, &held);
  // Each reference taken is let go at the end, whatever happens in between.
  struct LetGo {
    HeapList<PrinterAccessories*>& list;
    ~LetGo() {
      for (size_t i = 0; i < list.size(); i++) {
        AccessoriesRef released(list[i]);
      }
    }
  } let_go{held};
  if (!all) {
    copy_text(why, why_size, context->ending ? "the server is ending" : "out of memory");
    return false;
  }
  // The file holds passphrases: made afresh for the server's user alone, and its stream's
  // buffer on pages that are cleared (declared first, so that it outlives the stream).
  Secret<StreamBuffer> buffer;
  unlink(temporary);
  UniqueFd fd(open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    format_text(why, why_size, "cannot make %s: %s", temporary, strerror(errno));
    return false;
  }
  UniqueFile out(fdopen(fd.release(), "w"));
  if (out == nullptr || buffer.get() == nullptr ||
      setvbuf(out.get(), buffer->bytes, _IOFBF, sizeof(buffer->bytes)) != 0) {
    copy_text(why, why_size, "out of memory");
    return false;
  }
  fputs("# The accessories of zorv-printer-app's printers; written by the server.\n", out.get());
  for (size_t i = 0; i < held.size(); i++) {
    if (!save_one(out.get(), held[i])) {
      copy_text(why, why_size, "out of memory");
      return false;
    }
  }
  errno = 0;
  const bool written = fflush(out.get()) == 0 && fsync(fileno(out.get())) == 0;
  const int error = errno;
  if (fclose(out.release()) != 0 || !written) {
    format_text(why, why_size, "cannot write %s: %s", temporary,
                strerror(error != 0 ? error : errno));
    return false;
  }
  return true;
}

// The printer's SNMPv3 settings from a state file's line (changed in place): used when they
// meet the rules.
void take_v3_line(PrinterAccessories* a, char* line) {
  constexpr int kFields = 8;  // "snmpv3", level, auth, priv, user, context, two passphrases
  char* fields[kFields];
  int n = 0;
  char* save = nullptr;
  for (char* field = strtok_r(line, " \n", &save); field != nullptr && n < kFields;
       field = strtok_r(nullptr, " \n", &save)) {
    fields[n++] = field;
  }
  Secret<SnmpV3Settings> v3;
  SnmpSettingsReport report;
  // A protocol the level does not use is written "none".
  const auto none = [](const char* name) { return strcmp(name, "none") == 0; };
  if (n != kFields || v3.get() == nullptr || a->v3.get() == nullptr ||
      !snmpLevelOfName(fields[1], &v3->level) ||
      (!none(fields[2]) && !snmpAuthOfName(fields[2], &v3->auth)) ||
      (!none(fields[3]) && !snmpPrivOfName(fields[3], &v3->priv)) ||
      !take_hex(fields[4], v3->user, sizeof(v3->user)) ||
      !take_hex(fields[5], v3->context, sizeof(v3->context)) ||
      !take_hex(fields[6], v3->auth_passphrase, sizeof(v3->auth_passphrase)) ||
      !take_hex(fields[7], v3->priv_passphrase, sizeof(v3->priv_passphrase)) ||
      !checkSnmpV3Settings(*v3, report)) {
    return;
  }
  *a->v3 = *v3;
  a->use_v3 = true;
}

}  // namespace

bool saveAccessories(AccessoryContext* context, pappl_system_t* system, char* why,
                     size_t why_size) {
  if (context->state_path[0] == '\0') return true;
  // A save that starts later reads the accessories later, and so writes the newer file last.
  Locked saving(context->save_lock);
  char temporary[kStatePathSize + 8];
  if (!format_text(temporary, sizeof(temporary), "%s.new", context->state_path)) {
    format_text(why, why_size, "the path %s is too long", context->state_path);
  } else if (!write_file(context, temporary, why, why_size)) {
    unlink(temporary);
  } else if (rename(temporary, context->state_path) != 0) {
    format_text(why, why_size, "cannot rename %s to %s: %s", temporary, context->state_path,
                strerror(errno));
    unlink(temporary);
  } else {
    return true;
  }
  // The file keeps what the last save before the end wrote, with every printer in it.
  if (context->ending) return true;
  papplLog(system, PAPPL_LOGLEVEL_ERROR, "The printers' accessories were not saved: %s.",
           ShownText(why).c_str());
  return false;
}

void loadAccessories(PrinterAccessories* a) {
  if (a->context->state_path[0] == '\0') return;
  // The file holds passphrases: what is read of it stays on pages that are cleared.
  Secret<StreamBuffer> buffer;
  Secret<StateLine> read;
  UniqueFile in(fopen(a->context->state_path, "re"));
  UniquePpd ppd(ppdOpenFile(a->ppd_path));
  if (in == nullptr || ppd == nullptr || buffer.get() == nullptr || read.get() == nullptr ||
      setvbuf(in.get(), buffer->bytes, _IOFBF, sizeof(buffer->bytes)) != 0) {
    return;
  }
  char* line = read->text;
  bool mine = false;
  while (fgets(line, kStateLineSize, in.get()) != nullptr) {
    int id = 0;
    int interval = 0;
    int state_interval = 0;
    char keyword[kAttributeNameSize];
    char device[kChoiceSize];
    char hand[kChoiceSize];
    if (sscanf(line, "printer %d interval %d", &id, &interval) == 2) {
      mine = id == a->printer_id;
      if (mine && interval >= kShortestQueryInterval && interval <= kLongestQueryInterval) {
        a->interval = interval;
      }
    } else if (mine && sscanf(line, "option %40s %40s %40s", keyword, device, hand) == 3) {
      InstalledOption* o = findOption(a, keyword);
      if (o == nullptr) continue;
      if (strcmp(device, kNoChoice) != 0 && hasChoice(ppd.get(), keyword, device)) {
        copy_text(o->device_choice, sizeof(o->device_choice), device);
      }
      if (strcmp(hand, kNoChoice) != 0 && hasChoice(ppd.get(), keyword, hand)) {
        copy_text(o->hand_choice, sizeof(o->hand_choice), hand);
      }
    } else if (mine && sscanf(line, "state-interval %d", &state_interval) == 1) {
      if (state_interval >= kShortestStateInterval && state_interval <= kLongestStateInterval) {
        a->state_interval = state_interval;
      }
    } else if (mine && strncmp(line, "snmpv3 ", 7) == 0) {
      take_v3_line(a, line);
    } else if (strncmp(line, "end", 3) == 0) {
      mine = false;
    }
  }
}
