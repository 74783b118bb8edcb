// The scripted agent: just enough BER to read a GET (or an SNMPv3 message's ids) and to write
// its answers.
#include "support/snmp_agent.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "support/bytes.h"

const std::string kHostileAnswer =
    "x\nPPD: DefaultX=Y cupsFilter2=\"a b 0 /bin/sh\"\r\nSTATE: +media-empty-error\n"
    "ATTR: marker-levels=1\x1b\\ \x9b" "31m\xc2\x9d" "0;title\x07";

namespace {

using Clock = std::chrono::steady_clock;

std::string ber(unsigned char tag, const std::string& contents) {
  std::string out(1, static_cast<char>(tag));
  size_t n = contents.size();
  if (n < 0x80) {
    out += static_cast<char>(n);
  } else if (n < 0x100) {
    out += '\x81';
    out += static_cast<char>(n);
  } else {
    out += '\x82';
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(n & 0xFF);
  }
  return out + contents;
}

// Reads one element at pos; false when the bytes do not hold one.
bool read_ber(const std::string& in, size_t& pos, unsigned char& tag, std::string& contents) {
  if (pos + 2 > in.size()) return false;
  tag = static_cast<unsigned char>(in[pos]);
  size_t n = static_cast<unsigned char>(in[pos + 1]);
  pos += 2;
  if (n & 0x80) {
    size_t bytes = n & 0x7F;
    if (bytes == 0 || bytes > 2 || pos + bytes > in.size()) return false;
    n = 0;
    for (size_t i = 0; i < bytes; i++) n = n << 8 | static_cast<unsigned char>(in[pos++]);
  }
  if (pos + n > in.size()) return false;
  contents = in.substr(pos, n);
  pos += n;
  return true;
}

// The request id and the OID of an SNMPv1 GET.
bool parse_get(const std::string& packet, std::string& request_id, std::string& oid) {
  unsigned char tag;
  std::string message, field, pdu;
  size_t pos = 0;
  if (!read_ber(packet, pos, tag, message) || tag != 0x30) return false;
  pos = 0;
  if (!read_ber(message, pos, tag, field) || !read_ber(message, pos, tag, field) ||
      !read_ber(message, pos, tag, pdu) || tag != 0xA0) {
    return false;
  }
  pos = 0;
  std::string list, bind;
  if (!read_ber(pdu, pos, tag, request_id) || !read_ber(pdu, pos, tag, field) ||
      !read_ber(pdu, pos, tag, field) || !read_ber(pdu, pos, tag, list)) {
    return false;
  }
  pos = 0;
  if (!read_ber(list, pos, tag, bind)) return false;
  pos = 0;
  return read_ber(bind, pos, tag, oid) && tag == 0x06;
}

// The value of a BER INTEGER's contents, and the shortest contents of a value.
long integer_value(const std::string& contents) {
  long value = contents.empty() || (contents[0] & 0x80) == 0 ? 0 : -1;
  for (char c : contents) value = value * 256 + static_cast<unsigned char>(c);
  return value;
}

std::string integer_contents(long value) {
  std::string bytes;
  for (int i = 3; i >= 0; --i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  while (bytes.size() > 1 && ((bytes[0] == 0 && (bytes[1] & 0x80) == 0) ||
                              (bytes[0] == '\xff' && (bytes[1] & 0x80) != 0))) {
    bytes.erase(0, 1);
  }
  return bytes;
}

// The message id of an SNMPv3 message, the request id of its PDU ("" when the PDU is
// encrypted) and the engine its security parameters name ("" in a discovery).
bool parse_v3(const std::string& packet, std::string& message_id, std::string& request_id,
              std::string& engine) {
  unsigned char tag;
  std::string message, version, header, security, scoped, field, pdu;
  size_t pos = 0;
  if (!read_ber(packet, pos, tag, message) || tag != 0x30) return false;
  pos = 0;
  if (!read_ber(message, pos, tag, version) || version != "\x03" ||
      !read_ber(message, pos, tag, header) || !read_ber(message, pos, tag, security) ||
      !read_ber(message, pos, tag, scoped)) {
    return false;
  }
  const bool plain = tag == 0x30;
  pos = 0;
  if (!read_ber(header, pos, tag, message_id)) return false;
  engine.clear();
  std::string parameters;
  pos = 0;
  if (read_ber(security, pos, tag, parameters)) {
    pos = 0;
    read_ber(parameters, pos, tag, engine);
  }
  request_id.clear();
  pos = 0;
  if (plain && read_ber(scoped, pos, tag, field) && read_ber(scoped, pos, tag, field) &&
      read_ber(scoped, pos, tag, pdu)) {
    pos = 0;
    read_ber(pdu, pos, tag, request_id);
  }
  return true;
}

// The usmStats counters a report names (usmStatsUnknownEngineIDs, usmStatsDecryptionErrors).
constexpr char kUnknownEngineIds = '\x04';
constexpr char kDecryptionErrors = '\x06';

// An unauthenticated report of the usmStats counter from engine.
std::string usm_report(const std::string& message_id, const std::string& request_id,
                       const std::string& engine, char counter_number) {
  const std::string counter =
      std::string("\x2b\x06\x01\x06\x03\x0f\x01\x01", 8) + counter_number + '\0';
  const std::string zero(1, '\0');
  const std::string header = ber(0x30, ber(0x02, message_id) + ber(0x02, integer_contents(1472)) +
                                           ber(0x04, zero) + ber(0x02, "\x03"));
  const std::string security =
      ber(0x04, ber(0x30, ber(0x04, engine) + ber(0x02, "\x01") + ber(0x02, "\x01") +
                              ber(0x04, "") + ber(0x04, "") + ber(0x04, "")));
  const std::string pdu =
      ber(0xA8, ber(0x02, request_id.empty() ? zero : request_id) + ber(0x02, zero) +
                    ber(0x02, zero) + ber(0x30, ber(0x30, ber(0x06, counter) + ber(0x41, "\x07"))));
  return ber(0x30, ber(0x02, "\x03") + header + security +
                       ber(0x30, ber(0x04, engine) + ber(0x04, "") + pdu));
}

std::string get_response(const std::string& request_id, int error_status, const std::string& oid,
                         const std::string& value) {
  std::string bind = ber(0x30, ber(0x06, oid) + value);
  std::string pdu = ber(0x02, request_id) + ber(0x02, std::string(1, char(error_status))) +
                    ber(0x02, std::string(1, char(error_status != 0 ? 1 : 0))) + ber(0x30, bind);
  return ber(0x30, ber(0x02, std::string(1, '\0')) + ber(0x04, "mirelo") + ber(0xA2, pdu));
}

int bind_udp(const std::string& address, int port = 161) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

int bind_udp6(const in6_addr& address) {
  int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(161);
  a.sin6_addr = address;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// The loopback address after address: 127.0.0.77 gives 127.0.0.78.
std::string next_address(const std::string& address) {
  in_addr a{};
  inet_pton(AF_INET, address.c_str(), &a);
  a.s_addr = htonl(ntohl(a.s_addr) + 1);
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &a, text, sizeof(text));
}

// The numbers of a BER OBJECT IDENTIFIER's contents; empty for contents that are not one.
std::vector<unsigned long> oid_numbers(const std::string& contents) {
  std::vector<unsigned long> numbers;
  unsigned long value = 0;
  for (size_t i = 0; i < contents.size(); ++i) {
    const auto byte = static_cast<unsigned char>(contents[i]);
    value = value << 7 | (byte & 0x7F);
    if ((byte & 0x80) != 0) continue;
    if (numbers.empty()) {
      numbers.push_back(value < 80 ? value / 40 : 2);
      numbers.push_back(value < 80 ? value % 40 : value - 80);
    } else {
      numbers.push_back(value);
    }
    value = 0;
  }
  return numbers;
}

std::string oid_contents(const std::vector<unsigned long>& numbers) {
  std::string bytes;
  for (size_t i = 0; i < numbers.size(); ++i) {
    unsigned long value = numbers[i];
    if (i == 0) {
      value = 40 * numbers[0] + (numbers.size() > 1 ? numbers[1] : 0);
      ++i;
    }
    std::string piece(1, static_cast<char>(value & 0x7F));
    for (value >>= 7; value > 0; value >>= 7) {
      piece.insert(piece.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    }
    bytes += piece;
  }
  return bytes;
}

// A GET, GETNEXT or GETBULK of SNMPv1 or v2c: its version, PDU tag, community, request id,
// GETBULK's repetitions, and every variable's name.
struct Request {
  std::string version;
  unsigned char command = 0;
  std::string community;
  std::string request_id;
  long repetitions = 0;
  std::vector<std::vector<unsigned long>> names;
};

bool parse_request(const std::string& packet, Request& request) {
  unsigned char tag;
  std::string message, field, pdu, list, bind, name;
  size_t pos = 0;
  if (!read_ber(packet, pos, tag, message) || tag != 0x30) return false;
  pos = 0;
  unsigned char& command = request.command;
  if (!read_ber(message, pos, tag, request.version) ||
      !read_ber(message, pos, tag, request.community) || !read_ber(message, pos, command, pdu) ||
      (command != 0xA0 && command != 0xA1 && command != 0xA5)) {
    return false;
  }
  pos = 0;
  std::string repetitions;
  if (!read_ber(pdu, pos, tag, request.request_id) || !read_ber(pdu, pos, tag, field) ||
      !read_ber(pdu, pos, tag, repetitions) || !read_ber(pdu, pos, tag, list)) {
    return false;
  }
  request.repetitions = command == 0xA5 ? integer_value(repetitions) : 1;
  auto& names = request.names;
  for (pos = 0; pos < list.size();) {
    if (!read_ber(list, pos, tag, bind)) return false;
    size_t inner = 0;
    if (!read_ber(bind, inner, tag, name) || tag != 0x06) return false;
    names.push_back(oid_numbers(name));
  }
  return true;
}

// The response to request with the variables binds.
std::string response_to(const Request& request, long status, long error_index,
                        const std::string& binds) {
  const std::string pdu = ber(0x02, request.request_id) + ber(0x02, integer_contents(status)) +
                          ber(0x02, integer_contents(error_index)) + ber(0x30, binds);
  return ber(0x30, ber(0x02, request.version) + ber(0x04, request.community) + ber(0xA2, pdu));
}

// The answer a neighbour forges to a walk's request: every walk ends at once (endOfMibView).
std::string forged_walk_end(const std::string& packet) {
  Request request;
  if (!parse_request(packet, request)) return "";
  std::string binds;
  for (const std::vector<unsigned long>& name : request.names) {
    binds += ber(0x30, ber(0x06, oid_contents(name)) + ber(0x82, ""));
  }
  return response_to(request, 0, 0, binds);
}

// An answer to go out at a given time, from a given socket.
struct Outgoing {
  Clock::time_point due;
  int fd;
  std::string bytes;
  sockaddr_in peer;
};

}  // namespace

AgentValue agent_integer(long value) {
  return {0x02, integer_contents(value)};
}

AgentValue agent_text(const std::string& text) {
  return {0x04, text};
}

std::vector<unsigned long> agent_oid(const std::string& dotted) {
  std::vector<unsigned long> numbers;
  size_t pos = 0;
  while (pos < dotted.size()) {
    if (dotted[pos] == '.') {
      ++pos;
      continue;
    }
    size_t end = 0;
    numbers.push_back(std::stoul(dotted.substr(pos), &end));
    pos += end;
  }
  return numbers;
}

void ScriptedAgent::set_objects(AgentObjects objects) {
  std::lock_guard<std::mutex> lock(ids_mutex_);
  objects_ = std::move(objects);
}

void ScriptedAgent::set_walk(Walk walk) {
  std::lock_guard<std::mutex> lock(ids_mutex_);
  walk_ = walk;
}

// The answer of the table mode to one request, "" for none. SNMPv2c answers past the last
// object with endOfMibView, SNMPv1 with noSuchName; a GETBULK repeats every name's GETNEXT.
std::string ScriptedAgent::table_answer(const std::string& packet) {
  Request request;
  if (!parse_request(packet, request)) return "";
  std::lock_guard<std::mutex> lock(ids_mutex_);
  request_ids_.push_back(integer_value(request.request_id));
  const bool v1 = request.version == std::string(1, '\0');
  std::vector<std::vector<unsigned long>> names = request.names;
  std::string binds;
  long error_index = 0;
  for (long repetition = 0; repetition < request.repetitions && repetition < 64; ++repetition) {
    for (size_t i = 0; i < names.size(); ++i) {
      std::vector<unsigned long>& name = names[i];
      const AgentValue* value = nullptr;
      auto found = objects_.end();
      if (request.command == 0xA0) {
        found = objects_.find(name);
      } else if (walk_ == Walk::kForward) {
        found = objects_.upper_bound(name);
      } else if (walk_ == Walk::kSameObject) {
        found = objects_.find(name);
        if (found == objects_.end()) found = objects_.begin();
      } else {
        found = objects_.lower_bound(name);
        if (found != objects_.begin()) --found;
      }
      if (found != objects_.end()) {
        name = found->first;
        value = &found->second;
      } else if (v1 && error_index == 0) {
        error_index = static_cast<long>(i) + 1;
      }
      const std::string none = v1 ? ber(0x05, "") : ber(0x82, "");
      binds += ber(0x30, ber(0x06, oid_contents(name)) +
                             (value != nullptr ? ber(value->tag, value->contents) : none));
    }
  }
  return response_to(request, error_index != 0 ? 2 : 0, error_index, binds);
}

ScriptedAgent::ScriptedAgent(const std::string& address, Mode mode, int delay_ms)
    : mode_(mode), delay_ms_(delay_ms) {
  fd_ = bind_udp(address);
  if (mode_ == Mode::kTable) {
    in6_addr neighbour{};
    inet_pton(AF_INET6, kNeighbourIpv6, &neighbour);
    fd6_ = bind_udp6(in6addr_loopback);
    neighbour6_fd_ = bind_udp6(neighbour);
  }
  if (mode_ == Mode::kScripted) {
    elsewhere_fd_ = bind_udp(next_address(address));
    other_port_fd_ = bind_udp(address, 0);
  }
  if (fd_ < 0 || (mode_ == Mode::kScripted && (elsewhere_fd_ < 0 || other_port_fd_ < 0))) return;
  bound_ = true;
  thread_ = std::thread([this] { serve(); });
}

ScriptedAgent::~ScriptedAgent() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) close(fd_);
  if (fd6_ >= 0) close(fd6_);
  if (neighbour6_fd_ >= 0) close(neighbour6_fd_);
  if (elsewhere_fd_ >= 0) close(elsewhere_fd_);
  if (other_port_fd_ >= 0) close(other_port_fd_);
}

