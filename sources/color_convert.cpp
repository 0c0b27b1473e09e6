#include "color_convert.hpp"

#include <algorithm>
#include <cstring>

namespace zorbu {

namespace {

// The first value position comes from the first "color=", quoted or not;
// every later one only from a quoted `color="`. Either way the value starts
// seven bytes after the match.
constexpr std::string_view kFirstKey = "color=";
constexpr std::string_view kNextKey = "color=\"";
constexpr std::size_t kValueOffset = 7;

constexpr std::size_t kLongestName =
    std::max_element(color_names.begin(), color_names.end(),
                     [](std::string_view a, std::string_view b) {
                       return a.size() < b.size();
                     })
        ->size();

// Offset of the first key in [data, data + size), or size.
std::size_t find_key(const char* data, std::size_t size, std::string_view key) {
  const void* p = memmem(data, size, key.data(), key.size());
  return p ? static_cast<std::size_t>(static_cast<const char*>(p) - data)
           : size;
}

}  // namespace

void text_converter::emit(const char* data, std::size_t size,
                          std::string& out) const {
  if (is_markup_) {
    out.append(data, size);
    return;
  }
  const char* const stop = data + size;
  const char* p = data;
  while (p < stop) {
    const char* q = p;
    while (q < stop && *q != '<' && *q != '>') ++q;
    out.append(p, q);
    if (q == stop) break;
    out.append(*q == '<' ? "{{{" : "}}}");
    p = q + 1;
  }
}

// Converts data[0, size) as far as it can be decided without later bytes
// (all of it when last) and returns how many bytes it used up. At most
// kLongestName - 1 bytes are left over.
std::size_t text_converter::run(const char* data, std::size_t size, bool last,
                                std::string& out) {
  std::size_t pos = 0;
  for (;;) {
    if (mode_ == mode::at_value) {
      if (value_at_ > size - pos) {
        emit(data + pos, size - pos, out);
        value_at_ -= size - pos;
        return size;
      }
      const std::size_t value = pos + static_cast<std::size_t>(value_at_);
      emit(data + pos, value - pos, out);
      pos = value;
      value_at_ = 0;
      const std::string_view rest(data + value, size - value);
      // Wait for enough bytes to tell every name apart.
      if (!last && rest.size() < kLongestName) return value;
      if (rest.empty()) return size;
      for (std::size_t i = 0; i < color_names.size(); ++i) {
        if (rest.starts_with(color_names[i])) {
          out.append(color_codes[i]);
          out.push_back('"');
          pos += color_names[i].size();
          break;
        }
      }
      // The next key is searched from the value's start; no key can begin
      // inside a replaced name, so searching from pos finds the same one.
      mode_ = mode::next_search;
      continue;
    }
    const std::string_view key =
        mode_ == mode::first_search ? kFirstKey : kNextKey;
    const std::size_t hit = pos + find_key(data + pos, size - pos, key);
    if (hit < size) {
      mode_ = mode::at_value;
      value_at_ = hit + kValueOffset - pos;
      continue;
    }
    // Hold back a tail that may be the start of a key.
    const std::size_t keep = last ? 0 : std::min(size - pos, key.size() - 1);
    emit(data + pos, size - pos - keep, out);
    return size - keep;
  }
}

void text_converter::feed(std::string_view piece, std::string& out) {
  if (held_size_ > 0) {
    // Join the held bytes with the start of the piece, so that a key or a
    // name that spans the two is seen whole; then go on in the piece itself.
    const std::size_t take = std::min(piece.size(), held_.size() - held_size_);
    std::memcpy(held_.data() + held_size_, piece.data(), take);
    const std::size_t joined = held_size_ + take;
    const std::size_t used = run(held_.data(), joined, false, out);
    if (take == piece.size()) {
      held_size_ = joined - used;
      std::memmove(held_.data(), held_.data() + used, held_size_);
      return;
    }
    // A full join leaves only a few bytes over, so every held byte was used
    // and the rest is in the piece.
    piece.remove_prefix(used - held_size_);
    held_size_ = 0;
  }
  const std::size_t used = run(piece.data(), piece.size(), false, out);
  held_size_ = piece.size() - used;
  std::memcpy(held_.data(), piece.data() + used, held_size_);
}

void text_converter::finish(std::string& out) {
  run(held_.data(), held_size_, true, out);
  held_size_ = 0;
  mode_ = mode::first_search;
  value_at_ = 0;
}

std::string convert_htmltext(std::string_view src, bool is_markup) {
  std::string out;
  out.reserve(src.size() + src.size() / 4);
  text_converter converter(is_markup);
  converter.feed(src, out);
  converter.finish(out);
  return out;
}

}  // namespace zorbu
