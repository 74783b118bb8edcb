// The Printer Application as a server for a test, and an IPP client of its printers.
#include "support/app_server.h"

#include <arpa/inet.h>
#include <crypt.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/cupsd.h"
#include "support/text.h"

namespace {

constexpr int kPollMs = 50;
constexpr int kIppTimeoutMs = 30000;

bool port_answers(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

bool socket_answers(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr.sun_path)) {
    close(fd);
    return false;
  }
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const bool ok = connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

std::string tail_of(const std::string& text, size_t max) {
  return text.size() <= max ? text : "..." + text.substr(text.size() - max);
}

struct HttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};
struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

// A connection to the server of a printer URI.
Http connect_to(const std::string& uri) {
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof(scheme), user, sizeof(user),
                      host, sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK) {
    return nullptr;
  }
  return Http(httpConnect2(host, port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, kIppTimeoutMs,
                           nullptr));
}

Ipp new_request(ipp_op_t op, const std::string& uri) {
  Ipp request(ippNewRequest(op));
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               "zorvtest");
  return request;
}

std::string values_of(ipp_attribute_t* attr) {
  if (attr == nullptr) return "";
  char text[8192];
  ippAttributeString(attr, text, sizeof(text));
  return text;
}

IppAnswer answer_of(ipp_t* response) {
  IppAnswer answer;
  answer.status = cupsLastError();
  answer.message = cupsLastErrorString();
  if (response != nullptr) {
    ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
    if (id != nullptr) answer.job_id = ippGetInteger(id, 0);
  }
  return answer;
}

// GET resource, or POST form, on http; the body, the HTTP status into *status.
std::string exchange(http_t* http, const std::string& host, const std::string& resource,
                     int* status, const std::string& form, const std::string& credentials = "") {
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_HOST, host.c_str());
  if (!credentials.empty()) {
    char encoded[1024];
    httpEncode64_2(encoded, sizeof(encoded), credentials.data(), static_cast<int>(credentials.size()));
    httpSetField(http, HTTP_FIELD_AUTHORIZATION, ("Basic " + std::string(encoded)).c_str());
  }
  http_status_t answer = HTTP_STATUS_ERROR;
  bool sent = false;
  if (form.empty()) {
    sent = httpGet(http, resource.c_str()) == 0;
  } else {
    httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/x-www-form-urlencoded");
    httpSetLength(http, form.size());
    sent = httpPost(http, resource.c_str()) == 0 &&
           httpWrite2(http, form.data(), form.size()) == static_cast<ssize_t>(form.size());
  }
  if (sent) {
    while ((answer = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
    }
  }
  *status = static_cast<int>(answer);
  std::string body;
  char buffer[8192];
  ssize_t n;
  while ((n = httpRead2(http, buffer, sizeof(buffer))) > 0) {
    body.append(buffer, static_cast<size_t>(n));
  }
  return body;
}

}  // namespace

AppServer::AppServer(std::string program) : program_(std::move(program)) {
  // Every user may enter the server's directory, as every user may enter /run: the server must
  // keep its socket from them itself.
  chmod(dir_.path().c_str(), 0755);
}

AppServer::~AppServer() {
  stop();
  if (::testing::Test::HasFailure()) {
    fprintf(stderr, "%s: keeping %s\n", program_.c_str(), dir_.path().c_str());
    dir_.keep();
  }
}

std::vector<std::string> AppServer::environment() const {
  std::vector<std::string> env = {"SNAP_COMMON=" + dir_.path(), "TMPDIR=" + dir_.path()};
  env.insert(env.end(), extra_environment_.begin(), extra_environment_.end());
  return env;
}

