// Per-queue configuration update.
#include "autoconf/printer_config.h"

int updatePrinterConfiguration(const char*) { return 0; }
