#include "byte_io.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "memory_io.hpp"

namespace zorbu {
namespace {

using namespace std::string_literals;

// The lines a bounded read of 1023 bytes would give, the slow obvious way.
std::vector<std::string> reference_lines(const std::string& data) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : data) {
    line.push_back(c);
    if (c == '\n' || line.size() == 1023)
      lines.push_back(std::move(line)), line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<std::string> read_lines(byte_source& source, std::size_t block) {
  line_reader reader(source, block);
  std::vector<std::string> lines;
  while (auto line = reader.next()) lines.emplace_back(*line);
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

TEST(LineReader, CutsAfterNewlineAt1023BytesAndAtEnd) {
  const std::string x1022(1022, 'x'), x1023(1023, 'x');
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a\n"}},
      {"\n\n", {"\n", "\n"}},
      {"a\nb", {"a\n", "b"}},
      // A full line with its newline fits; one byte more and the newline
      // becomes a line of its own.
      {x1022 + "\n", {x1022 + "\n"}},
      {x1023 + "\n", {x1023, "\n"}},
      {x1023 + x1023, {x1023, x1023}},
      {std::string(1500, 'y') + "\n",
       {std::string(1023, 'y'), std::string(477, 'y') + "\n"}},
      // A NUL byte is data, not an end.
      {"a\0b\nc\0"s, {"a\0b\n"s, "c\0"s}},
  };
  for (const auto& [input, want] : cases) {
    for (std::size_t block : {1, 2, 1000, 1023, 1024, 4096}) {
      memory_source source(input);
      EXPECT_EQ(read_lines(source, block), want) << "block " << block;
    }
  }
}

TEST(LineReader, AgreesWithBoundedReadsWhateverTheReadSizes) {
  std::mt19937 rng(1);
  for (int round = 0; round < 200; ++round) {
    std::string data;
    const int pieces = std::uniform_int_distribution<int>(0, 20)(rng);
    for (int i = 0; i < pieces; ++i) {
      const auto len = std::uniform_int_distribution<std::size_t>(0, 2500)(rng);
      data.append(len, static_cast<char>('a' + i % 26));
      if (rng() % 4 != 0) data.push_back('\n');
    }
    const auto want = reference_lines(data);
    for (std::size_t chunk : {1, 3, 512, 5000}) {
      for (std::size_t block : {7, 1024, 65536}) {
        memory_source source(data, chunk);
        ASSERT_EQ(read_lines(source, block), want)
            << "chunk " << chunk << " block " << block;
      }
    }
  }
}

TEST(LineReader, LinesOfOneGenerationStayValidAndFollowOn) {
  std::mt19937 rng(5);
  std::string data;
  for (int i = 0; i < 3000; ++i) {
    data.append(rng() % 1500, static_cast<char>('a' + i % 26));
    data.push_back('\n');
  }
  for (std::size_t chunk : {1, 100, 4096}) {
    for (std::size_t block : {1, 700, 5000}) {
      memory_source source(data, chunk);
      // One allocation with the reader's storage in the middle: whatever
      // lies next to it must never be handed out as part of a line.
      std::vector<char> storage(line_reader::storage_for(block) + 64, '<');
      line_reader reader(source, {storage.data() + 32, storage.size() - 64});
      // Hold the lines of one generation as one span, as a caller would, and
      // check it is intact just before the read that ends the generation.
      const char* begin = nullptr;
      const char* end = nullptr;
      std::string copy;
      std::uint64_t generation = 0;
      std::string all;
      for (;;) {
        auto line = reader.next_buffered();
        if (!line) {
          const int reads = source.reads;
          ASSERT_EQ(
              std::string_view(begin, static_cast<std::size_t>(end - begin)),
              copy)
              << "chunk " << chunk << " block " << block;
          ASSERT_EQ(source.reads, reads);  // next_buffered never reads
          line = reader.next();
          if (!line) break;
        }
        if (reader.generation() != generation) {
          generation = reader.generation();
          begin = line->data();
          copy.clear();
        }
        ASSERT_EQ(line->data(), begin + copy.size());
        end = line->data() + line->size();
        copy += *line;
        all += *line;
      }
      EXPECT_EQ(all, data);
      EXPECT_FALSE(reader.failed());
    }
  }
}

TEST(LineReader, AFailedReadIsReportedNotTakenForTheEnd) {
  FailingSource source("whole\npart");
  line_reader reader(source);
  EXPECT_EQ(reader.next(), "whole\n");
  // The unfinished line before the failure is not handed out as complete.
  EXPECT_EQ(reader.next(), std::nullopt);
  EXPECT_TRUE(reader.failed());
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
  output_buffer out(sink);
  std::string want;
  for (int i = 0; i < 100000; ++i) {
    const std::string piece = std::to_string(i) + "\n";
    out.append(piece);
    want += piece;
    ASSERT_TRUE(out.maybe_flush());
  }
  EXPECT_TRUE(out.flush());
  std::string got;
  for (const auto& w : sink.writes) {
    got += w;
  }
  EXPECT_EQ(got, want);
  EXPECT_LE(sink.writes.size(),
            want.size() / output_buffer::kDefaultFlushAt + 1);
  // Nothing pending: a further flush writes nothing.
  const std::size_t writes = sink.writes.size();
  EXPECT_TRUE(out.flush());
  EXPECT_EQ(sink.writes.size(), writes);
}

TEST(OutputBuffer, AFailedWriteStaysFailed) {
  CountingSink sink(/*fail_from=*/1);
  output_buffer out(sink);
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
