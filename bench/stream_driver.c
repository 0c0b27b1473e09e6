/* A libzorbu stream on kernel SET over FILE, mapped into memory, into a
 * 512 KiB room reused between calls, ZORBU_ROUNDS times (once unless set):
 *   - as the JavaScript package's streams do it, for bench/js.sh to set
 *     them against: writes of ZORBU_WRITE bytes (1 MiB unless set), each
 *     copied into the stream's input buffer 1 MiB at a time, as the
 *     package takes them, and each piece of output copied into a fresh
 *     malloc block, then freed;
 *   - with ZORBU_PUSH=N, as a binding with its input in memory: pushes of
 *     N bytes where the input lies, nothing copied out: the kernels and
 *     the stream alone, for bench/compare.py to time two builds by.
 * Prints the timed part's wall and user+sys seconds and the bytes taken.
 * Usage: stream_driver SET FILE   (exits 77 where SET does not run) */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include "zorbu.h"

enum { kChunk = 1 << 20, kRoom = 512 * 1024 };

static double seconds_now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static double cpu_seconds(void) {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return (double)u.ru_utime.tv_sec + (double)u.ru_utime.tv_usec / 1e6 +
         (double)u.ru_stime.tv_sec + (double)u.ru_stime.tv_usec / 1e6;
}

static char room[kRoom];
static char chunk[kChunk];
static int copy_out = 1;

/* Pushes in (or finishes, when in is NULL) until no more room is needed,
 * handing each piece of output on as the package does. */
static zorbu_result drained(zorbu_stream *stream, zorbu_in *in) {
  zorbu_result result;
  do {
    zorbu_out out = {room, sizeof room, 0};
    result =
        in != NULL ? zorbu_push(stream, in, &out) : zorbu_finish(stream, &out);
    if (copy_out && out.pos > 0) {
      char *piece = malloc(out.pos);
      if (piece == NULL) return ZORBU_OUT_OF_MEMORY;
      memcpy(piece, room, out.pos);
      /* What a reader would do with its chunk, so the copy is not dropped. */
      __asm__ volatile("" : : "r"(piece) : "memory");
      free(piece);
    }
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
  const char *write_text = getenv("ZORBU_WRITE");
  const char *push_text = getenv("ZORBU_PUSH");
  const char *rounds_text = getenv("ZORBU_ROUNDS");
  const int in_place = push_text != NULL;
  const size_t write = in_place             ? (size_t)atol(push_text)
                       : write_text != NULL ? (size_t)atol(write_text)
                                            : (size_t)1 << 20;
  const long rounds = rounds_text != NULL ? atol(rounds_text) : 1;
  copy_out = !in_place;
  zorbu_stream *stream = zorbu_create();
  if (stream == NULL || write == 0 || rounds < 1) return 2;
  if (zorbu_set_kernels(stream, argv[1]) != ZORBU_DONE) return 77;
  const double wall = seconds_now(), cpu = cpu_seconds();
  for (long round = 0; round < rounds; ++round) {
    zorbu_result result = ZORBU_DONE;
    for (size_t at = 0; at < size && result == ZORBU_DONE; at += write) {
      const size_t n = size - at < write ? size - at : write;
      if (in_place) {
        zorbu_in in = {input + at, n, 0};
        result = drained(stream, &in);
        continue;
      }
      for (size_t piece = 0; piece < n && result == ZORBU_DONE;
           piece += kChunk) {
        const size_t m = n - piece < kChunk ? n - piece : kChunk;
        memcpy(chunk, input + at + piece, m);
        zorbu_in in = {chunk, m, 0};
        result = drained(stream, &in);
      }
    }
    if (result != ZORBU_DONE || drained(stream, NULL) != ZORBU_DONE) return 1;
    zorbu_reset(stream);
  }
  printf("{\"wall\": %.6f, \"cpu\": %.6f, \"bytes\": %zu}\n",
         seconds_now() - wall, cpu_seconds() - cpu, size * (size_t)rounds);
  zorbu_free(stream);
  return 0;
}
