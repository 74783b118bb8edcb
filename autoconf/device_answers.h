// What the device query found, as the filter passes it on: every record's messages to the
// scheduler on standard error, and the choice each answer picked marked in the PPD handle,
// where the rewrite of the PPD's defaults and the queue's defaults find them.
#ifndef ZORV_AUTOCONF_DEVICE_ANSWERS_H
#define ZORV_AUTOCONF_DEVICE_ANSWERS_H

#include <cups/ppd.h>

#include "probe/probe.h"

// Writes the device's notes and every record's messages, in option order, to standard error
// and marks each record's choice. Records the query never reached (a cancel) say nothing.
void reportDeviceAnswers(ppd_file_t* ppd, const ProbeResult& result, const char* device_uri);

// The same for one record with its notes.
void reportOptionAnswer(ppd_file_t* ppd, const ProbeRecord& record, const ProbeNote* notes);

#endif  // ZORV_AUTOCONF_DEVICE_ANSWERS_H
