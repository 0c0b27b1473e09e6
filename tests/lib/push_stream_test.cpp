#include "filter/push_stream.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "kernel_sets.hpp"
#include "zorbu.h"

namespace zorbu {
namespace {

class PushStream : public EachKernelSet {};
ZORBU_ON_EACH_KERNEL_SET(PushStream);

struct golden_case {
  std::string name;
  std::string input;
  std::string output;  // empty for an input that is no rt file
  bool valid;
};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<golden_case> golden_cases() {
  std::vector<golden_case> cases;
  const auto dir = std::filesystem::path(ZORBU_SOURCE_DIR) / "tests" / "cases";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".rt") continue;
    auto stem = entry.path();
    stem.replace_extension();
    const bool valid = read_file(stem.string() + ".status").starts_with("0");
    cases.push_back({entry.path().filename().string(), read_file(entry.path()),
                     valid ? read_file(stem.string() + ".out") : "", valid});
  }
  return cases;
}

// Memory for one pushed piece that ends exactly where the piece ends: a
// heap block of its size, past which AddressSanitizer sees any read, or the
// last bytes before a page that cannot be read at all.
class piece_memory {
 public:
  explicit piece_memory(bool guard_page) : guard_page_(guard_page) {}
  piece_memory(const piece_memory&) = delete;
  piece_memory& operator=(const piece_memory&) = delete;
  ~piece_memory() { release(); }

  // Returns a copy of bytes that ends where the memory does.
  std::string_view place(std::string_view bytes) {
    release();
    if (!guard_page_) {
      block_.reset(new char[bytes.size()]);
      std::memcpy(block_.get(), bytes.data(), bytes.size());
      return {block_.get(), bytes.size()};
    }
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    size_ = (bytes.size() + page - 1) / page * page + page;
    void* const map = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    map_ = static_cast<char*>(map);
    char* const guard = map_ + size_ - page;
    ::mprotect(guard, page, PROT_NONE);
    std::memcpy(guard - bytes.size(), bytes.data(), bytes.size());
    return {guard - bytes.size(), bytes.size()};
  }

 private:
  void release() {
    block_.reset();
    if (map_ != nullptr) ::munmap(map_, size_);
    map_ = nullptr;
  }

  bool guard_page_;
  std::unique_ptr<char[]> block_;
  char* map_ = nullptr;
  std::size_t size_ = 0;
};

struct pushed {
  status result;
  std::string out;
};

// Pushes each piece from memory of its own, which is gone once the push
// that took it returns, into output room of `room` bytes, then finishes.
pushed push_pieces(const std::vector<std::string_view>& pieces, bool guard_page,
                   std::size_t room, const simd::kernels& kernels) {
  const auto stream = push_stream::create(kernels);
  std::vector<char> space(room);
  pushed r{status::done, {}};
  const auto run = [&](auto call) {
    do {
      std::span<char> free(space);
      r.result = call(free);
      r.out.append(space.data(), space.size() - free.size());
    } while (r.result == status::output_full);
  };
  for (const std::string_view piece : pieces) {
    if (piece.empty()) continue;
    piece_memory memory(guard_page);
    std::string_view in = memory.place(piece);
    run([&](std::span<char>& free) { return stream->push(in, free); });
    if (r.result == status::invalid) return r;
    EXPECT_TRUE(in.empty());
  }
  run([&](std::span<char>& free) { return stream->finish(free); });
  return r;
}

void expect_case(const pushed& r, const golden_case& c, const char* how) {
  EXPECT_EQ(r.result, c.valid ? status::done : status::invalid)
      << c.name << " " << how;
  if (c.valid) {
    EXPECT_EQ(r.out, c.output) << c.name << " " << how;
  }
}

// A push reads its input where it stands and never one byte past it,
// however the input is cut: every golden case whole, a byte a push, and
// the small ones in every two pieces, in heap blocks of the pieces' size
// (for AddressSanitizer) and against an unreadable page.
TEST_P(PushStream, ReadsNoBytePastAPush) {
  for (const bool guard_page : {false, true}) {
    for (const golden_case& c : golden_cases()) {
      const std::string_view input = c.input;
      expect_case(push_pieces({input}, guard_page, 4096, set()), c, "whole");
      std::vector<std::string_view> bytes;
      for (std::size_t at = 0; at < input.size(); ++at) {
        bytes.push_back(input.substr(at, 1));
      }
      expect_case(push_pieces(bytes, guard_page, 4096, set()), c, "bytes");
      if (input.size() > 400) continue;
      for (std::size_t cut = 0; cut <= input.size(); ++cut) {
        expect_case(push_pieces({input.substr(0, cut), input.substr(cut)},
                                guard_page, 4096, set()),
                    c, "two pieces");
      }
    }
  }
}

// Output room that takes a step's output straight, a byte less, which goes
// through the stream's buffer, half of that, which takes a shorter step's,
// a quarter, too small for any step's, and a byte, which returns at every
// byte. A step over brackets of timed text writes three bytes a byte, so a
// step too long for its room would outgrow it there.
TEST_P(PushStream, WritesTheSameBytesIntoAnyRoom) {
  std::string dense_input = "<window>\n<time begin=\"0\"/>";
  std::string dense_output = "<window>\n<time begin=\"0\">";
  for (int line = 0; line < 2000; ++line) {
    for (int pair = 0; pair < 250; ++pair) {
      dense_input += "<>";
      dense_output += "{{{}}}";
    }
    dense_input += '\n';
    dense_output += '\n';
  }
  dense_input += "</window>\n";
  dense_output += "</time></window>\n";
  const golden_case dense{"dense brackets", dense_input, dense_output, true};
  for (const std::size_t room :
       {std::size_t{ZORBU_DIRECT_ROOM}, std::size_t{ZORBU_DIRECT_ROOM} - 1,
        std::size_t{ZORBU_DIRECT_ROOM} / 2, std::size_t{ZORBU_DIRECT_ROOM} / 4,
        std::size_t{1}}) {
    expect_case(push_pieces({dense.input}, false, room, set()), dense, "whole");
    for (const golden_case& c : golden_cases()) {
      const std::string_view input = c.input;
      expect_case(push_pieces({input}, false, room, set()), c, "whole");
      expect_case(push_pieces({input.substr(0, input.size() / 2),
                               input.substr(input.size() / 2)},
                              false, room, set()),
                  c, "halves");
    }
  }
}

}  // namespace
}  // namespace zorbu
