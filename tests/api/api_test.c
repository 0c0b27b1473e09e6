/* The C interface, from C: every golden case and random files through a
 * stream with random push sizes and random output room, on every kernel set
 * this processor has, against the one-shot result and the program's output;
 * the one-shot conversion into exactly enough room and one byte less, with
 * no allocation; kernel sets chosen by name; the rules after a run ends;
 * misuse; two streams on two threads at once.
 * Usage: api_test CASES_DIR, or api_test --threads for the threads alone */
#include <dirent.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zorbu.h"

static int failures;
static int checks;

/* Counts the allocations of the whole process while counting is set, the
 * library's included, where the build asks for it: against a shared C
 * library, whose malloc a program may stand in front of. Sanitizers bring
 * an allocator of their own, which this would fight, so there the count is
 * not taken. */
#if !defined(ZORBU_COUNT_ALLOCATIONS) || defined(__SANITIZE_ADDRESS__) || \
    defined(__SANITIZE_THREAD__)
#define COUNTS_ALLOCATIONS 0
#else
#define COUNTS_ALLOCATIONS 1
static int counting;
static long allocations;
extern void *__libc_malloc(size_t size);
extern void *__libc_calloc(size_t count, size_t size);
extern void *__libc_realloc(void *p, size_t size);
void *malloc(size_t size) {
  allocations += counting;
  return __libc_malloc(size);
}
void *calloc(size_t count, size_t size) {
  allocations += counting;
  return __libc_calloc(count, size);
}
void *realloc(void *p, size_t size) {
  allocations += counting;
  return __libc_realloc(p, size);
}
#endif

#define CHECK(cond, ...)                                   \
  do {                                                     \
    ++checks;                                              \
    if (!(cond)) {                                         \
      ++failures;                                          \
      fprintf(stderr, "FAIL %s:%d: ", __FILE__, __LINE__); \
      fprintf(stderr, __VA_ARGS__);                        \
      fputc('\n', stderr);                                 \
    }                                                      \
  } while (0)

typedef struct bytes {
  char *data;
  size_t size;
} bytes;

static uint64_t rng_state = 88172645463325252u;
static uint64_t next_random(void) {
  rng_state ^= rng_state << 13;
  rng_state ^= rng_state >> 7;
  rng_state ^= rng_state << 17;
  return rng_state;
}

/* Mostly small sizes, where the stream stops and resumes most, and now and
 * then one of up to 1 MiB. */
static size_t random_size(void) {
  switch (next_random() % 4) {
    case 0:
      return 1;
    case 1:
      return 1 + next_random() % 16;
    case 2:
      return 1 + next_random() % 4096;
    default:
      return 1 + next_random() % (1u << 20);
  }
}

static bytes read_file(const char *path) {
  bytes b = {NULL, 0};
  FILE *f = fopen(path, "rb");
  if (f == NULL) return b;
  size_t cap = 4096;
  b.data = malloc(cap);
  size_t n;
  while ((n = fread(b.data + b.size, 1, cap - b.size, f)) > 0) {
    b.size += n;
    if (b.size == cap) b.data = realloc(b.data, cap *= 2);
  }
  fclose(f);
  return b;
}

/* Runs input through a stream in random pieces into random room; returns
 * the result of the last call and the output in *out. */
static zorbu_result stream_convert(zorbu_stream *s, bytes input, bytes *out) {
  size_t cap = zorbu_bound(input.size) + 1;
  out->data = malloc(cap);
  out->size = 0;
  zorbu_in in = {input.data, 0, 0};
  zorbu_result r = ZORBU_DONE;
  while (in.pos < input.size) {
    size_t piece = random_size();
    in.size = in.pos + piece < input.size ? in.pos + piece : input.size;
    while (in.pos < in.size) {
      size_t room = random_size();
      if (room > cap - out->size) room = cap - out->size;
      zorbu_out o = {out->data + out->size, room, 0};
      r = zorbu_push(s, &in, &o);
      out->size += o.pos;
      if (r == ZORBU_INVALID || r == ZORBU_MISUSE) return r;
    }
  }
  do {
    size_t room = random_size();
    if (room > cap - out->size) room = cap - out->size;
    zorbu_out o = {out->data + out->size, room, 0};
    r = zorbu_finish(s, &o);
    out->size += o.pos;
  } while (r == ZORBU_OUTPUT_FULL);
  return r;
}

