// main() of zorv-printer-app: the Printer Application of the zorv PPDs (see app/system.h).
#include "app/system.h"

int main(int argc, char* argv[]) {
  return runPrinterApp(argc, argv);
}
