// What a device query found: the notes of a result, and the cancel a query watches.
#include "probe/record.h"

#include <poll.h>

#include "common/signals.h"
#include "log/text.h"

bool probeCancelled(const ProbeCancel& cancel) {
  if (cancel.sigterm && job_cancelled()) return true;
  if (cancel.fd < 0) return false;
  struct pollfd p = {cancel.fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

void addProbeNote(HeapList<ProbeNote>& notes, ProbeRecord& record, ProbeNoteKind kind,
                  const ppd_attr_t* attr, const char* detail) {
  ProbeNote note{kind, attr, {}};
  copy_text(note.detail, sizeof(note.detail), detail);
  if (record.note_count == 0) record.first_note = notes.size();
  if (notes.add(note)) ++record.note_count;
}

void addDeviceNote(HeapList<DeviceNote>& notes, DeviceNoteKind kind, const char* detail,
                   unsigned char index) {
  DeviceNote note{kind, index, {}};
  copy_text(note.detail, sizeof(note.detail), detail != nullptr ? detail : "");
  notes.add(note);
}