/* Every set of lib/simd/kernel_sets.txt, which kernel_sets_test.py holds
 * this list to; those that do not run here are passed over. */
static const char *const kSets[] = {"portable", "sse2", "avx2", "avx512",
                                    "neon",     "wasm"};

/* Returns a stream on the set named, or NULL when it does not run here. */
static zorbu_stream *stream_on(const char *set) {
  zorbu_stream *s = zorbu_create();
  if (s != NULL && zorbu_set_kernels(s, set) != ZORBU_DONE) {
    zorbu_free(s);
    return NULL;
  }
  return s;
}

/* The one-shot function into exactly the room its output takes, and into
 * one byte less: done, then short by one with all that fits written. An
 * invalid input writes nothing, whatever the room. */
static void check_exact_room(const char *name, bytes input, const bytes *want) {
  size_t room = want ? want->size : 64;
  char *dst = malloc(room + 1);
  size_t size = 12345;
#if COUNTS_ALLOCATIONS
  counting = 1;
  allocations = 0;
#endif
  zorbu_result r = zorbu_convert(input.data, input.size, dst, room, &size);
  const char *reason = zorbu_reason(input.data, input.size);
#if COUNTS_ALLOCATIONS
  counting = 0;
  CHECK(allocations == 0, "%s: one-shot allocated %ld times", name,
        allocations);
#endif
  CHECK((reason == NULL) == (want != NULL), "%s: reason %s", name,
        reason ? reason : "none");
  if (want == NULL) {
    CHECK(r == ZORBU_INVALID && size == 0, "%s: invalid gave %d, size %zu",
          name, r, size);
  } else {
    CHECK(r == ZORBU_DONE && size == want->size &&
              memcmp(dst, want->data, size) == 0,
          "%s: exact room gave %d, size %zu", name, r, size);
    if (room > 0) {
      size = 12345;
      r = zorbu_convert(input.data, input.size, dst, room - 1, &size);
      CHECK(r == ZORBU_OUTPUT_FULL && size == room - 1 &&
                memcmp(dst, want->data, size) == 0,
            "%s: one byte short gave %d, size %zu", name, r, size);
    }
  }
  free(dst);
}

/* Checks one input on every set: the stream gives want (or invalid when
 * want is NULL), as the one-shot function does. */
static void check_input(const char *name, bytes input, const bytes *want) {
  bytes one = {malloc(zorbu_bound(input.size)), 0};
  zorbu_result r1 = zorbu_convert(input.data, input.size, one.data,
                                  zorbu_bound(input.size), &one.size);
  CHECK(r1 == (want ? ZORBU_DONE : ZORBU_INVALID), "%s: one-shot gave %d", name,
        r1);
  if (want != NULL) {
    CHECK(one.size == want->size && memcmp(one.data, want->data, one.size) == 0,
          "%s: one-shot output differs", name);
  }
  check_exact_room(name, input, want);
  for (size_t i = 0; i < sizeof kSets / sizeof kSets[0]; ++i) {
    zorbu_stream *s = stream_on(kSets[i]);
    if (s == NULL) continue;
    CHECK(strcmp(zorbu_kernels(s), kSets[i]) == 0, "%s: kernels named %s", name,
          zorbu_kernels(s));
    for (int round = 0; round < 3; ++round) {
      bytes out;
      zorbu_result r = stream_convert(s, input, &out);
      CHECK(r == r1, "%s on %s: stream gave %d, one-shot %d", name, kSets[i], r,
            r1);
      if (r == ZORBU_DONE) {
        CHECK(out.size == one.size && memcmp(out.data, one.data, out.size) == 0,
              "%s on %s: stream output differs", name, kSets[i]);
      } else {
        CHECK(out.size == 0, "%s on %s: invalid input wrote %zu bytes", name,
              kSets[i], out.size);
      }
      CHECK(out.size <= zorbu_bound(input.size), "%s: over the bound", name);
      free(out.data);
      CHECK(zorbu_reset(s) == ZORBU_DONE, "reset");
    }
    zorbu_free(s);
  }
  free(one.data);
}

