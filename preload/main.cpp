// main() of zorvpreload: the colour-profile block ahead of the job, then the job unchanged.
#include "common/copy.h"
#include "common/filter_main.h"

int main(int argc, char* argv[]) {
  if (filter_begin("zorvpreload", argc, argv) != 0) return 1;
  return copy_job(0, 1);
}
