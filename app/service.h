// The server as a service that only administrators administer: PAPPL 1.3.1 takes every client
// of its local socket for an administrator and makes the socket 0777, so the socket must live
// in a directory that only the server's user, root and the administrators' group may enter.
// Also: no core dump (the SNMPv3 passphrases of a form are on its heap), and a state file the
// server can read and write before it takes over its printers.
#ifndef ZORV_APP_SERVICE_H
#define ZORV_APP_SERVICE_H

#include <pappl/pappl.h>
#include <sys/types.h>

#include <cstddef>

// Where PAPPL puts root's socket when SNAP_COMMON does not say: root's server makes a directory
// of its own there (kRuntimeName), and PAPPL's socket path, which root's sub-commands look for,
// a link into it.
inline constexpr char kRootSocketDirectory[] = "/run";
inline constexpr char kRuntimeName[] = "zorv-printer-app";
// root's state file when none is given: the service's, so that a server started by hand has
// the service's printers (its directory made, as the service's unit makes it, when missing).
inline constexpr char kRootStateDirectory[] = "/var/lib/zorv-printer-app";
inline constexpr char kRootStateFile[] = "/var/lib/zorv-printer-app/zorv-printer-app.state";
// The name the socket has in its directory, whoever runs the server.
inline constexpr char kSocketName[] = "zorv-printer-app.sock";
inline constexpr size_t kSocketPathSize = 108;  // sockaddr_un's sun_path

// Where PAPPL's sub-commands of user uid look for the server, as PAPPL computes it: the
// temporary directory's "zorv-printer-appUID.sock" for a user, "$SNAP_COMMON/zorv-printer-app.sock"
// or /run's for root. False when it does not fit.
bool localSocketPath(uid_t uid, char* path, size_t size);

// A connection to the local server for a sub-command: the user's own server, else root's
// (PAPPL's sub-commands' way); null when neither answers, with the last path tried in
// socket_path. The caller closes it (httpClose).
http_t* connectLocalServer(char* socket_path, size_t size);

// What prepareServer leaves for the server.
struct ServerPlaces {
  char state_file[1024];               // in: -o state-file= or ""; out: root's default too
  char public_socket[kSocketPathSize];  // the socket's fixed name to listen on too, or ""
};

// Prepares the process for the "server" sub-command, before papplMainloop: no core dump; for
// root, the socket moved from SNAP_COMMON (else /run) into its kRuntimeName directory there
// (mode 0750, group admin_group), with PAPPL's own socket path a link to it; then the directory
// of the socket checked (only its owner may change it, and only its owner, root and
// admin_group may enter it), and the state files checked for reading and writing. False, with
// the reason on standard error, when the server must not start.
bool prepareServer(const char* admin_group, ServerPlaces* places);

// At the end of a server of root's: gives the state files it wrote (state_file and the
// accessories file beside it) to the owner of their directory when that is another user, the
// service's, whose unit gave it the directory; so that the service reads and writes them again
// after a server started by hand on its state. Nothing for a server that root does not run.
void handBackStateFiles(const char* state_file);

// Whether the directory of path lets no one but its owner (root or the server's user) change
// it, and no one but the owner, root and group admin_gid enter it; why says what is wrong.
bool socketDirectorySafe(const char* path, gid_t admin_gid, char* why, size_t why_size);

#endif  // ZORV_APP_SERVICE_H