static void check_golden_cases(const char *dir) {
  DIR *d = opendir(dir);
  CHECK(d != NULL, "cannot open %s", dir);
  if (d == NULL) return;
  int cases = 0;
  struct dirent *e;
  char path[4096];
  while ((e = readdir(d)) != NULL) {
    size_t len = strlen(e->d_name);
    if (len < 4 || strcmp(e->d_name + len - 3, ".rt") != 0) continue;
    int stem = (int)(len - 3);
    snprintf(path, sizeof path, "%s/%.*s.rt", dir, stem, e->d_name);
    bytes input = read_file(path);
    snprintf(path, sizeof path, "%s/%.*s.out", dir, stem, e->d_name);
    bytes out = read_file(path);
    snprintf(path, sizeof path, "%s/%.*s.err", dir, stem, e->d_name);
    bytes err = read_file(path);
    /* The program's message for an invalid file is the library's text. */
    int invalid = err.size > 0;
    if (invalid) {
      char message[64];
      snprintf(message, sizeof message, "error: %s\n",
               zorbu_result_text(ZORBU_INVALID));
      CHECK(err.size == strlen(message) &&
                memcmp(err.data, message, err.size) == 0,
            "%s: the program says %.*s", e->d_name, (int)err.size, err.data);
    }
    check_input(e->d_name, input, invalid ? NULL : &out);
    free(input.data);
    free(out.data);
    free(err.data);
    ++cases;
  }
  closedir(d);
  CHECK(cases > 20, "only %d golden cases found in %s", cases, dir);
}

/* Random files from the pieces that matter, a few lines to many. */
static bytes random_file(int big) {
  static const char *const heads[] = {"<window color=\"navy\"><font>\n",
                                      "<window>\n", "<window><font>", "<b>\n"};
  static const char *const parts[] = {
      "<time begin=\"1\"/>",
      "<time>",
      "a",
      "<b>",
      "color=\"red\"",
      "\n",
      "\n",
      "<time begin=\"2\" />",
      "</time>",
      "color=",
      "<tt>",
      "<<<>>>",
      "<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<\n",
      "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"};
  size_t cap = 1 << 21;
  bytes b = {malloc(cap), 0};
  const char *head = heads[big ? 1 : next_random() % 4];
  memcpy(b.data, head, strlen(head));
  b.size = strlen(head);
  /* A big one crosses many of the stream's steps. */
  size_t count = big ? 20000 + next_random() % 40000 : next_random() % 200;
  for (size_t i = 0; i < count; ++i) {
    const char *p = parts[next_random() % (sizeof parts / sizeof parts[0])];
    size_t n = strlen(p);
    if (b.size + n > cap) break;
    memcpy(b.data + b.size, p, n);
    b.size += n;
  }
  return b;
}

static void check_random_files(void) {
  for (int i = 0; i < 60; ++i) {
    bytes input = random_file(i % 6 == 0);
    bytes want = {malloc(zorbu_bound(input.size)), 0};
    zorbu_result r = zorbu_convert(input.data, input.size, want.data,
                                   zorbu_bound(input.size), &want.size);
    char name[32];
    snprintf(name, sizeof name, "random file %d", i);
    check_input(name, input, r == ZORBU_DONE ? &want : NULL);
    free(input.data);
    free(want.data);
  }
}

/* Kernel sets are chosen before anything is pushed, from the names the
 * header lists; a set that does not run here leaves the stream as it was. */
