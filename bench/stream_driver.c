/* What the JavaScript package's streams do, written in C, for bench/js.sh
 * to set them against: FILE, held in memory, handed over in writes of
 * ZORBU_WRITE bytes (1 MiB unless set), each copied into the stream's
 * input buffer 64 KiB at a time, pushed into a 512 KiB room, and each
 * piece of output copied into a fresh malloc block, as a chunk of its own,
 * then freed. With ZORBU_KERNELS_ALONE set, the input is pushed where it
 * lies in 1 MiB pushes and nothing is copied out: the kernels alone.
 * Prints the timed part's wall and user+sys seconds and the input's size.
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

enum { kChunk = 1 << 16, kRoom = 512 * 1024 };

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
  size_t write =
      write_text != NULL ? (size_t)atol(write_text) : (size_t)1 << 20;
  const int alone = getenv("ZORBU_KERNELS_ALONE") != NULL;
  if (alone) {
    copy_out = 0;
    write = (size_t)1 << 20;
  }
  zorbu_stream *stream = zorbu_create();
  if (stream == NULL || write == 0) return 2;
  if (zorbu_set_kernels(stream, argv[1]) != ZORBU_DONE) return 77;
  const double wall = seconds_now(), cpu = cpu_seconds();
  zorbu_result result = ZORBU_DONE;
  for (size_t at = 0; at < size && result == ZORBU_DONE; at += write) {
    const size_t n = size - at < write ? size - at : write;
    if (alone) {
      zorbu_in in = {input + at, n, 0};
      result = drained(stream, &in);
      continue;
    }
    for (size_t piece = 0; piece < n && result == ZORBU_DONE; piece += kChunk) {
      const size_t m = n - piece < kChunk ? n - piece : kChunk;
      memcpy(chunk, input + at + piece, m);
      zorbu_in in = {chunk, m, 0};
      result = drained(stream, &in);
    }
  }
  if (result != ZORBU_DONE || drained(stream, NULL) != ZORBU_DONE) return 1;
  printf("{\"wall\": %.6f, \"cpu\": %.6f, \"bytes\": %zu}\n",
         seconds_now() - wall, cpu_seconds() - cpu, size);
  zorbu_free(stream);
  return 0;
}