bool AppServer::start(const std::string& ppd_dir, const std::vector<std::string>& options,
                      const std::vector<TestUser>& users) {
  ppd_dir_ = ppd_dir;
  options_ = options;
  port_ = free_loopback_port();
  launcher_.clear();
  if (!users.empty()) {
    std::string passwd = read_file("/etc/passwd");
    std::string group = read_file("/etc/group");
    std::string shadow = read_file("/etc/shadow");
    std::string admins;
    int id = 64100;
    for (const TestUser& user : users) {
      // crypt_rn rather than crypt_r, which the sanitizers' runtime intercepts without
      // finding libxcrypt's own.
      struct crypt_data data = {};
      const char* hash = crypt_rn(user.password.c_str(), "$6$zorvtest$", &data, sizeof(data));
      if (hash == nullptr || hash[0] == '*') return false;
      const std::string number = std::to_string(id++);
      passwd += user.name + ":x:" + number + ":" + number + "::/nonexistent:/usr/sbin/nologin\n";
      group += user.name + ":x:" + number + ":\n";
      shadow += user.name + ":" + hash + ":19000:0:99999:7:::\n";
      if (user.admin) admins += (admins.empty() ? "" : ",") + user.name;
    }
    group += std::string(kTestAdminGroup) + ":x:64199:" + admins + "\n";
    if (!write_file(dir_.file("passwd"), passwd) || !write_file(dir_.file("group"), group) ||
        !write_file(dir_.file("shadow"), shadow)) {
      return false;
    }
    launcher_ = {system_program("unshare"), "--mount", "--", "/bin/sh", "-c",
                 "for f in passwd group shadow; do mount --bind \"$0/$f\" /etc/$f || exit 1; "
                 "done; exec \"$@\"",
                 dir_.path()};
    options_.push_back(std::string("admin-group=") + kTestAdminGroup);
  }
  return launch();
}

bool AppServer::restart() {
  stop();
  return launch();
}

bool AppServer::launch() {
  std::vector<std::string> args = {program_, "server",
                                   "-o",     "server-port=" + std::to_string(port_),
                                   "-o",     "log-file=" + dir_.file("log"),
                                   "-o",     "log-level=debug",
                                   "-o",     "spool-directory=" + dir_.file("spool"),
                                   "-o",     "state-file=" + dir_.file("state"),
                                   "-o",     "ppd-directories=" + ppd_dir_};
  for (const std::string& option : options_) {
    args.push_back("-o");
    args.push_back(option);
  }
  args.insert(args.begin(), launcher_.begin(), launcher_.end());
  if (!process_.start(args[0], args, environment(), dir_.file("output"))) {
    failure_ = process_.error();
    return false;
  }
  // A sub-command that finds no server socket starts a server of its own: the socket must be
  // there before the first one runs.
  for (int waited = 0; waited < kReadyTimeoutMs; waited += kPollMs) {
    if (port_answers(port_) && socket_answers(socket_path())) return true;
    if (!process_.running()) break;
    sleep_ms(kPollMs);
  }
  failure_ = program_ + " did not answer on port " + std::to_string(port_) + "; output:\n" +
             tail_of(read_file(dir_.file("output")), 2000) + "\nlog:\n" + tail_of(log_text(), 3000);
  return false;
}

std::string AppServer::printer_uri(const std::string& printer) const {
  return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print/" + printer;
}

std::string AppServer::web_url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string AppServer::socket_path() const {
  return dir_.file(program_.substr(program_.rfind('/') + 1) + ".sock");
}

std::string AppServer::admin_page(const std::string& path, int* status,
                                  const std::string& form) const {
  *status = 0;
  Http http(httpConnect2(socket_path().c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1,
                         kIppTimeoutMs, nullptr));
  return http == nullptr ? "" : exchange(http.get(), "localhost", path, status, form);
}

ProgramResult AppServer::run(const std::vector<std::string>& args, int timeout_seconds,
                             int uid) const {
  ProgramRun run;
  run.timeout_seconds = timeout_seconds;
  run.path = program_;
  run.args = {program_};
  run.args.insert(run.args.end(), args.begin(), args.end());
  run.env = with_settings(filter_environment(), environment());
  run.uid = uid;
  if (uid >= 0) run.env = with_settings(run.env, {"TMPDIR=/tmp"});
  return run_program(run);
}

