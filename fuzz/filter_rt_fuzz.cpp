// The whole program on an in-memory file. The same bytes read whole, read a
// few bytes at a time, read from a real file descriptor, and converted in
// one shot into room of exactly the output's size must give what the slow
// whole-file rewrite gives: its output, or nothing for an invalid file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "check.hpp"
#include "fd_io.hpp"
#include "filter/one_shot.hpp"
#include "memory_io.hpp"
#include "reference.hpp"
#include "zorbu_internal.hpp"

namespace {

using zorbu::fuzz::check;

struct result {
  zorbu::status ended;
  std::string out;
  bool operator==(const result&) const = default;
};

// Small buffers keep each run cheap and put many refills and flushes into
// short inputs; the output must not depend on them.
result run(zorbu::byte_source& source, std::size_t buffer,
           const zorbu::simd::kernels& kernels) {
  zorbu::string_sink sink;
  const zorbu::status ended =
      zorbu::filter_rt(source, sink, buffer, kernels);
  return {ended, std::move(sink.data)};
}

// The bytes as a file without a name: the descriptor path main takes.
result run_from_file(std::string_view file,
                     const zorbu::simd::kernels& kernels) {
  const int fd = memfd_create("zorbu-fuzz", MFD_CLOEXEC);
  check(fd >= 0);
  zorbu::fd_sink writer(fd);
  check(writer.write(file) && lseek(fd, 0, SEEK_SET) == 0);
  zorbu::fd_source source(fd);
  result r = run(source, 4096, kernels);
  close(fd);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const zorbu::simd::kernels& kernels =
      zorbu::fuzz::pick_kernels(static_cast<std::uint8_t>(data[0] >> 5));
  const std::size_t chunk = 1 + data[0] % 7;
  const std::size_t buffer = 1 + data[0] * 7U;
  const std::string_view file(reinterpret_cast<const char*>(data) + 1,
                              size - 1);

  zorbu::memory_source whole_source(file);
  const result whole = run(whole_source, 4096, kernels);
  const auto want = zorbu::reference::filter(file);
  check(whole ==
        result{want ? zorbu::status::done : zorbu::status::invalid,
               want.value_or("")});

  zorbu::memory_source trickle(file, chunk);
  check(run(trickle, buffer, kernels) == whole);
  check(run_from_file(file, kernels) == whole);

  std::string room(whole.out.size(), '\0');
  const zorbu::one_shot_result once =
      zorbu::convert_one_shot(file, room, kernels);
  room.resize(once.written);
  check(result{once.result, room} == whole);
  return 0;
}
