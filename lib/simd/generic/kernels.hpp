// The kernels written once over a vector type V, which a target's folder
// supplies with its width and these operations:
//   V::runs_here() -> bool              the processor has what V uses;
//   V::kWidth                           bytes in a vector;
//   V::load(const char*) -> V::vec      an unaligned load;
//   V::store(char*, V::vec)             an unaligned store;
//   V::eq(V::vec, char) -> mask_t       bit i set where byte i equals c;
// and may supply
//   V::put_escaped(V::vec, brackets, count, out) -> out
//                                       the first count bytes written out
//                                       with the bytes at brackets as three,
//   or V::put_escaped_from(V::vec, brackets, from, count, out) -> out
//                                       the same for count bytes from byte
//                                       `from` on, brackets counted from
//                                       there, every '<' and '>' among
//                                       them a bracket,
// where the target has a way to do it without a step for each bracket;
//   V::eq_or_pair(V::vec v, char a, char b, V::vec w, char c) -> mask_t
//                                       bit i set where byte i of v is a,
//                                       or is b with byte i of w c,
//   V::either_eq(V::vec v, char a, char b) -> mask_t
//                                       bit i set where byte i is a or b,
// where it can join the two before making a mask of them; and
//   V::none_of(V::vec v, char a, char b, char c) -> bool
//                                       no byte of v is any of the three,
// where it can tell without making masks.
// Each target includes this file inside a namespace of its own, so that
// nothing built with one instruction set is shared with another; and the
// code calls no standard library templates at run time, which would be.
// Each part uses those before it.

// clang-format off
#include "escape.hpp"
#include "colour_values.hpp"
#include "block_walk.hpp"
#include "convert_text.hpp"
#include "plain_tags.hpp"
#include "block_pieces.hpp"
#include "rewrite_body.hpp"
// clang-format on

inline constexpr kernels kKernels = {kName, &V::runs_here, &convert_text,
                                     &rewrite_body};
