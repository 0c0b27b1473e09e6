#include "common/byte_buffers.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "memory_io.hpp"
#include "reference.hpp"
#include "rt/lines.hpp"

namespace zorbu {
namespace {

using namespace std::string_literals;

// Cuts the source into lines with a reader and line_length, consuming each
// line as a caller does.
std::vector<std::string> read_lines(byte_source& source, std::size_t block) {
  std::vector<char> storage(block_reader::storage_for(block));
  block_reader reader(source, storage);
  std::vector<std::string> lines;
  for (;;) {
    const std::string_view rest = reader.buffered();
    if (const std::size_t len = line_length(rest, reader.at_end())) {
      lines.emplace_back(rest.substr(0, len));
      reader.consume(len);
    } else if (!reader.refill() && reader.buffered().empty()) {
      break;
    }
  }
  EXPECT_FALSE(reader.failed());
  return lines;
}

// Serves its data, then fails every read.
class FailingSource final : public byte_source {
 public:
  explicit FailingSource(std::string data) : data_(std::move(data)) {}
  std::optional<std::size_t> read(std::span<char> buf) override {
    if (done_) return std::nullopt;
    done_ = true;
    const std::size_t n = std::min(buf.size(), data_.size());
    data_.copy(buf.data(), n);
    return n;
  }

 private:
  std::string data_;
  bool done_ = false;
};

TEST(BlockReader, LinesAgreeWithBoundedReadsWhateverTheReadSizes) {
  const std::string x1022(1022, 'x'), x1023(1023, 'x');
  // Lines at the 1023-byte bound, a NUL byte, no newline at the end.
  std::vector<std::string> inputs = {
      "",           "a",          "\n\n",        "a\nb",
      x1022 + "\n", x1023 + "\n", x1023 + x1023, std::string(1500, 'y') + "\n",
      "a\0b\nc\0"s};
  std::mt19937 rng(1);
  for (int round = 0; round < 200; ++round) {
    std::string data;
    const int pieces = std::uniform_int_distribution<int>(0, 20)(rng);
    for (int i = 0; i < pieces; ++i) {
      const auto len = std::uniform_int_distribution<std::size_t>(0, 2500)(rng);
      data.append(len, static_cast<char>('a' + i % 26));
      if (rng() % 4 != 0) data.push_back('\n');
    }
    inputs.push_back(data);
  }
  for (const std::string& data : inputs) {
    const auto cut = reference::lines(data);
    const std::vector<std::string> want(cut.begin(), cut.end());
    for (std::size_t chunk : {1, 3, 512, 5000}) {
      for (std::size_t block : {1, 7, 1023, 1024, 65536}) {
        memory_source source(data, chunk);
        ASSERT_EQ(read_lines(source, block), want)
            << "chunk " << chunk << " block " << block;
      }
    }
  }
}

TEST(BlockReader, AFailedReadIsReportedNotTakenForTheEnd) {
  FailingSource source("whole\npart");
  std::vector<char> storage(block_reader::storage_for(64));
  block_reader reader(source, storage);
  ASSERT_TRUE(reader.refill());
  EXPECT_EQ(reader.buffered(), "whole\npart");
  reader.consume(6);
  EXPECT_FALSE(reader.refill());
  EXPECT_TRUE(reader.failed());
  EXPECT_FALSE(reader.at_end());
  // What was not consumed is still there, moved to the front.
  EXPECT_EQ(reader.buffered(), "part");
  EXPECT_EQ(reader.buffered().data(), storage.data());
}

// Records every write, and fails from the given write on.
class CountingSink final : public byte_sink {
 public:
  explicit CountingSink(int fail_from = -1) : fail_from_(fail_from) {}
  bool write(std::string_view bytes) override {
    if (static_cast<int>(writes.size()) == fail_from_) return false;
    writes.emplace_back(bytes);
    return true;
  }
  std::vector<std::string> writes;

 private:
  int fail_from_;
};

TEST(OutputBuffer, WritesInLargePiecesAndKeepsEveryByte) {
  CountingSink sink;
  std::vector<char> storage(320 << 10);
  output_buffer out(sink, storage);
  std::string want;
  for (int i = 0; i < 100000; ++i) {
    const std::string piece = std::to_string(i) + "\n";
    out.append(piece);
    want += piece;
  }
  EXPECT_TRUE(out.flush());
  std::string got;
  for (const auto& w : sink.writes) {
    got += w;
  }
  EXPECT_EQ(got, want);
  EXPECT_LE(sink.writes.size(), want.size() / (256 << 10) + 1);
  // Nothing pending: a further flush writes nothing.
  const std::size_t writes = sink.writes.size();
  EXPECT_TRUE(out.flush());
  EXPECT_EQ(sink.writes.size(), writes);
}

TEST(OutputBuffer, AFailedWriteStaysFailed) {
  CountingSink sink(/*fail_from=*/1);
  std::vector<char> storage(320 << 10);
  output_buffer out(sink, storage);
  out.append("first");
  EXPECT_TRUE(out.flush());
  out.append("second");
  EXPECT_FALSE(out.flush());
  out.append("third");
  EXPECT_FALSE(out.flush());
  EXPECT_FALSE(out.ok());
  ASSERT_EQ(sink.writes.size(), 1U);
  EXPECT_EQ(sink.writes[0], "first");
}

}  // namespace
}  // namespace zorbu
