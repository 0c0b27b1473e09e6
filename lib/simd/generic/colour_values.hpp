// Finding colour keys and replacing their values, a word at a time.
// Part of the kernels written once over a vector type V: included by
// generic/kernels.hpp, inside each target's own namespace.
#pragma once

// Every colour name again, at a slot that its first and third bytes pick,
// so that a value is checked against the one name it could be with no
// branch on which: each slot holds a name's bytes as words, the bytes it
// fills, and what it becomes, "#rrggbb" and the closing quote, as a word
// too. All of it is worked out from the colour table at compile time.

// A value is matched as whole eight-byte words, all of them text: a value
// with fewer bytes before the end of the text is padded first.
constexpr std::size_t kLongestName = kLongestColorName;
constexpr std::size_t kNameWords = (kLongestName + 7) / 8;
static_assert(kNameWords <= 2);

struct hashed_name {
  std::uint64_t bits[kNameWords];
  std::uint64_t mask[kNameWords];
  std::uint64_t replacement;
  std::size_t size;
};

constexpr std::size_t kSlots = 64;

// The bytes of text as a word in memory order; at most eight of them.
constexpr std::uint64_t word_of(std::string_view text) {
  std::uint64_t word = 0;
  for (std::size_t b = 0; b < text.size() && b < 8; ++b) {
    word |= std::uint64_t{static_cast<unsigned char>(text[b])} << (8 * b);
  }
  return std::endian::native == std::endian::little ? word
                                                    : __builtin_bswap64(word);
}

constexpr std::size_t slot_of(unsigned char first, unsigned char third,
                              unsigned multiplier) {
  return (first * multiplier + third) % kSlots;
}

// The smallest multiplier from 3 on that gives every name a slot of its
// own; 0 when none below 256 does.
constexpr unsigned find_multiplier() {
  for (unsigned multiplier = 3; multiplier < 256; ++multiplier) {
    bool taken[kSlots] = {};
    bool clash = false;
    for (std::size_t i = 0; i < color_names.size() && !clash; ++i) {
      const std::string_view name = color_names[i];
      const std::size_t slot =
          slot_of(static_cast<unsigned char>(name[0]),
                  static_cast<unsigned char>(name[2]), multiplier);
      clash = taken[slot];
      taken[slot] = true;
    }
    if (!clash) return multiplier;
  }
  return 0;
}

constexpr unsigned kSlotMultiplier = find_multiplier();
static_assert(kSlotMultiplier != 0,
              "no multiplier gives every colour name a slot of its own: two "
              "names share their first and third letters, or kSlots is too "
              "small for the table");

inline std::size_t slot_of(const char* p) {
  return slot_of(static_cast<unsigned char>(p[0]),
                 static_cast<unsigned char>(p[2]), kSlotMultiplier);
}

struct name_slots {
  hashed_name slot[kSlots];
};

constexpr name_slots hash_names() {
  name_slots slots{};
  constexpr std::string_view kAllBytes = "\xff\xff\xff\xff\xff\xff\xff\xff";
  // A free slot holds a first and third byte that pick another slot, so
  // that no value it is asked about can match it.
  for (std::size_t slot = 0; slot < kSlots; ++slot) {
    const char other[3] = {0, 0, static_cast<char>((slot + 1) % kSlots)};
    slots.slot[slot] = {
        {word_of({other, 3})}, {word_of({"\xff\0\xff", 3})}, 0, 0};
  }
  for (std::size_t i = 0; i < color_names.size(); ++i) {
    const std::string_view name = color_names[i];
    hashed_name& s = slots.slot[slot_of(static_cast<unsigned char>(name[0]),
                                        static_cast<unsigned char>(name[2]),
                                        kSlotMultiplier)];
    char code[8] = {};
    for (std::size_t b = 0; b < 7; ++b) code[b] = color_codes[i][b];
    code[7] = '"';
    s = {{}, {}, word_of({code, 8}), name.size()};
    for (std::size_t w = 0; w < kNameWords; ++w) {
      const std::string_view part = name.substr(std::min(name.size(), 8 * w));
      s.bits[w] = word_of(part);
      s.mask[w] =
          word_of(kAllBytes.substr(0, std::min<std::size_t>(part.size(), 8)));
    }
  }
  return slots;
}