static void check_kernel_choice(void) {
  char buf[64];
  zorbu_out out = {buf, sizeof buf, 0};
  zorbu_stream *s = zorbu_create();
  const char *widest = zorbu_kernels(s);
  CHECK(zorbu_set_kernels(s, "no such set") == ZORBU_UNSUPPORTED, "unknown");
  CHECK(zorbu_set_kernels(s, "") == ZORBU_UNSUPPORTED, "empty name");
  CHECK(strcmp(zorbu_kernels(s), widest) == 0, "unchanged by an unknown set");
  const char *last_here = NULL;
  for (size_t i = 0; i < sizeof kSets / sizeof kSets[0]; ++i) {
    zorbu_result r = zorbu_set_kernels(s, kSets[i]);
    CHECK(r == ZORBU_DONE || r == ZORBU_UNSUPPORTED, "%s gave %d", kSets[i], r);
    if (r == ZORBU_DONE) {
      last_here = kSets[i];
      CHECK(strcmp(zorbu_kernels(s), kSets[i]) == 0, "%s chosen", kSets[i]);
    }
  }
  /* kSets goes from narrow to wide: the widest that runs here is chosen. */
  CHECK(last_here != NULL && strcmp(widest, last_here) == 0,
        "create chose %s, not %s", widest, last_here ? last_here : "none");
  CHECK(zorbu_set_kernels(NULL, "portable") == ZORBU_MISUSE, "NULL stream");
  CHECK(zorbu_set_kernels(s, NULL) == ZORBU_MISUSE, "NULL name");
  /* A push of nothing counts as a push, and a finish too. */
  zorbu_in nothing = {"", 0, 0};
  CHECK(zorbu_push(s, &nothing, &out) == ZORBU_DONE, "push of nothing");
  CHECK(zorbu_set_kernels(s, "portable") == ZORBU_MISUSE, "after a push");
  CHECK(zorbu_reset(s) == ZORBU_DONE, "reset");
  CHECK(zorbu_set_kernels(s, "portable") == ZORBU_DONE, "after a reset");
  CHECK(zorbu_finish(s, &out) == ZORBU_INVALID, "finish of nothing");
  CHECK(zorbu_set_kernels(s, "portable") == ZORBU_MISUSE, "after a finish");
  zorbu_free(s);
}

/* Each rule an invalid input breaks has its words, the same from a stream
 * fed whole or a byte at a time and from the one-shot question; a valid
 * input, and a stream not yet found invalid, have none. */
static void check_reasons(void) {
  static const struct {
    const char *input;
    const char *reason;
  } kCases[] = {
      {"", "the file is empty"},
      {"no window\n<time/>a\n</window>\n", "no window tag on the first line"},
      {"<>\n<window>\n<time/>a\n</window>\n",
       "no window tag on the first line"},
      {"<window><font>\n</font>\n</window>\n", "no body lines"},
      {"<window>\n</window>\n", "no body lines"},
      /* Fewer lines than close the file: valid, with a count below zero. */
      {"<window><font>\n</window>\n", NULL},
      {"<window>\n<time/>a\n</window>\n", NULL},
  };
  char buf[256];
  for (size_t i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    const char *input = kCases[i].input;
    const char *want = kCases[i].reason;
    const size_t size = strlen(input);
    const char *got = zorbu_reason(input, size);
    CHECK(want ? got && strcmp(got, want) == 0 : got == NULL,
          "case %zu: zorbu_reason gave %s", i, got ? got : "NULL");
    const size_t pieces[] = {1, size + 1};
    for (size_t p = 0; p < 2; ++p) {
      const size_t piece = pieces[p];
      zorbu_stream *s = zorbu_create();
      CHECK(zorbu_invalid_reason(s) == NULL, "a new stream has a reason");
      zorbu_result r = ZORBU_DONE;
      for (size_t at = 0; at < size && r == ZORBU_DONE; at += piece) {
        zorbu_in in = {input + at, at + piece < size ? piece : size - at, 0};
        zorbu_out out = {buf, sizeof buf, 0};
        r = zorbu_push(s, &in, &out);
      }
      zorbu_out out = {buf, sizeof buf, 0};
      if (r == ZORBU_DONE) r = zorbu_finish(s, &out);
      got = zorbu_invalid_reason(s);
      CHECK(r == (want ? ZORBU_INVALID : ZORBU_DONE), "case %zu: result %d", i,
            r);
      CHECK(want ? got && strcmp(got, want) == 0 : got == NULL,
            "case %zu, pieces of %zu: the stream's reason is %s", i, piece,
            got ? got : "NULL");
      CHECK(zorbu_reset(s) == ZORBU_DONE && zorbu_invalid_reason(s) == NULL,
            "a reset stream keeps its reason");
      zorbu_free(s);
    }
  }
  CHECK(zorbu_invalid_reason(NULL) == NULL && zorbu_reason(NULL, 1) == NULL &&
            zorbu_reason(NULL, 0) != NULL,
        "NULL arguments");
}