bool AppServer::add_printer(const std::string& name, const std::string& driver,
                            const std::string& device_uri) {
  ProgramResult r = run({"add", "-d", name, "-m", driver, "-v", device_uri});
  if (r.exited && r.status == 0) return true;
  failure_ =
      "add " + name + " (" + r.describe() + "): " + r.err + "\nlog:\n" + tail_of(log_text(), 3000);
  return false;
}

IppAnswer ipp_print_job(const std::string& printer_uri, const std::string& format,
                        const std::string& document, const JobAttributes& attributes) {
  Http http = connect_to(printer_uri);
  if (http == nullptr) return {};
  Ipp request = new_request(IPP_OP_PRINT_JOB, printer_uri);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
               format.c_str());
  // The operation attribute first: IPP groups come in order.
  for (const std::string& attribute : attributes) {
    if (attribute.rfind("ipp-attribute-fidelity=", 0) == 0) {
      ippAddBoolean(request.get(), IPP_TAG_OPERATION, "ipp-attribute-fidelity",
                    attribute == "ipp-attribute-fidelity=true");
    }
  }
  for (const std::string& attribute : attributes) {
    const size_t equals = attribute.find('=');
    const std::string name = attribute.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : attribute.substr(equals + 1);
    if (name == "ipp-attribute-fidelity") {
      continue;
    } else if (name == "copies") {
      ippAddInteger(request.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, name.c_str(), atoi(value.c_str()));
    } else if (name == "media-source") {
      Ipp media(ippNew());
      ippAddString(media.get(), IPP_TAG_ZERO, IPP_TAG_KEYWORD, name.c_str(), nullptr,
                   value.c_str());
      ippAddCollection(request.get(), IPP_TAG_JOB, "media-col", media.get());
    } else {
      ippAddString(request.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, name.c_str(), nullptr,
                   value.c_str());
    }
  }
  TempDir dir;
  const std::string path = dir.file("document");
  if (!write_file(path, document)) return {};
  Ipp response(cupsDoFileRequest(http.get(), request.release(), "/ipp/print", path.c_str()));
  return answer_of(response.get());
}

IppAnswer ipp_cancel_job(const std::string& printer_uri, int job_id) {
  Http http = connect_to(printer_uri);
  if (http == nullptr) return {};
  Ipp request = new_request(IPP_OP_CANCEL_JOB, printer_uri);
  ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  Ipp response(cupsDoRequest(http.get(), request.release(), "/ipp/print"));
  return answer_of(response.get());
}

JobStatus ipp_job_status(const std::string& printer_uri, int job_id) {
  JobStatus status;
  Http http = connect_to(printer_uri);
  if (http == nullptr) return status;
  Ipp request = new_request(IPP_OP_GET_JOB_ATTRIBUTES, printer_uri);
  ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  Ipp response(cupsDoRequest(http.get(), request.release(), "/ipp/print"));
  if (response == nullptr) return status;
  ipp_attribute_t* state = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
  if (state != nullptr) status.state = static_cast<ipp_jstate_t>(ippGetInteger(state, 0));
  status.reasons = values_of(ippFindAttribute(response.get(), "job-state-reasons", IPP_TAG_ZERO));
  status.message = values_of(ippFindAttribute(response.get(), "job-state-message", IPP_TAG_ZERO));
  ipp_attribute_t* done =
      ippFindAttribute(response.get(), "job-impressions-completed", IPP_TAG_INTEGER);
  if (done != nullptr) status.impressions_completed = ippGetInteger(done, 0);
  return status;
}

JobStatus ipp_wait_job_end(const std::string& printer_uri, int job_id, int timeout_ms) {
  JobStatus status = ipp_job_status(printer_uri, job_id);
  for (int waited = 0; waited < timeout_ms && status.state < IPP_JSTATE_CANCELED; waited += 100) {
    sleep_ms(100);
    status = ipp_job_status(printer_uri, job_id);
  }
  return status;
}

