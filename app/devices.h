// The devices a printer of the server may use, and the devices it can find. No device writes a
// local file: the server would write it with its own rights, wherever a client points it. A
// network device's host is a host (probe/device_uri.h), since the printer's SNMP credentials go
// there. DNS-SD discovery needs avahi-daemon, without which PAPPL 1.3.1 aborts the whole
// process on its first browse: the listings here leave DNS-SD out then and say why.
#ifndef ZORV_APP_DEVICES_H
#define ZORV_APP_DEVICES_H

#include <pappl/pappl.h>

#include <cstddef>

#include "app/ppd_catalog.h"

inline constexpr size_t kDeviceWordsSize = 256;
// What every try of deviceIdOfPrinter gave, in words.
inline constexpr size_t kTriesWordsSize = 1024;

// False, with why in words, for a device URI that no printer may have: a scheme that writes to
// the file system ("file:"), or a network URI (socket:, ipp:, http:, lpd:) whose host is not a
// host. DNS-SD URIs are refused too while DNS-SD is not available (PAPPL would abort on them).
bool deviceUriAllowed(const char* uri, char* why, size_t why_size);

// Whether DNS-SD browsing can run now: avahi-daemon answers on the system bus. why says what
// is missing when not ("Daemon not running").
bool dnssdAvailable(char* why, size_t why_size);

// The device types a listing may ask for now: types without DNS-SD when it is not available,
// with why in words.
pappl_devtype_t listableDeviceTypes(pappl_devtype_t types, char* why, size_t why_size);

// Checks the device URI of the "add" sub-command (-v) before PAPPL sends it: false, with the
// reason on standard error, for one that deviceUriAllowed refuses. (The server refuses it too,
// in words of PAPPL's that name the driver.)
bool addSubcommandUriAllowed(int argc, char* argv[]);

// The "devices" sub-command in place of PAPPL's: every device found, as PAPPL lists them (the
// URI, then with "-o verbose" its description and device ID indented), without DNS-SD when it
// is not available and a line on standard error saying so. With "-v DEVICE-URI" of a network
// printer: that printer alone, its device ID asked with our settings (deviceIdOfPrinter) and
// the driver it matches. Returns the exit status.
int listDevicesSubcommand(int argc, char* argv[], const DriverCatalog& catalog);

// The IEEE 1284 device ID of the printer of a network device URI, asked over SNMP at the PWG's
// object with the settings of every manufacturer of the catalog's drivers in turn (each
// settings file once: its community or its SNMPv3 settings; the default community last), until
// one answers: true with the ID in id and the settings that got it in words in source; false
// with what each try gave in why.
bool deviceIdOfPrinter(const DriverCatalog& catalog, const char* uri, char* id, size_t size,
                       char* source, size_t source_size, char* why, size_t why_size);

// "add ... -m auto -v NETWORK-URI": the driver is chosen here, by the device ID the printer
// gives with our settings, and put in place of "auto" (argv changed, pointing into catalog). A
// device ID that no driver matches is refused with the reason on standard error (false); when
// the printer gives none, "auto" stays and the server tries its own way.
bool chooseAutoDriver(int argc, char* argv[], const DriverCatalog& catalog);

#endif  // ZORV_APP_DEVICES_H
