// Private link between the log and its hex dumps.
#ifndef ZORV_LOG_LOG_INTERNAL_H
#define ZORV_LOG_LOG_INTERNAL_H

#include <cstdio>

// The open log stream, or null when there is no log.
extern "C" FILE* log_stream_for_dump(void);

#endif  // ZORV_LOG_LOG_INTERNAL_H