/* How a run ends decides every call after it, until a reset. */
static void check_after_the_end(void) {
  char buf[64];
  zorbu_out out = {buf, sizeof buf, 0};
  zorbu_in more = {"<window>\n", 9, 0};
  zorbu_stream *s = zorbu_create();
  /* Invalid when known at the end: stays so for pushes and finishes. */
  zorbu_in short_file = {"<window>\n</window>\n", 19, 0};
  (void)zorbu_push(s, &short_file, &out);
  CHECK(zorbu_finish(s, &out) == ZORBU_INVALID, "invalid at the end");
  CHECK(zorbu_push(s, &more, &out) == ZORBU_INVALID, "push after invalid");
  CHECK(zorbu_finish(s, &out) == ZORBU_INVALID, "finish after invalid");
  CHECK(out.pos == 0, "invalid wrote %zu bytes", out.pos);
  /* Done: a push is misuse, and a finish writes nothing more. */
  CHECK(zorbu_reset(s) == ZORBU_DONE, "reset");
  zorbu_in file = {"<window>\n<time/>a\n</window>\n", 28, 0};
  CHECK(zorbu_push(s, &file, &out) == ZORBU_DONE, "push");
  CHECK(zorbu_finish(s, &out) == ZORBU_DONE, "finish");
  const size_t written = out.pos;
  more.pos = 0;
  CHECK(zorbu_push(s, &more, &out) == ZORBU_MISUSE && more.pos == 0,
        "push after done");
  CHECK(zorbu_finish(s, &out) == ZORBU_DONE && out.pos == written,
        "finish after done");
  zorbu_free(s);
}

static void check_misuse(void) {
  char buf[64];
  zorbu_in in = {"<window>\n", 9, 0};
  zorbu_out out = {buf, sizeof buf, 0};
  size_t size = 12345;
  CHECK(zorbu_push(NULL, &in, &out) == ZORBU_MISUSE, "push on NULL");
  CHECK(zorbu_finish(NULL, &out) == ZORBU_MISUSE, "finish on NULL");
  CHECK(zorbu_reset(NULL) == ZORBU_MISUSE, "reset of NULL");
  CHECK(zorbu_convert(NULL, 3, buf, sizeof buf, &size) == ZORBU_MISUSE &&
            size == 12345,
        "convert of NULL");
  CHECK(zorbu_convert("a", 1, NULL, 5, &size) == ZORBU_MISUSE && size == 12345,
        "convert into NULL");
  CHECK(zorbu_convert("a", 1, buf, sizeof buf, NULL) == ZORBU_MISUSE,
        "convert to no size");
  CHECK(zorbu_convert(NULL, 0, NULL, 0, &size) == ZORBU_INVALID && size == 0,
        "convert of nothing");
  CHECK(strcmp(zorbu_kernels(NULL), "") == 0, "kernels of NULL");
  zorbu_free(NULL);
  zorbu_stream *s = zorbu_create();
  CHECK(s != NULL, "create");
  CHECK(zorbu_push(s, NULL, &out) == ZORBU_MISUSE, "push of NULL input");
  CHECK(zorbu_push(s, &in, NULL) == ZORBU_MISUSE, "push to NULL output");
  zorbu_in past = {"x", 1, 2};
  CHECK(zorbu_push(s, &past, &out) == ZORBU_MISUSE,
        "input position past its size");
  /* No room is not misuse: output room needed, once output is due. */
  zorbu_out none = {buf, 0, 0};
  zorbu_in body = {"<window>\n<time/>a\n</window>\n", 28, 0};
  CHECK(zorbu_push(s, &body, &none) == ZORBU_OUTPUT_FULL, "no room for output");
  CHECK(zorbu_finish(s, &none) == ZORBU_OUTPUT_FULL, "no room at the end");
  CHECK(zorbu_finish(s, &out) == ZORBU_DONE, "finish with room");
  const char *want = "<window>\n<time>a\n</time></window>\n";
  CHECK(out.pos == strlen(want) && memcmp(buf, want, out.pos) == 0,
        "output after no room: %.*s", (int)out.pos, buf);
  CHECK(zorbu_reset(s) == ZORBU_DONE, "reset");
  in.pos = 0;
  out.pos = 0;
  zorbu_in bad = {"no window\n", 10, 0};
  CHECK(zorbu_push(s, &bad, &out) == ZORBU_INVALID, "invalid as soon as known");
  CHECK(zorbu_push(s, &in, &out) == ZORBU_INVALID, "invalid stays");
  CHECK(zorbu_finish(s, &out) == ZORBU_INVALID && out.pos == 0,
        "invalid writes nothing");
  zorbu_free(s);
  static const char *const texts[] = {"done",
                                      "output room needed",
                                      "invalid rt file",
                                      "out of memory",
                                      "misuse of the zorbu interface",
                                      "kernel set not available"};
  for (int r = ZORBU_DONE; r <= ZORBU_UNSUPPORTED; ++r) {
    CHECK(strcmp(zorbu_result_text((zorbu_result)r), texts[r]) == 0,
          "text of %d: %s", r, zorbu_result_text((zorbu_result)r));
  }
  CHECK(strcmp(zorbu_result_text((zorbu_result)99), "unknown result") == 0,
        "unknown");
  /* The bound as a constant, for a buffer sized at compile time. */
  static char fixed[ZORBU_BOUND(28)];
  CHECK(sizeof fixed == 3 * 28 + 64 && zorbu_bound(28) == sizeof fixed,
        "bound of 28");
  CHECK(zorbu_convert(body.src, body.size, fixed, sizeof fixed, &size) ==
                ZORBU_DONE &&
            size == strlen(want),
        "one-shot into the bound");
  CHECK(zorbu_bound((size_t)-1) == (size_t)-1 &&
            ZORBU_BOUND((size_t)-1 / 3) == (size_t)-1,
        "bound saturates");
  CHECK(zorbu_version_number() == ZORBU_VERSION_NUMBER &&
            strcmp(zorbu_version_string(), ZORBU_VERSION_STRING) == 0,
        "version");
}

