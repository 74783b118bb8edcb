// The one lock around every call into the SNMP library: Net-SNMP is not built reentrant here,
// and its state is process-wide (the MIB tree, the request counter, the statistics, the USM
// user list). Taken only around the calls, never across a wait, so that the rounds of several
// threads interleave.
#ifndef ZORV_PROBE_SNMP_LOCK_H
#define ZORV_PROBE_SNMP_LOCK_H

class SnmpLibraryLock {
 public:
  SnmpLibraryLock();
  ~SnmpLibraryLock();
  SnmpLibraryLock(const SnmpLibraryLock&) = delete;
  SnmpLibraryLock& operator=(const SnmpLibraryLock&) = delete;
};

#endif  // ZORV_PROBE_SNMP_LOCK_H
