/* Converts an rt file, or standard input, to standard output through a
 * libzorbu stream, with a 4 KiB output buffer: the smallest complete use of
 * the library. Build: cc stream.c $(pkg-config --cflags --libs zorbu) */
#include <stdio.h>
#include <zorbu.h>

/* Writes what out holds and empties it; returns 0 when writing failed. */
static int drain(zorbu_out *out) {
  size_t written = fwrite(out->dst, 1, out->pos, stdout);
  int ok = written == out->pos;
  out->pos = 0;
  return ok;
}

int main(int argc, char **argv) {
  FILE *file = argc > 1 ? fopen(argv[1], "rb") : stdin;
  if (file == NULL) {
    perror(argv[1]);
    return 2;
  }
  zorbu_stream *stream = zorbu_create();
  if (stream == NULL) {
    fprintf(stderr, "error: %s\n", zorbu_result_text(ZORBU_OUT_OF_MEMORY));
    return 2;
  }
  static char in_buf[1 << 16];
  char out_buf[4096];
  zorbu_out out = {out_buf, sizeof out_buf, 0};
  zorbu_result result = ZORBU_DONE;
  int ok = 1;
  size_t n;
  while (ok && result == ZORBU_DONE &&
         (n = fread(in_buf, 1, sizeof in_buf, file)) > 0) {
    zorbu_in in = {in_buf, n, 0};
    do {
      result = zorbu_push(stream, &in, &out);
      ok = drain(&out);
    } while (ok && result == ZORBU_OUTPUT_FULL);
  }
  if (ok && result == ZORBU_DONE) {
    do {
      result = zorbu_finish(stream, &out);
      ok = drain(&out);
    } while (ok && result == ZORBU_OUTPUT_FULL);
  }
  zorbu_free(stream);
  if (ferror(file) || !ok || fflush(stdout) != 0) {
    /* The program's own words for these, which the library has none for. */
    fputs(ferror(file) ? "error: cannot read input\n"
                       : "error: cannot write output\n",
          stderr);
    return 1;
  }
  if (result != ZORBU_DONE) {
    fprintf(stderr, "error: %s\n", zorbu_result_text(result));
    return 1;
  }
  return 0;
}
