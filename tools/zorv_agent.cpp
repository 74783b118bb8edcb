// zorv_agent: the scripted SNMP agent as a program, for the benchmarks.
// Usage: zorv_agent ADDRESS scripted|slow [DELAY_MS]
// Serves UDP ADDRESS:161 until SIGTERM (see tests/support/snmp_agent.h for the two modes).
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/snmp_agent.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void on_stop(int) {
  g_stop = 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3 || argc > 4 || (strcmp(argv[2], "scripted") != 0 && strcmp(argv[2], "slow") != 0)) {
    fprintf(stderr, "usage: zorv_agent ADDRESS scripted|slow [DELAY_MS]\n");
    return 1;
  }
  signal(SIGTERM, on_stop);
  signal(SIGINT, on_stop);
  const auto mode =
      strcmp(argv[2], "slow") == 0 ? ScriptedAgent::Mode::kSlow : ScriptedAgent::Mode::kScripted;
  ScriptedAgent agent(argv[1], mode, argc == 4 ? atoi(argv[3]) : 0);
  if (!agent.bound()) {
    fprintf(stderr, "zorv_agent: cannot bind %s:161\n", argv[1]);
    return 1;
  }
  while (!g_stop) pause();
  return 0;
}
