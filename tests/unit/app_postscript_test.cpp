// The Printer Application's PostScript: where a job's option code goes in a document that
// streams past, and raster pages written as PostScript images and read back.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/ps_document.h"
#include "app/ps_raster.h"
#include "support/bytes.h"
#include "support/postscript.h"

namespace {

constexpr char kCode[] = "<<CODE>>\n";

// The document with the code where findSetupPlace puts it, the document handed over in blocks
// of block bytes (the bytes the scan keeps come again at the front of the next block).
std::string with_code(const std::string& document, size_t block) {
  std::string out;
  SetupScan scan;
  std::string pending;
  size_t next = 0;
  bool placed = false;
  for (;;) {
    const std::string piece = document.substr(next, block);
    next += piece.size();
    const bool at_end = piece.empty();
    std::string data = pending + piece;
    pending.clear();
    if (!placed) {
      size_t offset = 0;
      const SetupPlace place = findSetupPlace(&scan, data.data(), data.size(), at_end, &offset);
      if (place == SetupPlace::kNotPostScript) {
        placed = true;
      } else if (place == SetupPlace::kBeforeLine || place == SetupPlace::kWrapped) {
        out += data.substr(0, offset);
        out += place == SetupPlace::kWrapped
                   ? std::string("%%BeginSetup\n") + kCode + "%%EndSetup\n"
                   : std::string(kCode);
        data = data.substr(offset);
        placed = true;
      } else if (!at_end) {
        pending = data.substr(offset);
        data = data.substr(0, offset);
      }
    }
    out += data;
    if (at_end) break;
  }
  return out;
}

TEST(PsDocument, OptionCodeGoesWhereAPostScriptFilterPutsIt) {
  const struct {
    const char* name;
    std::string document;
    std::string expected;
  } cases[] = {
      {"end of the document's own setup",
       "%!PS-Adobe-3.0\n%%EndComments\n%%BeginSetup\n/x 1 def\n%%EndSetup\n%%Page: 1 1\nshowpage\n",
       "%!PS-Adobe-3.0\n%%EndComments\n%%BeginSetup\n/x 1 def\n<<CODE>>\n%%EndSetup\n%%Page: 1 "
       "1\nshowpage\n"},
      {"a setup of its own before the first page",
       "%!PS-Adobe-3.0\r\n%%EndProlog\r\n%%Page: 1 1\r\nshowpage\r\n",
       "%!PS-Adobe-3.0\r\n%%EndProlog\r\n%%BeginSetup\n<<CODE>>\n%%EndSetup\n%%Page: 1 "
       "1\r\nshowpage\r\n"},
      {"after the first line without the conventions", "%!\n/Courier findfont\nshowpage\n",
       "%!\n<<CODE>>\n/Courier findfont\nshowpage\n"},
      {"not PostScript: unchanged", "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS\n",
       "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\n%!PS\n"},
      {"a marker inside a line is no marker", "%!PS-Adobe-3.0\n(%%EndSetup) pop\n%%Trailer\n",
       "%!PS-Adobe-3.0\n(%%EndSetup) pop\n%%BeginSetup\n<<CODE>>\n%%EndSetup\n%%Trailer\n"},
      {"no page at all: the code is not sent", "%!PS-Adobe-3.0\n%%EndComments\n",
       "%!PS-Adobe-3.0\n%%EndComments\n"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    // Every block size down to one byte: markers and line ends fall across blocks.
    for (size_t block : {size_t{65536}, size_t{7}, size_t{3}, size_t{1}}) {
      SCOPED_TRACE(std::string(c.name) + ", blocks of " + std::to_string(block));
      EXPECT_EQ(with_code(c.document, block), c.expected);
    }
  }
}

TEST(PsDocument, PagesAreCountedWhereverTheBlocksEnd) {
  const struct {
    const char* name;
    std::string document;
    unsigned pages;
    unsigned declared;  // in the header
    unsigned trailer;   // the last count in the document
  } cases[] = {
      {"three pages", "%!PS-Adobe-3.0\n%%Pages: 3\n%%EndComments\n%%Page: 1 1\nshowpage\n"
                      "%%Page: 2 2\r\nshowpage\r%%Page: 3 3\nshowpage\n%%EOF\n",
       3, 3, 3},
      {"a marker inside a line is no page", "%!PS-Adobe-3.0\n%%Pages: (atend)\n(%%Page: 1 1) pop\n"
       "%%Page: 1 1\n%%Pagex\n%%Page:\n%%Trailer\n%%Pages: 2\n%%EOF\n", 2, 0, 2},
      {"no conventions", "%!\nshowpage\n", 0, 0, 0},
      {"declared after a line that is no comment", "%!PS-Adobe-3.0\n/x 1 def\n%%Pages: 4\n", 0, 0,
       4},
      {"a trailer's count cut short", "%!PS-Adobe-3.0\n%%Trailer\n%%Pages: 12", 0, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(declaredPages(c.document.data(), c.document.size()), c.declared) << c.name;
    EXPECT_EQ(trailerPages(c.document.data(), c.document.size()), c.trailer) << c.name;
    for (size_t block : {size_t{65536}, size_t{7}, size_t{3}, size_t{1}}) {
      SCOPED_TRACE(std::string(c.name) + ", blocks of " + std::to_string(block));
      PageScan scan;
      for (size_t at = 0; at < c.document.size(); at += block) {
        const std::string piece = c.document.substr(at, block);
        countPages(&scan, piece.data(), piece.size());
      }
      EXPECT_EQ(scan.pages, c.pages);
    }
  }
}

struct Collected {
  std::string bytes;
  size_t refuse_after = std::string::npos;
};

bool collect(void* context, const void* bytes, size_t count) {
  Collected* out = static_cast<Collected*>(context);
  if (out->bytes.size() + count > out->refuse_after) return false;
  out->bytes.append(static_cast<const char*>(bytes), count);
  return true;
}

TEST(PsRaster, RunLengthEncodingStaysWithinItsBoundAndDecodes) {
  const std::string inputs[] = {std::string(1000, 'a'), pseudo_random_bytes(1000, 7), "abbcddeffg",
                                "x", std::string(129, 'q') + "zz" + std::string(3, 'y')};
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input.size());
    std::string encoded(runLengthBound(input.size()), '\0');
    const size_t n =
        runLengthEncode(reinterpret_cast<const unsigned char*>(input.data()), input.size(),
                        reinterpret_cast<unsigned char*>(encoded.data()));
    ASSERT_LE(n, runLengthBound(input.size()));
    encoded.resize(n);
    bool ok = false;
    EXPECT_EQ(run_length_decode(encoded + '\x80', &ok), input);
    EXPECT_TRUE(ok);
  }
}

TEST(PsRaster, PagesReadBackAsTheirLinesMissingLinesBlankExtraLinesDropped) {
  // On the heap for its size; freed however the test ends.
  const std::unique_ptr<PsWriter> owned = std::make_unique<PsWriter>();
  PsWriter* writer = owned.get();
  Collected out;
  ASSERT_TRUE(psBeginDocument(writer, collect, &out, "%%SETUP\n"));
  PsPage gray;
  gray.width = 300;
  gray.height = 4;
  gray.bytes_per_line = 302;  // padding beyond the samples is not image data
  gray.bits_per_color = 8;
  gray.colors = 1;
  gray.x_dpi = gray.y_dpi = 300;
  const std::string lines = pseudo_random_bytes(3 * 302, 3);
  ASSERT_TRUE(psBeginPage(writer, gray));
  for (int y = 0; y < 3; y++) {
    ASSERT_TRUE(
        psWriteLine(writer, reinterpret_cast<const unsigned char*>(lines.data()) + y * 302));
  }
  ASSERT_TRUE(psEndPage(writer));
  PsPage black = gray;
  black.bits_per_color = 1;
  black.bytes_per_line = 38;
  black.additive = false;
  ASSERT_TRUE(psBeginPage(writer, black));
  ASSERT_TRUE(psEndPage(writer));
  // A line beyond the page's height is not image data.
  PsPage two_lines = gray;
  two_lines.height = 2;
  ASSERT_TRUE(psBeginPage(writer, two_lines));
  for (int y = 0; y < 3; y++) {
    ASSERT_TRUE(
        psWriteLine(writer, reinterpret_cast<const unsigned char*>(lines.data()) + y * 302));
  }
  ASSERT_TRUE(psEndPage(writer));
  ASSERT_TRUE(psEndDocument(writer));

  EXPECT_EQ(out.bytes.find("%!PS-Adobe-3.0\n"), 0u);
  EXPECT_NE(out.bytes.find("%%BeginSetup\n%%SETUP\n%%EndSetup\n"), std::string::npos);
  EXPECT_NE(out.bytes.find("/DeviceGray setcolorspace"), std::string::npos);
  EXPECT_NE(out.bytes.find("/Decode [1 0]"), std::string::npos);
  EXPECT_NE(out.bytes.find("%%Trailer\n%%Pages: 3\n%%EOF\n"), std::string::npos);
  bool ok = false;
  std::string expected;
  for (int y = 0; y < 3; y++) expected += lines.substr(y * 302, 300);
  expected += std::string(300, '\xff');
  EXPECT_TRUE(same_bytes(page_samples(out.bytes, 1, &ok), expected));
  EXPECT_TRUE(ok);
  EXPECT_EQ(page_samples(out.bytes, 2, &ok), std::string(4 * 38, '\0'));
  EXPECT_TRUE(ok);
  EXPECT_TRUE(same_bytes(page_samples(out.bytes, 3, &ok), expected.substr(0, 2 * 300)));
  EXPECT_TRUE(ok);
}

TEST(PsRaster, PagesItCannotDescribeAndARefusingSinkStopIt) {
  // On the heap for its size; freed however the test ends.
  const std::unique_ptr<PsWriter> owned = std::make_unique<PsWriter>();
  PsWriter* writer = owned.get();
  Collected out;
  ASSERT_TRUE(psBeginDocument(writer, collect, &out, ""));
  PsPage page;
  page.width = 10;
  page.height = 10000;
  page.bytes_per_line = 30;
  page.bits_per_color = 8;
  page.colors = 3;
  page.x_dpi = page.y_dpi = 72;
  const struct {
    const char* name;
    void (*change)(PsPage*);
  } bad[] = {{"no lines", [](PsPage* p) { p->height = 0; }},
             {"two colours", [](PsPage* p) { p->colors = 2; }},
             {"16 bits", [](PsPage* p) { p->bits_per_color = 16; }},
             {"1-bit colour", [](PsPage* p) { p->bits_per_color = 1; }},
             {"short lines", [](PsPage* p) { p->bytes_per_line = 29; }},
             {"no resolution", [](PsPage* p) { p->x_dpi = 0; }}};
  for (const auto& c : bad) {
    SCOPED_TRACE(c.name);
    PsPage changed = page;
    c.change(&changed);
    EXPECT_FALSE(psBeginPage(writer, changed));
  }
  EXPECT_TRUE(psBeginPage(writer, page));
  // The sink refuses from the next block on: every call fails from then on.
  out.refuse_after = out.bytes.size();
  const std::string line = pseudo_random_bytes(30, 5);
  bool written = true;
  for (int i = 0; i < 10000 && written; i++) {
    written = psWriteLine(writer, reinterpret_cast<const unsigned char*>(line.data()));
  }
  EXPECT_FALSE(psEndPage(writer));
  EXPECT_FALSE(psEndDocument(writer));
}

}  // namespace
