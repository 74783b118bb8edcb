// Who may do what with the server.
#include "app/access.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>

#include "app/system.h"
#include "common/secret.h"
#include "log/escape.h"
#include "log/text.h"

namespace {

constexpr char kBasic[] = "Basic ";
constexpr size_t kCredentialsSize = 512;
constexpr size_t kUserBufferSize = 16384;
constexpr int kMaxGroups = 1024;

// "user:password" of a Basic header, cleared when it goes.
struct BasicCredentials {
  char text[kCredentialsSize];
};

struct PamAnswers {
  const char* user;
  const char* password;
};

// PAM's questions: the user's name, the password; anything else it says is not shown.
int converse(int count, const struct pam_message** messages, struct pam_response** responses,
             void* data) {
  if (count <= 0) return PAM_CONV_ERR;
  const PamAnswers* answers = static_cast<const PamAnswers*>(data);
  auto* replies = static_cast<struct pam_response*>(
      calloc(static_cast<size_t>(count), sizeof(struct pam_response)));
  if (replies == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; i++) {
    const char* answer = nullptr;
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_ON:
        answer = answers->user;
        break;
      case PAM_PROMPT_ECHO_OFF:
        answer = answers->password;
        break;
      case PAM_TEXT_INFO:
      case PAM_ERROR_MSG:
        continue;
      default:
        break;
    }
    replies[i].resp = answer != nullptr ? strdup(answer) : nullptr;
    if (replies[i].resp == nullptr) {
      for (int j = 0; j < i; j++) {
        if (replies[j].resp != nullptr) {
          explicit_bzero(replies[j].resp, strlen(replies[j].resp));
          free(replies[j].resp);
        }
      }
      free(replies);
      return answer == nullptr ? PAM_CONV_ERR : PAM_BUF_ERR;
    }
  }
  *responses = replies;
  return PAM_SUCCESS;
}

// Whether PAM's service takes user's password and account; why gets PAM's words when not.
bool pam_accepts(const char* service, const char* user, const char* password, const char* host,
                 char* why, size_t why_size) {
  PamAnswers answers = {user, password};
  const struct pam_conv conversation = {converse, &answers};
  pam_handle_t* pam = nullptr;
  int status = pam_start(service, user, &conversation, &pam);
  if (status == PAM_SUCCESS) status = pam_set_item(pam, PAM_RHOST, host);
  if (status == PAM_SUCCESS) status = pam_authenticate(pam, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(pam, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  copy_text(why, why_size, pam_strerror(pam, status));
  if (pam != nullptr) pam_end(pam, status);
  return status == PAM_SUCCESS;
}

// PAPPL asks this for every request that needs a group: the printer's print group for
// printing and reading (no printer here has one), the administrators' group for the rest.
http_status_t authorize(pappl_client_t* client, const char* group, gid_t gid, void* data) {
  if (group == nullptr) {
    // The owner of a job is who printed it, by the name the request gives, as PAPPL has it
    // without authentication: the job's own operations stay theirs, anyone else's need an
    // administrator.
    ipp_attribute_t* user = ippFindAttribute(papplClientGetRequest(client), "requesting-user-name",
                                             IPP_TAG_NAME);
    if (user != nullptr) papplClientSetUsername(client, ippGetString(user, 0, nullptr));
    return HTTP_STATUS_CONTINUE;
  }
  const AccessSettings* settings = static_cast<const AccessSettings*>(data);
  const char* header = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
  if (header == nullptr || strncmp(header, kBasic, sizeof(kBasic) - 1) != 0) {
    return HTTP_STATUS_UNAUTHORIZED;
  }
  Secret<BasicCredentials> credentials;
  if (credentials.get() == nullptr) return HTTP_STATUS_SERVER_ERROR;
  int length = static_cast<int>(sizeof(credentials->text));
  if (httpDecode64_2(credentials->text, &length, header + sizeof(kBasic) - 1) == nullptr ||
      length <= 0 || static_cast<size_t>(length) >= sizeof(credentials->text)) {
    return HTTP_STATUS_UNAUTHORIZED;
  }
  credentials->text[length] = '\0';
  char* password = strchr(credentials->text, ':');
  if (password == nullptr || password == credentials->text) return HTTP_STATUS_UNAUTHORIZED;
  *password++ = '\0';
  const char* user = credentials->text;
  char why[kServiceNameSize * 2];
  if (!pam_accepts(settings->auth_service, user, password, papplClientGetHostName(client), why,
                   sizeof(why))) {
    papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Authentication of '%s' failed: %s.",
                   ShownText(user).c_str(), why);
    return HTTP_STATUS_UNAUTHORIZED;
  }
  const http_status_t status = adminStatusOfUser(user, gid);
  if (status == HTTP_STATUS_CONTINUE) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Administrator '%s' authenticated.",
                   ShownText(user).c_str());
  } else {
    papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                   "'%s' is not root nor in the administrators' group '%s': refused.",
                   ShownText(user).c_str(), ShownText(group).c_str());
  }
  return status;
}

}  // namespace

void readAccessSettings(int argc, char* argv[], AccessSettings* settings) {
  if (!commandLineOption(argc, argv, "admin-group", settings->admin_group,
                         sizeof(settings->admin_group))) {
    copy_text(settings->admin_group, sizeof(settings->admin_group), kDefaultAdminGroup);
  }
  if (!commandLineOption(argc, argv, "auth-service", settings->auth_service,
                         sizeof(settings->auth_service))) {
    copy_text(settings->auth_service, sizeof(settings->auth_service), kDefaultAuthService);
  }
}

void setUpAccess(pappl_system_t* system, const AccessSettings* settings) {
  papplSystemSetAdminGroup(system, settings->admin_group);
  papplSystemSetAuthCallback(system, "Basic", authorize, const_cast<AccessSettings*>(settings));
}

http_status_t adminStatusOfUser(const char* user, gid_t admin_gid) {
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[kUserBufferSize];
  if (getpwnam_r(user, &entry, buffer, sizeof(buffer), &found) != 0 || found == nullptr) {
    return HTTP_STATUS_FORBIDDEN;
  }
  if (found->pw_uid == 0) return HTTP_STATUS_CONTINUE;
  if (admin_gid == static_cast<gid_t>(-1)) return HTTP_STATUS_FORBIDDEN;
  gid_t groups[kMaxGroups];
  int count = kMaxGroups;
  if (getgrouplist(user, found->pw_gid, groups, &count) < 0) return HTTP_STATUS_FORBIDDEN;
  for (int i = 0; i < count; i++) {
    if (groups[i] == admin_gid) return HTTP_STATUS_CONTINUE;
  }
  return HTTP_STATUS_FORBIDDEN;
}
