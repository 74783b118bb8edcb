// USB path of the option query.
#include "autoconf/usb_query.h"

int usbUpdateConfigOptions(ppd_file_t*, const char*) { return -1; }
