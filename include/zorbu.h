/* libzorbu: rewrites rt timed-text files in process, as the zorbu program
 * does: colour names become hex codes, each self-closing time tag opens an
 * element closed by "</time>", and brackets in timed text become "{{{" and
 * "}}}".
 *
 * A stream takes its input in pieces of any size and gives its output into
 * buffers of any size, one byte included; the bytes are the same for every
 * split. A stream's memory is allocated when it is made, and nothing else
 * is: no descriptor is read or written, nothing is printed, and nothing is
 * shared between streams, so separate streams may be used on separate
 * threads at once. One stream must not be used by two threads at once.
 *
 * From 1.0 on the interface only grows: what is here keeps its meaning, its
 * values and its bound. */
#ifndef ZORBU_H
#define ZORBU_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZORBU_VERSION_MAJOR 1
#define ZORBU_VERSION_MINOR 1
#define ZORBU_VERSION_PATCH 0
#define ZORBU_VERSION_NUMBER                                 \
  (ZORBU_VERSION_MAJOR * 10000 + ZORBU_VERSION_MINOR * 100 + \
   ZORBU_VERSION_PATCH)
/* The three numbers above are the one place the version is written; the
 * build, the packages and the manual pages take it from there. */
#define ZORBU_VERSION_TEXT_(n) #n
#define ZORBU_VERSION_TEXT(n) ZORBU_VERSION_TEXT_(n)
#define ZORBU_VERSION_STRING                                    \
  ZORBU_VERSION_TEXT(ZORBU_VERSION_MAJOR)                       \
  "." ZORBU_VERSION_TEXT(ZORBU_VERSION_MINOR) "." ZORBU_VERSION_TEXT( \
      ZORBU_VERSION_PATCH)

#if defined(ZORBU_BUILDING_LIBRARY)
#define ZORBU_API __attribute__((visibility("default")))
#else
#define ZORBU_API
#endif

typedef enum zorbu_result {
  ZORBU_DONE = 0,          /* the work asked for is done */
  ZORBU_OUTPUT_FULL = 1,   /* output is due: call again with more room */
  ZORBU_INVALID = 2,       /* the input is not an rt file */
  ZORBU_OUT_OF_MEMORY = 3, /* memory could not be had */
  ZORBU_MISUSE = 4,        /* a null pointer, or a call out of order */
  ZORBU_UNSUPPORTED = 5    /* no such kernel set runs on this processor */
} zorbu_result;

/* Input: bytes from src + pos to src + size are still to be taken. */
typedef struct zorbu_in {
  const void *src;
  size_t size;
  size_t pos;
} zorbu_in;

/* Output: room from dst + pos to dst + size is free. */
typedef struct zorbu_out {
  void *dst;
  size_t size;
  size_t pos;
} zorbu_out;

typedef struct zorbu_stream zorbu_stream;

/* Output room of at least this many bytes takes zorbu_push's and
 * zorbu_finish's output where it goes, with no copy inside the library;
 * smaller room works the same, through a buffer of the library's.
 * libzorbu 1.2. */
#define ZORBU_DIRECT_ROOM ((size_t)512 * 1024)

/* The most bytes the output of an input of n bytes can take: 3n + 64, or
 * SIZE_MAX when that does not fit in a size_t. A constant expression for a
 * constant n, for sizing a static buffer; it evaluates n twice. Part of the
 * ABI: no later version gives a larger bound. */
#define ZORBU_BOUND(n)                                          \
  ((size_t)(n) > (SIZE_MAX - (size_t)64) / 3 ? (size_t)SIZE_MAX \
                                             : (size_t)(n)*3 + (size_t)64)

/* Returns ZORBU_VERSION_NUMBER of the library in use. */
ZORBU_API unsigned zorbu_version_number(void);

/* Returns ZORBU_VERSION_STRING of the library in use. */
ZORBU_API const char *zorbu_version_string(void);

/* Returns a new stream on the widest kernel set this processor runs; NULL
 * only when memory is short. */
ZORBU_API zorbu_stream *zorbu_create(void);

/* Frees a stream; NULL is accepted and ignored. */
ZORBU_API void zorbu_free(zorbu_stream *stream);

