// Fuzzes the raster-to-PostScript writer with a page described by the first fuzzer bytes and
// lines made of the rest. Checked with the reader of the tests (tests/support/postscript.h):
// the page's image data, ASCII85 and run-length decoded as a PostScript interpreter does,
// holds exactly each line's samples (padding left out), the lines not delivered blank; a page
// the writer refuses writes nothing.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "app/ps_raster.h"
#include "fuzz_support.h"
#include "support/postscript.h"

namespace {

constexpr size_t kHeaderBytes = 6;

bool collect(void* context, const void* bytes, size_t count) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(bytes), count);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  PsPage page;
  static const unsigned kColors[] = {1, 3, 4, 2};
  page.colors = kColors[data[0] & 3];
  page.bits_per_color = (data[0] & 4) != 0 ? 1 : 8;
  page.additive = (data[0] & 8) != 0;
  page.width = 1 + data[1] % 200;
  page.height = 1 + data[2] % 40;
  const unsigned row = (page.width * page.colors * page.bits_per_color + 7) / 8;
  page.bytes_per_line = row + data[3] % 4;
  page.x_dpi = page.y_dpi = 1 + data[4];
  const unsigned lines = data[5] % (page.height + 2);
  const std::string bytes(reinterpret_cast<const char*>(data) + kHeaderBytes, size - kHeaderBytes);

  auto writer = std::make_unique<PsWriter>();
  std::string out;
  if (!psBeginDocument(writer.get(), collect, &out, "")) fuzz_fail("document refused");
  const size_t before = writer->used;
  if (!psBeginPage(writer.get(), page)) {
    const bool describable = page.colors != 2 && !(page.bits_per_color == 1 && page.colors != 1);
    if (describable) fuzz_fail("a page it can describe was refused");
    if (writer->used != before) fuzz_fail("a refused page wrote bytes");
    return 0;
  }
  std::string expected;
  std::string line(page.bytes_per_line, '\0');
  for (unsigned y = 0; y < lines; y++) {
    for (size_t i = 0; i < line.size(); i++) {
      line[i] = bytes.empty() ? '\0' : bytes[(y * line.size() + i) % bytes.size()];
    }
    if (!psWriteLine(writer.get(), reinterpret_cast<const unsigned char*>(line.data()))) {
      fuzz_fail("line refused");
    }
    if (y < page.height) expected += line.substr(0, row);
  }
  for (unsigned y = lines; y < page.height; y++)
    expected += std::string(row, page.additive ? '\xff' : '\0');
  if (!psEndPage(writer.get()) || !psEndDocument(writer.get())) fuzz_fail("page refused");
  bool ok = false;
  if (page_samples(out, 1, &ok) != expected || !ok) fuzz_fail("the image is not the lines");
  return 0;
}
