// Who administers the Printer Application: the user check after PAM, the directory of the
// local socket that only administrators may reach, and the device URIs no printer may have.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "app/access.h"
#include "app/devices.h"
#include "app/service.h"
#include "support/paths.h"

namespace {

TEST(AppAccess, RootAndTheAdministratorsGroupAdminister) {
  const struct passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const gid_t none = static_cast<gid_t>(-1);
  const struct {
    const char* user;
    gid_t group;
    http_status_t status;
  } table[] = {
      {"root", none, HTTP_STATUS_CONTINUE},
      {"root", nobody->pw_gid, HTTP_STATUS_CONTINUE},
      {"nobody", nobody->pw_gid, HTTP_STATUS_CONTINUE},  // its own group made the admins'
      {"nobody", 0, HTTP_STATUS_FORBIDDEN},
      {"nobody", none, HTTP_STATUS_FORBIDDEN},
      {"no-such-user-zorv", nobody->pw_gid, HTTP_STATUS_FORBIDDEN},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(std::string(row.user) + " " + std::to_string(static_cast<int>(row.group)));
    EXPECT_EQ(adminStatusOfUser(row.user, row.group), row.status);
  }
}

TEST(AppService, SocketDirectoryOnlyAdministratorsMayEnter) {
  REQUIRE_ROOT();
  const struct group* nogroup = getgrgid(getpwnam("nobody")->pw_gid);
  ASSERT_NE(nogroup, nullptr);
  const gid_t admins = 4242;
  const struct {
    mode_t mode;
    gid_t group;
    uid_t owner;
    const char* why;  // "" when safe
  } table[] = {
      {0700, 0, 0, ""},
      {0750, 0, 0, ""},
      {0750, admins, 0, ""},
      {0750, nogroup->gr_gid, 0, "the group "},
      {0755, 0, 0, "every user may enter "},
      {01777, 0, 0, "others may change "},
      {0770, admins, 0, "others may change "},
      {0700, 0, getpwnam("nobody")->pw_uid, "belongs to another user"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(std::to_string(row.mode) + " " + std::to_string(row.group));
    TempDir dir;
    ASSERT_EQ(chown(dir.path().c_str(), row.owner, row.group), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), row.mode), 0);
    char why[256];
    const bool safe = socketDirectorySafe(dir.file(kSocketName).c_str(), admins, why, sizeof(why));
    EXPECT_EQ(safe, row.why[0] == '\0') << why;
    EXPECT_NE(std::string(why).find(row.why), std::string::npos) << why;
  }
}

TEST(AppDevices, NoDeviceWritesFilesAndEveryHostIsAHost) {
  // The host's own rules, and their words, are the device URI parser's (snmp_query_test).
  const struct {
    const char* uri;
    const char* why;  // "" when allowed
  } table[] = {
      {"socket://192.0.2.10:9100", ""},
      {"socket://[fe80::1%25lo]:9100", ""},
      {"usb://Orvane/Laser%205100?serial=1", ""},
      {"file:///etc/passwd", "a file: device would write"},
      {"FILE:///etc/passwd", "a file: device would write"},
      {"file:/run/systemd/system/x.service", "a file: device would write"},
      {"socket://%5B%3A%3A1%5D%3A1161:9100", "the device URI is refused: its host is neither"},
      {"", "there is no device URI"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.uri);
    char why[kDeviceWordsSize];
    EXPECT_EQ(deviceUriAllowed(row.uri, why, sizeof(why)), row.why[0] == '\0') << why;
    EXPECT_EQ(std::string(why).rfind(row.why, 0), 0u) << why;
  }
}

}  // namespace
