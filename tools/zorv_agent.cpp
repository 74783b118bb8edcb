// zorv_agent: the scripted SNMP agent as a program, for the benchmarks.
// Usage: zorv_agent ADDRESS scripted|slow [DELAY_MS]
// Serves UDP ADDRESS:161 until SIGTERM (see tests/support/snmp_agent.h for the two modes).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/snmp_agent.h"
#include "tools/stop_signal.h"

int main(int argc, char* argv[]) {
  if (argc < 3 || argc > 4 || (strcmp(argv[2], "scripted") != 0 && strcmp(argv[2], "slow") != 0)) {
    fprintf(stderr, "usage: zorv_agent ADDRESS scripted|slow [DELAY_MS]\n");
    return 1;
  }
  stop_on_signals();
  const auto mode =
      strcmp(argv[2], "slow") == 0 ? ScriptedAgent::Mode::kSlow : ScriptedAgent::Mode::kScripted;
  ScriptedAgent agent(argv[1], mode, argc == 4 ? atoi(argv[3]) : 0);
  if (!agent.bound()) {
    fprintf(stderr, "zorv_agent: cannot bind %s:161\n", argv[1]);
    return 1;
  }
  while (!stop_requested()) pause();
  return 0;
}