std::string ipp_printer_attribute(const std::string& printer_uri, const std::string& name) {
  Http http = connect_to(printer_uri);
  if (http == nullptr) return "";
  Ipp request = new_request(IPP_OP_GET_PRINTER_ATTRIBUTES, printer_uri);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               name.c_str());
  Ipp response(cupsDoRequest(http.get(), request.release(), "/ipp/print"));
  return values_of(ippFindAttribute(response.get(), name.c_str(), IPP_TAG_ZERO));
}

std::string pwg_raster_page(const std::string& media, const std::string& type, int dpi,
                            uint32_t seed) {
  return pwg_raster_claiming(media, type, dpi, seed, 0, 0, -1);
}

std::string pwg_raster_claiming(const std::string& media, const std::string& type, int dpi,
                                uint32_t seed, unsigned width, unsigned height, int lines) {
  TempDir dir;
  const std::string path = dir.file("page.pwg");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return "";
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
  cups_page_header2_t header;
  if (raster == nullptr ||
      !cupsRasterInitPWGHeader(&header, pwgMediaForPWG(media.c_str()), type.c_str(), dpi, dpi,
                               "one-sided", nullptr)) {
    if (raster != nullptr) cupsRasterClose(raster);
    close(fd);
    return "";
  }
  if (width > 0) {
    header.cupsWidth = width;
    header.cupsHeight = height;
    header.cupsBytesPerLine = (width * header.cupsBitsPerPixel + 7) / 8;
  }
  if (!cupsRasterWriteHeader2(raster, &header)) {
    if (raster != nullptr) cupsRasterClose(raster);
    close(fd);
    return "";
  }
  const bool black = type.rfind("black", 0) == 0;
  std::string line = seed != 0 ? pseudo_random_bytes(header.cupsBytesPerLine, seed)
                               : std::string(header.cupsBytesPerLine, black ? '\0' : '\xff');
  const unsigned count = lines >= 0 ? static_cast<unsigned>(lines) : header.cupsHeight;
  for (unsigned y = 0; y < count; y++) {
    cupsRasterWritePixels(raster, reinterpret_cast<unsigned char*>(line.data()),
                          header.cupsBytesPerLine);
  }
  cupsRasterClose(raster);
  close(fd);
  return read_file(path);
}

std::string http_page(const std::string& url, int* status, const std::string& form,
                      const std::string& credentials) {
  *status = 0;
  char scheme[32], user[64], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, url.c_str(), scheme, sizeof(scheme), user, sizeof(user),
                      host, sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK) {
    return "";
  }
  Http http = connect_to(url);
  if (http == nullptr) return "";
  return exchange(http.get(), host, resource, status, form, credentials);
}

std::string session_field(const std::string& page) {
  const std::string marker = "name=\"session\" value=\"";
  const size_t at = page.find(marker);
  if (at == std::string::npos) return "session=";
  const size_t start = at + marker.size();
  return "session=" + page.substr(start, page.find('"', start) - start);
}

std::string fitted_sample_ppd() {
  std::string text = read_file(SOURCE_DIR "/samples/zorv-sample.ppd");
  replace_text(text, "*DefaultDuplexer: False\n", "*DefaultDuplexer: True\n");
  replace_text(text, "*DefaultOptionalTray: None\n", "*DefaultOptionalTray: PF500\n");
  replace_text(text, "*DefaultStapler: False\n", "*DefaultStapler: True\n");
  return text;
}

std::string ghostscript_errors(const std::string& document) {
  ProgramRun run;
  run.path = system_program("gs");
  run.args = {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=nullpage", "-"};
  run.env = filter_environment();
  run.input = document;
  ProgramResult result = run_program(run);
  if (result.exited && result.status == 0 && result.out.find("Error") == std::string::npos &&
      result.err.find("Error") == std::string::npos) {
    return "";
  }
  return result.describe() + ": " + result.out + result.err;
}
