// Microbenchmarks of the hot paths, in bytes per second, on text shaped like
// captions (a time tag on every other line, a few inline tags) and like dense
// markup (short lines full of tags and colour attributes).
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "common/byte_buffers.hpp"
#include "filter/pull_driver.hpp"
#include "memory_io.hpp"
#include "rt/lines.hpp"
#include "rt/tag_search.hpp"
#include "rt/text_converter.hpp"
#include "simd/kernels.hpp"
#include "zorbu.h"

namespace {

constexpr std::size_t kTextSize = std::size_t{8} << 20;

const char* const kWords[] = {"the",   "a",        "and",   "you",   "what",
                              "never", "again",    "there", "maybe", "I",
                              "know",  "tomorrow", "over",  "here",  "now"};
const char* const kColours[] = {"red",  "white", "yellow",
                                "aqua", "pink",  "navy"};

std::string caption_text() {
  std::mt19937 rng(1);
  std::string text;
  for (int line = 0; text.size() < kTextSize; ++line) {
    if (line % 2 == 0) text += "<time begin=\"" + std::to_string(line) + "\"/>";
    const std::size_t target = text.size() + 20 + rng() % 80;
    while (text.size() < target) {
      const auto r = rng() % 100;
      const std::string word = kWords[rng() % 15];
      if (r < 6) {
        text += "<b>" + word + "</b>";
      } else if (r < 10) {
        text += "<i>" + word + "</i>";
      } else if (r < 12) {
        text += "<br/>";
      } else if (r < 15) {
        text += "<font color=\"" + std::string(kColours[rng() % 6]) + "\">" +
                word + "</font>";
      } else {
        text += word;
      }
      text += ' ';
    }
    text += '\n';
  }
  return text;
}

std::string dense_text() {
  std::mt19937 rng(2);
  std::string text;
  while (text.size() < kTextSize) {
    for (auto tags = 1 + rng() % 3; tags > 0; --tags) {
      const std::string c = kColours[rng() % 6];
      switch (rng() % 3) {
        case 0:
          text += "<font color=\"" + c + "\">x</font>";
          break;
        case 1:
          text += "<p bgcolor=\"" + c + "\"><b>y</b></p>";
          break;
        default:
          text += "<span color=\"" + c + "\"/>";
          break;
      }
    }
    text += '\n';
  }
  return text;
}

// One time tag, then one long segment of plain lines with a few tags.
std::string untagged_text() {
  std::mt19937 rng(3);
  std::string text = "<time begin=\"0\"/>\n";
  while (text.size() < kTextSize) {
    for (auto words = 3 + rng() % 14; words > 0; --words) {
      text += kWords[rng() % 15];
      text += ' ';
    }
    if (rng() % 5 == 0)
      text += "<i>" + std::string(kWords[rng() % 15]) + "</i>";
    text += '\n';
  }
  return text;
}

const char* const kKinds[] = {"caption", "dense", "untagged"};

const std::string& text_for(int kind) {
  static const std::string caption = caption_text();
  static const std::string dense = dense_text();
  static const std::string untagged = untagged_text();
  return kind == 0 ? caption : kind == 1 ? dense : untagged;
}

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t len = zorbu::line_length(text, true);
    lines.push_back(text.substr(0, len));
    text.remove_prefix(len);
  }
  return lines;
}

void label(benchmark::State& state, std::size_t bytes) {
  state.SetLabel(kKinds[state.range(0)]);
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_CutLines(benchmark::State& state) {
  const std::string& text = text_for(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::string_view rest = text;
    std::int64_t lines = 0;
    for (; !rest.empty(); ++lines)
      rest.remove_prefix(zorbu::line_length(rest, true));
    benchmark::DoNotOptimize(lines);
  }
  label(state, text.size());
}

void BM_SearchTag(benchmark::State& state) {
  const std::string& text = text_for(static_cast<int>(state.range(0)));
  const auto lines = lines_of(text);
  zorbu::tag_info tag;
  for (auto _ : state) {
    for (const auto line : lines)
      benchmark::DoNotOptimize(zorbu::search_tag(line, "time", tag));
  }
  label(state, text.size());
}

// Converts the text in line-sized pieces into a reused buffer.
void convert(benchmark::State& state, bool is_markup) {
  const std::string& text = text_for(static_cast<int>(state.range(0)));
  const auto lines = lines_of(text);
  std::string room(zorbu::text_converter::max_output(zorbu::kMaxLine), '\0');
  for (auto _ : state) {
    zorbu::text_converter converter(is_markup
                                        ? zorbu::simd::text_kind::markup
                                        : zorbu::simd::text_kind::timed_text,
                                    zorbu::simd::best_kernels());
    for (const auto line : lines)
      benchmark::DoNotOptimize(converter.feed(line, room.data()));
    benchmark::DoNotOptimize(converter.finish(room.data()));
  }
  label(state, text.size());
}

void BM_ConvertText(benchmark::State& state) { convert(state, false); }
void BM_ConvertMarkup(benchmark::State& state) { convert(state, true); }

// Drops what it is given, as /dev/null does, counting it.
class discarding_sink final : public zorbu::byte_sink {
 public:
  bool write(std::string_view bytes) override {
    size += bytes.size();
    return true;
  }
  std::size_t size = 0;
};

// The whole filter on an in-memory file, on each set of scanning kernels
// this processor runs, on one thread: its output kept in a string, or, like
// a run to /dev/null, dropped.
template <class Sink>
void filter_rt(benchmark::State& state, std::string_view name) {
  const zorbu::simd::kernels* kernels = zorbu::simd::kernels_named(name);
  if (kernels == nullptr) {
    state.SkipWithError("this processor cannot run these kernels");
    return;
  }
  const std::string file =
      "<window bgcolor=\"black\"><font color=\"white\">\n" +
      text_for(static_cast<int>(state.range(0))) + "</font>\n</window>\n";
  Sink sink;
  if constexpr (std::is_same_v<Sink, zorbu::string_sink>) {
    sink.data.reserve(file.size() * 3);
  }
  for (auto _ : state) {
    if constexpr (std::is_same_v<Sink, zorbu::string_sink>) sink.data.clear();
    zorbu::memory_source source(file);
    benchmark::DoNotOptimize(zorbu::filter_rt(
        source, sink, zorbu::block_reader::kDefaultBlock, *kernels));
  }
  state.SetLabel(std::string(kKinds[state.range(0)]) + " " + std::string(name));
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * file.size()));
}