typedef struct job {
  bytes input;
  bytes out;
  zorbu_result result;
  uint64_t seed;
} job;

static void *run_job(void *arg) {
  job *j = arg;
  zorbu_stream *s = zorbu_create();
  zorbu_in in = {j->input.data, j->input.size, 0};
  size_t cap = zorbu_bound(j->input.size);
  j->out.data = malloc(cap);
  zorbu_out out = {j->out.data, 0, 0};
  /* Fixed pieces, so that the thread uses no shared random state. */
  for (size_t step = 1 + j->seed % 4000; in.pos < in.size;) {
    in.size = in.pos + step < j->input.size ? in.pos + step : j->input.size;
    out.size = out.pos + step < cap ? out.pos + step : cap;
    j->result = zorbu_push(s, &in, &out);
  }
  out.size = cap;
  j->result = zorbu_finish(s, &out);
  j->out.size = out.pos;
  zorbu_free(s);
  return NULL;
}

static void check_threads(void) {
  job jobs[2];
  for (int i = 0; i < 2; ++i) {
    jobs[i].input = random_file(1);
    jobs[i].seed = next_random();
  }
  pthread_t threads[2];
  for (int i = 0; i < 2; ++i)
    pthread_create(&threads[i], NULL, run_job, &jobs[i]);
  for (int i = 0; i < 2; ++i) pthread_join(threads[i], NULL);
  for (int i = 0; i < 2; ++i) {
    job alone = jobs[i];
    run_job(&alone);
    CHECK(alone.result == jobs[i].result &&
              alone.out.size == jobs[i].out.size &&
              memcmp(alone.out.data, jobs[i].out.data, alone.out.size) == 0,
          "thread %d differs from a run alone", i);
    free(alone.out.data);
    free(jobs[i].out.data);
    free(jobs[i].input.data);
  }
}

int main(int argc, char **argv) {
  /* --threads: the streams on two threads alone, for ThreadSanitizer, under
   * which the rest would take long and find nothing more. */
  const int threads_only = argc == 2 && strcmp(argv[1], "--threads") == 0;
  if (argc != 2) {
    fprintf(stderr, "usage: api_test CASES_DIR | --threads\n");
    return 2;
  }
  if (!threads_only) {
    check_misuse();
    check_kernel_choice();
    check_after_the_end();
    check_reasons();
    check_golden_cases(argv[1]);
    check_random_files();
  }
  check_threads();
  printf("%d passed, %d failed\n", checks - failures, failures);
  return failures == 0 ? 0 : 1;
}