void ScriptedAgent::serve() {
  std::vector<Outgoing> queue;
  while (!stop_) {
    // Send what is due, then wait for a request or the next due answer (at most 50 ms, so
    // that a stop is seen soon).
    const Clock::time_point now = Clock::now();
    int wait_ms = 50;
    for (size_t i = 0; i < queue.size();) {
      if (queue[i].due <= now) {
        sendto(queue[i].fd, queue[i].bytes.data(), queue[i].bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(&queue[i].peer), sizeof(queue[i].peer));
        queue.erase(queue.begin() + static_cast<long>(i));
        continue;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(queue[i].due - now).count();
      if (left < wait_ms) wait_ms = static_cast<int>(left);
      ++i;
    }
    pollfd p[2] = {{fd_, POLLIN, 0}, {fd6_, POLLIN, 0}};
    if (poll(p, fd6_ >= 0 ? 2 : 1, wait_ms) <= 0) continue;
    char buffer[2048];
    // The table mode over IPv6 (SNMPv2c, as a client asks an IPv6 address): answered at once.
    if (fd6_ >= 0 && (p[1].revents & POLLIN) != 0) {
      sockaddr_in6 peer6{};
      socklen_t len6 = sizeof(peer6);
      const ssize_t got =
          recvfrom(fd6_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&peer6), &len6);
      const std::string packet(buffer, got > 0 ? static_cast<size_t>(got) : 0);
      const std::string answer = got > 0 ? table_answer(packet) : "";
      if (!answer.empty()) {
        requests_++;
        // The neighbour's forgery comes first: only the printer's source address keeps it out.
        const std::string forged = forged_walk_end(packet);
        sendto(neighbour6_fd_, forged.data(), forged.size(), 0,
               reinterpret_cast<const sockaddr*>(&peer6), len6);
        sendto(fd6_, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&peer6),
               len6);
      }
    }
    if ((p[0].revents & POLLIN) == 0) continue;
    sockaddr_in peer{};
    socklen_t len = sizeof(peer);
    ssize_t n = recvfrom(fd_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&peer), &len);
    if (n <= 0) continue;
    std::string packet(buffer, static_cast<size_t>(n));
    std::string request_id, oid;
    if (mode_ == Mode::kV3Reports || mode_ == Mode::kV3Silent ||
        mode_ == Mode::kV3DecryptionErrors) {
      std::string message_id, engine;
      if (!parse_v3(packet, message_id, request_id, engine)) continue;
      const int number = ++requests_;
      if (!request_id.empty()) {
        std::lock_guard<std::mutex> lock(ids_mutex_);
        request_ids_.push_back(integer_value(request_id));
      }
      if (mode_ == Mode::kV3Silent) continue;
      if (mode_ == Mode::kV3DecryptionErrors) {
        const std::string report =
            usm_report(message_id, request_id, "\x80\x00\x1f\x88\x04engine",
                       engine.empty() ? kUnknownEngineIds : kDecryptionErrors);
        sendto(fd_, report.data(), report.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
               sizeof(peer));
        continue;
      }
      for (const std::string& garbage :
           {pseudo_random_bytes(97), std::string(), packet.substr(0, packet.size() / 2)}) {
        sendto(fd_, garbage.data(), garbage.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
               sizeof(peer));
      }
      const std::string report =
          usm_report(message_id, request_id, "\x80\x00\x1f\x88\x04engine-" + std::to_string(number),
                     kUnknownEngineIds);
      sendto(fd_, report.data(), report.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
             sizeof(peer));
      continue;
    }
    if (mode_ == Mode::kTable) {
      const std::string answer = table_answer(packet);
      if (answer.empty()) continue;
      requests_++;
      queue.push_back({Clock::now() + std::chrono::milliseconds(delay_ms_), fd_, answer, peer});
      continue;
    }
    if (!parse_get(packet, request_id, oid)) continue;
    requests_++;
    {
      std::lock_guard<std::mutex> lock(ids_mutex_);
      request_ids_.push_back(integer_value(request_id));
    }
    auto answer = [&](int delay, const std::string& bytes, int from = -1) {
      queue.push_back(
          {Clock::now() + std::chrono::milliseconds(delay), from < 0 ? fd_ : from, bytes, peer});
    };
    if (mode_ == Mode::kSlow || mode_ == Mode::kQuiet) {
      answer(delay_ms_, get_response(request_id, 0, oid, ber(0x02, std::string(1, '\1'))));
      // Quiet: every request puts off all waiting answers.
      if (mode_ == Mode::kQuiet) {
        for (Outgoing& waiting : queue) waiting.due = queue.back().due;
      }
      if (static_cast<int>(queue.size()) > most_waiting_) {
        most_waiting_ = static_cast<int>(queue.size());
      }
      continue;
    }

    answer(0, pseudo_random_bytes(97));
    answer(0, "");
    const std::string fixed_id = get_response(std::string("\x12\x34\x56\x78", 4), 0, oid, "");
    answer(0, fixed_id.substr(0, fixed_id.size() / 2));
    std::string other_id = request_id;
    other_id.back() = static_cast<char>(other_id.back() ^ 0x55);
    answer(0, get_response(other_id, 0, oid, ber(0x04, "wrong request")));

    std::string opaque;
    for (int i = 0; i < 300; i++) opaque += static_cast<char>(i);
    auto text = [&](const std::string& value) {
      return get_response(request_id, 0, oid, ber(0x04, value));
    };
    switch (oid.back()) {
      case 1:
        answer(0, get_response(request_id, 0, oid, ber(0x44, opaque)));
        break;
      case 2:
        answer(0, text(std::string("abc\0", 4) + std::string(250, '\xff')));
        break;
      case 3:
        answer(0, get_response(request_id, 2, oid, ber(0x05, "")));
        break;
      case 5:
        answer(0, text(kHostileAnswer));
        break;
      case 6:
        answer(500, text("slow"));
        break;
      case 7:
        answer(0, text("first"));
        answer(0, text("second"));
        break;
      case 8:
        answer(3500, text("late"));
        break;
      case 9:
        answer(0, text("elsewhere"), elsewhere_fd_);
        break;
      case 10:
        answer(0, text("other port"), other_port_fd_);
        break;
      case 11: {
        const long id = integer_value(request_id);
        for (long guess = id - 1500; guess <= id + 1500; ++guess) {
          const std::string forged =
              get_response(integer_contents(guess), 0, oid, ber(0x04, "forged"));
          for (int from : {elsewhere_fd_, other_port_fd_}) {
            sendto(from, forged.data(), forged.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
                   sizeof(peer));
            forged_++;
          }
        }
        break;
      }
      default:
        break;
    }
  }
}

std::vector<long> ScriptedAgent::request_ids() const {
  std::lock_guard<std::mutex> lock(ids_mutex_);
  return request_ids_;
}
