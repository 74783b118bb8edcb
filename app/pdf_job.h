// PDF documents kept as vectors: the document converted to PostScript by poppler's pdftops,
// run as a confined child (app/converter.h) with limits on its time, memory and output, for
// the job's medium and the printer's PostScript level, then printed as a PostScript document
// is (profile block, option code, copies, pages). pdftops rather than Ghostscript's ps2write:
// it keeps text as text with the document's own fonts embedded and paths as paths, starts
// and runs faster on the documents clients send, scales each page to the medium asked for,
// and is what CUPS itself runs for PostScript printers; its licence (GPL) binds nothing here,
// since it runs as a program of its own.
#ifndef ZORV_APP_PDF_JOB_H
#define ZORV_APP_PDF_JOB_H

#include <pappl/pappl.h>

#include <cstddef>
#include <cstdint>

inline constexpr char kDefaultPdfConverter[] = "/usr/bin/pdftops";
inline constexpr int kDefaultConverterSeconds = 300;
inline constexpr uint64_t kConverterMemory = uint64_t{1} << 30;
// The converter's output may be this much, plus kConverterOutputFactor times the PDF's size.
inline constexpr uint64_t kConverterOutputBase = uint64_t{256} << 20;
inline constexpr uint64_t kConverterOutputFactor = 64;
inline constexpr size_t kConverterPathSize = 1024;

// How PDF documents are converted (-o pdf-converter=PATH, -o converter-timeout=SECONDS).
struct PdfSettings {
  char converter[kConverterPathSize];
  int seconds;
};

// True when the converter can be run, so that the server offers application/pdf.
bool pdfConverterFound(const PdfSettings& settings);

// The MIME filter of application/pdf; data is the server's PdfSettings.
bool printPdfDocument(pappl_job_t* job, pappl_device_t* device, void* data);

#endif  // ZORV_APP_PDF_JOB_H