/* Chooses the stream's kernel set by name, before anything is pushed:
 * "portable" everywhere, "sse2", "avx2" and "avx512" on x86-64 where the
 * processor has their instructions, "neon" on 64-bit ARM, and "wasm" in the
 * WebAssembly module with SIMD. They give the same bytes; the choice is for
 * tests and measurements. Returns ZORBU_DONE,
 * ZORBU_UNSUPPORTED for a name unknown or not runnable here (the set stays as
 * it was), or ZORBU_MISUSE for a NULL argument or after a zorbu_push or
 * zorbu_finish since zorbu_create or zorbu_reset, even of nothing. */
ZORBU_API zorbu_result zorbu_set_kernels(zorbu_stream *stream,
                                         const char *name);

/* Returns the name of the stream's kernel set, such as "avx2"; "" for
 * NULL. */
ZORBU_API const char *zorbu_kernels(const zorbu_stream *stream);

/* Starts the stream again on a new input, with the same kernel set;
 * ZORBU_MISUSE for NULL. */
ZORBU_API zorbu_result zorbu_reset(zorbu_stream *stream);

/* Takes what it can of in and writes what is decided to out, advancing
 * both positions. Returns ZORBU_DONE when all of in was taken,
 * ZORBU_OUTPUT_FULL when output is due and out is full, ZORBU_INVALID as
 * soon as the input is known not to be an rt file, ZORBU_MISUSE for a NULL
 * argument, a position past its size, or a push after a zorbu_finish.
 *
 * After ZORBU_INVALID from a push or a finish, every push and finish
 * returns ZORBU_INVALID until zorbu_reset. After a zorbu_finish that
 * returned ZORBU_DONE, a push is ZORBU_MISUSE and a finish returns
 * ZORBU_DONE with nothing written. */
ZORBU_API zorbu_result zorbu_push(zorbu_stream *stream, zorbu_in *in,
                                  zorbu_out *out);

/* Ends the input and writes what its end decides to out, advancing its
 * position. Returns ZORBU_DONE when all output is written and the input was
 * an rt file, ZORBU_OUTPUT_FULL when out is full first (call again with
 * more room), ZORBU_INVALID when it was not an rt file, ZORBU_MISUSE for a
 * NULL argument. */
ZORBU_API zorbu_result zorbu_finish(zorbu_stream *stream, zorbu_out *out);

/* Returns a fixed phrase for a result, such as "invalid rt file", with no
 * newline; "unknown result" for any other value. */
ZORBU_API const char *zorbu_result_text(zorbu_result result);

/* Returns ZORBU_BOUND(input_size). */
ZORBU_API size_t zorbu_bound(size_t input_size);

/* Converts a whole input at once into dst, of dst_capacity bytes, on the
 * widest kernel set, with no allocation: what it needs besides the two
 * buffers is on the stack (64 KiB at most). Returns ZORBU_DONE;
 * ZORBU_INVALID, with *dst_size 0; ZORBU_OUTPUT_FULL when dst_capacity is
 * short (ZORBU_BOUND never is), with dst filled by the output's first
 * *dst_size bytes; or ZORBU_MISUSE, with *dst_size untouched, for a NULL
 * pointer where bytes are expected. *dst_size is the count of bytes
 * written on every other return. */
ZORBU_API zorbu_result zorbu_convert(const void *src, size_t src_size,
                                     void *dst, size_t dst_capacity,
                                     size_t *dst_size);

/* Since 1.1. */

/* Returns why the stream's input is not an rt file, once a push or a
 * finish has returned ZORBU_INVALID: "the file is empty", "no window tag
 * on the first line" or "no body lines", with no newline. Returns NULL
 * before that, after zorbu_reset, and for NULL. */
ZORBU_API const char *zorbu_invalid_reason(const zorbu_stream *stream);

/* Returns why a whole input is not an rt file, in the words of
 * zorbu_invalid_reason, or NULL when it is one, or for a NULL src with
 * bytes; for a caller of zorbu_convert after ZORBU_INVALID. Reads no
 * further into src than the answer takes, and allocates nothing. */
ZORBU_API const char *zorbu_reason(const void *src, size_t src_size);

#ifdef __cplusplus
}
#endif

#endif /* ZORBU_H */