void BM_FilterRt(benchmark::State& state, std::string_view kernels) {
  filter_rt<zorbu::string_sink>(state, kernels);
}

void BM_FilterRtDropped(benchmark::State& state, std::string_view kernels) {
  filter_rt<discarding_sink>(state, kernels);
}

// The file the filter benchmarks run on, of the given kind.
std::string file_for(int kind) {
  return "<window bgcolor=\"black\"><font color=\"white\">\n" + text_for(kind) +
         "</font>\n</window>\n";
}

// The C interface on an in-memory file: the one-shot function, and a
// stream fed 4 KiB at a time into all the room it needs.
void BM_ApiConvert(benchmark::State& state) {
  const std::string file = file_for(static_cast<int>(state.range(0)));
  std::string out(zorbu_bound(file.size()), '\0');
  std::size_t size = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        zorbu_convert(file.data(), file.size(), out.data(), out.size(), &size));
  }
  state.SetLabel(kKinds[state.range(0)]);
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * file.size()));
}

void BM_ApiStream4KiBPushes(benchmark::State& state) {
  const std::string file = file_for(static_cast<int>(state.range(0)));
  std::string out(zorbu_bound(file.size()), '\0');
  zorbu_stream* stream = zorbu_create();
  for (auto _ : state) {
    zorbu_reset(stream);
    zorbu_out room{out.data(), out.size(), 0};
    for (std::size_t at = 0; at < file.size(); at += 4096) {
      zorbu_in in{file.data() + at,
                  std::min<std::size_t>(4096, file.size() - at), 0};
      benchmark::DoNotOptimize(zorbu_push(stream, &in, &room));
    }
    benchmark::DoNotOptimize(zorbu_finish(stream, &room));
  }
  zorbu_free(stream);
  state.SetLabel(kKinds[state.range(0)]);
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * file.size()));
}

// A body of one-byte lines, at several sizes: the fitted complexity should
// come out linear, never quadratic.
void BM_FilterRtOneByteLines(benchmark::State& state) {
  std::string file = "<window>\n";
  for (std::int64_t i = 0; i < state.range(0); ++i)
    file += i % 2 == 0 ? "a\n" : "<time/>\n";
  file += "</window>\n";
  zorbu::string_sink sink;
  for (auto _ : state) {
    sink.data.clear();
    zorbu::memory_source source(file);
    benchmark::DoNotOptimize(
        zorbu::filter_rt(source, sink, zorbu::block_reader::kDefaultBlock,
                         zorbu::simd::best_kernels()));
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * file.size()));
}

BENCHMARK(BM_CutLines)->DenseRange(0, 2);
BENCHMARK(BM_SearchTag)->DenseRange(0, 2);
BENCHMARK(BM_ConvertText)->DenseRange(0, 2);
BENCHMARK(BM_ConvertMarkup)->DenseRange(0, 2);
// The filter on every kernel set this build has, as the table lists them.
const bool kFilterOnEachSet = [] {
  for (const zorbu::simd::kernels& set : zorbu::simd::built_kernels()) {
    const std::string name(set.name);
    benchmark::RegisterBenchmark(("BM_FilterRt/" + name).c_str(), BM_FilterRt, set.name)
        ->DenseRange(0, 2);
    benchmark::RegisterBenchmark(("BM_FilterRtDropped/" + name).c_str(),
                                 BM_FilterRtDropped, set.name)
        ->DenseRange(0, 2);
  }
  return true;
}();
BENCHMARK(BM_ApiConvert)->DenseRange(0, 2);
BENCHMARK(BM_ApiStream4KiBPushes)->DenseRange(0, 2);
BENCHMARK(BM_FilterRtOneByteLines)
    ->RangeMultiplier(4)
    ->Range(1 << 14, 1 << 20)
    ->Complexity();

}  // namespace

BENCHMARK_MAIN();
