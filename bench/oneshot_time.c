/* Times zorbu_convert on one file in memory: prints the mean microseconds a
 * call over ROUNDS calls. Usage: oneshot_time FILE ROUNDS */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "zorbu.h"

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  FILE *f = fopen(argv[1], "rb");
  if (f == NULL) return 2;
  static char in[1 << 22];
  size_t size = fread(in, 1, sizeof in, f);
  fclose(f);
  long rounds = atol(argv[2]);
  size_t cap = zorbu_bound(size), written = 0;
  char *out = malloc(cap);
  struct timespec a, b;
  clock_gettime(CLOCK_MONOTONIC, &a);
  for (long i = 0; i < rounds; ++i) {
    if (zorbu_convert(in, size, out, cap, &written) != ZORBU_DONE) return 1;
  }
  clock_gettime(CLOCK_MONOTONIC, &b);
  printf("%.2f\n", ((double)(b.tv_sec - a.tv_sec) * 1e9 +
                    (double)(b.tv_nsec - a.tv_nsec)) /
                       (double)rounds / 1e3);
  free(out);
  return 0;
}
