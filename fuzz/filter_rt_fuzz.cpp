// The whole program on an in-memory file. The same bytes read whole, read a
// few bytes at a time, and read from a real file descriptor must give the
// same output and outcome; an invalid file must give no output at all.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "byte_io.hpp"
#include "check.hpp"
#include "zorbu.hpp"

namespace {

using zorbu::fuzz::check;

struct result {
  zorbu::outcome outcome;
  std::string out;
  bool operator==(const result&) const = default;
};

// Small buffers keep each run cheap and put many refills and flushes into
// short inputs; the output must not depend on them.
result run(zorbu::ByteSource& source, std::size_t buffer) {
  zorbu::StringSink sink;
  const zorbu::outcome outcome = zorbu::filter_rt(source, sink, buffer);
  return {outcome, std::move(sink.data)};
}

// The bytes as a file without a name: the descriptor path main takes.
result run_from_file(std::string_view file) {
  const int fd = memfd_create("zorbu-fuzz", MFD_CLOEXEC);
  check(fd >= 0);
  zorbu::FdSink writer(fd);
  check(writer.write(file) && lseek(fd, 0, SEEK_SET) == 0);
  zorbu::FdSource source(fd);
  result r = run(source, 4096);
  close(fd);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = 1 + data[0] % 7;
  const std::size_t buffer = 1 + data[0] * 7U;
  const std::string_view file(reinterpret_cast<const char*>(data) + 1,
                              size - 1);

  zorbu::MemorySource whole_source(file);
  const result whole = run(whole_source, 4096);
  // Memory can always be read and a string always written.
  check(whole.outcome == zorbu::outcome::rewritten ||
        whole.outcome == zorbu::outcome::invalid);
  if (whole.outcome == zorbu::outcome::invalid) {
    check(whole.out.empty());
  } else {
    check(whole.out.find("</time>") != std::string::npos);
  }

  zorbu::MemorySource trickle(file, chunk);
  check(run(trickle, buffer) == whole);
  check(run_from_file(file) == whole);
  return 0;
}