constexpr name_slots kHashedNames = hash_names();

// Replaces the colour name that starts at p, if any, by its code and
// quote; there must be 8 * kNameWords bytes at p, all of them text, and
// room for eight at out.
inline void replace_value(const char*& p, char*& out) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  const hashed_name& s = kHashedNames.slot[slot_of(p)];
  std::uint64_t differ = (word ^ s.bits[0]) & s.mask[0];
  if constexpr (kNameWords > 1) {
    std::memcpy(&word, p + 8, sizeof word);
    differ |= (word ^ s.bits[1]) & s.mask[1];
  }
  // All ones on a hit, else zero: what is skipped and written is masked,
  // not branched on, since values are as unpredictable as captions.
  const std::size_t hit = 0 - static_cast<std::size_t>(differ == 0);
  std::memcpy(out, &s.replacement, sizeof s.replacement);
  out += sizeof s.replacement & hit;
  p += s.size & hit;
}

// The same for a value within 8 * kNameWords bytes of the end of the text,
// at p.
inline void replace_last_value(const char*& p, const char* end, char*& out) {
  // Zero bytes, which no name has, stand for what lies past the end.
  char padded[8 * kNameWords] = {};
  std::memcpy(padded, p, static_cast<std::size_t>(end - p));
  const char* value = padded;
  replace_value(value, out);
  p += value - padded;
}

// The key's "color=", whose '=' a value follows one byte on. is_key
// compares its first four bytes, then the four that end at the quote of a
// later key, both taken from the key itself, as four-byte compares; for a
// first key, the one byte between the first four and the '=' stands in for
// the second word.
constexpr std::size_t kKey = kColourKey.size();
static_assert(kKey == 6,
              "is_key's words of four bytes, and the byte between them, "
              "cover the key and its quote");

// Returns true if the '=' at sign ends a key: "color" before it, starting
// at from or later, and for every key but the first, a quote after it,
// before end.
inline bool is_key(const char* sign, const char* from, const char* end,
                   bool first_key) {
  if (static_cast<std::size_t>(sign - from) < kKey - 1 ||
      std::memcmp(sign - (kKey - 1), kQuotedColourKey.data(), 4) != 0) {
    return false;
  }
  if (first_key) return sign[-1] == kQuotedColourKey[kKey - 2];
  return sign + 1 != end &&
         std::memcmp(sign - 2, kQuotedColourKey.data() + kKey - 3, 4) == 0;
}

// Returns true if sign, at from or later, is a first key's '=': "color"
// before it, from on.
inline bool is_first_key_at(const char* sign, const char* from) {
  return *sign == '=' && is_key(sign, from, nullptr, true);
}

// Writes the byte after a key's '=', then the value one byte on, replaced
// if it is a colour name that ends by end; returns where the text goes on.
// kFar says that 8 * kNameWords bytes of text follow after + 1, which
// spares the test and the padded copy that nearer values take.
template <bool kFar = false>
inline const char* put_value(const char* after, const char* end, bool escape,
                             char*& out) {
  // The value starts one byte on, whatever that byte is.
  if (escape && (*after == '<' || *after == '>')) {
    put_bracket(out, *after);
    out += 3;
  } else {
    *out++ = *after;
  }
  const char* value = after + 1;
  // Asked of after, as the walks ask it, so that they need not ask twice.
  if (kFar || static_cast<std::size_t>(end - after) >= 1 + 8 * kNameWords) {
    replace_value(value, out);
  } else {
    replace_last_value(value, end, out);
  }
  return value;
}
