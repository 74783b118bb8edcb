// Per-queue configuration update: fetch the PPD, let the device mark its options, write the
// rewritten copy to /var/tmp/autoconf.
#ifndef ZORV_AUTOCONF_PRINTER_CONFIG_H
#define ZORV_AUTOCONF_PRINTER_CONFIG_H

#include <cups/ppd.h>

#include <cstddef>

#include "probe/probe.h"


// 0 when the sequence ran to its end, -1 when a PPD fetch failed.
int updatePrinterConfiguration(const char* queue);
// Reads DEVICE_URI and hands ppd to the SNMP or USB query; always 0.
int ppdUpdateConfigOptions(ppd_file_t* ppd);
// 0 unsupported, 1 USB, 2 network, by the URI's exact scheme.
int deviceConnectionType(const char* uri);
// Forms "/var/tmp/autoconf/<queue>.ppd" into target. False, with a level 1 log line, for a
// queue name with a slash (it would leave the directory) or one too long for size bytes.
bool ppd_target_path(const char* queue, char* target, size_t size);

#endif  // ZORV_AUTOCONF_PRINTER_CONFIG_H
