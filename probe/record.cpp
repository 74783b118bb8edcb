// What a device query found: the notes of a result.
#include "probe/record.h"

#include "log/text.h"

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
