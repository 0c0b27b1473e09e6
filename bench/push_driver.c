/* Converts FILE through a libzorbu stream on kernel SET, from memory, in
 * pushes of ZORBU_PUSH bytes (64 KiB unless set), into one 512 KiB room
 * reused between calls, ZORBU_ROUNDS times (4 unless set), and writes the
 * output of each round to standard output: what a binding does with input
 * it holds, for bench/compare.py to time. The file is mapped, not copied,
 * so that the time is the library's.
 * Usage: push_driver SET FILE   (exits 77 where SET does not run) */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "zorbu.h"

static char room[512 * 1024];

/* Runs call until it needs no more room; returns its last result, or
 * ZORBU_MISUSE when the output cannot be written. */
static zorbu_result drained(zorbu_stream *stream, zorbu_in *in) {
  zorbu_result result;
  do {
    zorbu_out out = {room, sizeof room, 0};
    result =
        in != NULL ? zorbu_push(stream, in, &out) : zorbu_finish(stream, &out);
    if (fwrite(room, 1, out.pos, stdout) != out.pos) return ZORBU_MISUSE;
  } while (result == ZORBU_OUTPUT_FULL);
  return result;
}

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  const int fd = open(argv[2], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0) return 2;
  const size_t size = (size_t)st.st_size;
  const char *input =
      mmap(NULL, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (input == MAP_FAILED) return 2;
  const char *push = getenv("ZORBU_PUSH");
  const char *rounds_text = getenv("ZORBU_ROUNDS");
  const size_t piece = push != NULL ? (size_t)atol(push) : (size_t)1 << 16;
  const long rounds = rounds_text != NULL ? atol(rounds_text) : 4;
  zorbu_stream *stream = zorbu_create();
  if (stream == NULL || piece == 0) return 2;
  if (zorbu_set_kernels(stream, argv[1]) != ZORBU_DONE) return 77;
  for (long round = 0; round < rounds; ++round) {
    zorbu_result result = ZORBU_DONE;
    for (size_t at = 0; at < size && result == ZORBU_DONE; at += piece) {
      zorbu_in in = {input + at, size - at < piece ? size - at : piece, 0};
      result = drained(stream, &in);
    }
    if (result != ZORBU_DONE || drained(stream, NULL) != ZORBU_DONE) return 1;
    zorbu_reset(stream);
  }
  zorbu_free(stream);
  return 0;
}
