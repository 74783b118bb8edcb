# shellcheck shell=bash
# Helpers of the benchmarks, sourced by bench/*.sh: the clock and the median of their figures.

# now_ns: the wall clock in nanoseconds.
now_ns() { date +%s%N; }

# median: the median of the numbers on standard input, one a line (the lower of the two
# middle ones for an even count).
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
