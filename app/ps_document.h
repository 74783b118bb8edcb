// Where a job's option code goes in a PostScript document, found while the document streams
// past: at the end of its setup section, as a PostScript filter of CUPS puts it, so that the
// job's options win over the document's own; in a setup section of its own before the first
// page when the document has none; after the first line of a document without the
// structuring conventions.
#ifndef ZORV_APP_PS_DOCUMENT_H
#define ZORV_APP_PS_DOCUMENT_H

#include <cstddef>

// The longest line start the scan has to see whole.
inline constexpr size_t kLongestMarker = 16;

enum class SetupPlace {
  kNotYet,        // not in the bytes seen so far
  kBeforeLine,    // insert the code before the line at *offset (its "%%EndSetup")
  kWrapped,       // insert "%%BeginSetup", the code and "%%EndSetup" before the line at *offset
  kNotPostScript  // the document does not start with "%!": it is sent as it is
};

// What the scan remembers between blocks.
struct SetupScan {
  bool started = false;     // the first bytes have been looked at
  bool structured = false;  // "%!PS-Adobe-" documents: DSC comments are searched
  bool mid_line = false;    // the bytes seen so far end inside a line
};

// Scans data[0, count) of the document, which follows the bytes of earlier calls. Returns
// where the code goes, with *offset the place in data; for kNotYet, *offset is how many bytes
// are done with (the rest, a line start shorter than kLongestMarker, must be handed again at
// the front of the next call, unless at_end). A document without DSC comments gets the code
// after its first line (kBeforeLine at the second line).
SetupPlace findSetupPlace(SetupScan* scan, const char* data, size_t count, bool at_end,
                          size_t* offset);

// Counts the pages of a document that streams past: its DSC page comments ("%%Page:" at the
// start of a line), markers that fall across blocks included.
struct PageScan {
  unsigned pages = 0;
  int partial = 0;  // characters of a marker at a line start that the last block ended in,
                    // -1 when the last block ended elsewhere
};
void countPages(PageScan* scan, const char* data, size_t count);

// The page count that a document's header comments declare ("%%Pages: N" before the first
// line that is no comment, or "%%EndComments") in data[0, count); 0 for none, "(atend)", or a
// line that does not end within the bytes seen (as for trailerPages).
unsigned declaredPages(const char* data, size_t count);
// The page count of the last "%%Pages: N" line in data[0, count), the end of a document (its
// trailer, for a header that said "(atend)"); 0 for none.
unsigned trailerPages(const char* data, size_t count);

#endif  // ZORV_APP_PS_DOCUMENT_H
