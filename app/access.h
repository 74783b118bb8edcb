// Who may do what with the server, as with a CUPS queue: printing, listing jobs and reading
// attributes are open to every client; adding, changing and deleting printers, their
// accessories and SNMP settings, queries and shutting the server down are for the
// administrators: root and the members of the administrators' group. A client of the local
// socket is one of them by construction (PAPPL trusts every client of it, so the socket lives
// where only they may reach it: app/service.h); a client over TCP says who it is with HTTP
// Basic credentials, checked by PAM.
#ifndef ZORV_APP_ACCESS_H
#define ZORV_APP_ACCESS_H

#include <pappl/pappl.h>
#include <sys/types.h>

#include <cstddef>

inline constexpr size_t kGroupNameSize = 64;
inline constexpr size_t kServiceNameSize = 64;
inline constexpr char kDefaultAdminGroup[] = "lpadmin";
inline constexpr char kDefaultAuthService[] = "zorv-printer-app";

struct AccessSettings {
  char admin_group[kGroupNameSize];    // -o admin-group=GROUP
  char auth_service[kServiceNameSize];  // -o auth-service=NAME, the PAM service
};

// The settings of the command line, else the defaults.
void readAccessSettings(int argc, char* argv[], AccessSettings* settings);

// Sets the system's administrators' group and the check of its clients. settings must
// outlive the system.
void setUpAccess(pappl_system_t* system, const AccessSettings* settings);

// Whether user (authenticated already) administers the server: root, or a member of group
// admin_gid ((gid_t)-1: no such group, only root). HTTP_STATUS_CONTINUE when so, else
// HTTP_STATUS_FORBIDDEN.
http_status_t adminStatusOfUser(const char* user, gid_t admin_gid);

#endif  // ZORV_APP_ACCESS_H
