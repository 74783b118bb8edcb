// Network path of the option query.
#include "autoconf/snmp_query.h"

int snmpUpdateConfigOptions(ppd_file_t*, const char*) { return -1; }
