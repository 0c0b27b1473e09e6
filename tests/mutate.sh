#!/usr/bin/env bash
# Makes small wrong edits to a copy of the program, one at a time, rebuilds
# and runs the whole suite on each, and reports every edit that the suite
# did not catch. Each edit stands for one rule of the program's behaviour; a
# surviving edit is a rule no test holds the code to.
# Usage: tests/mutate.sh [--cross ARCH] [NAME_PATTERN]
#   (exits 1 if an edit survives). --cross builds for ARCH with its file in
#   cmake/toolchains and runs the suite under qemu-user, for the kernels
#   of another architecture: tests/mutate.sh --cross aarch64 'neon-*'.
set -euo pipefail
cd "$(dirname "$0")/.."
cross=
if [ "${1:-}" = --cross ]; then
  cross=${2:?--cross needs an architecture}
  shift 2
fi
# A pattern may join several with |, as in 'value-*|into-*'.
only=${1:-}
shopt -s extglob
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A copy of the tree, built once; each edit then rebuilds what it touches.
tar --exclude=./build --exclude=./.git -cf - . | (cd "$work" && tar -xf -)
cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZORBU_WERROR=OFF ${cross:+-DCMAKE_TOOLCHAIN_FILE="$work/cmake/toolchains/$cross.cmake"} \
  ${cross:+-DZORBU_STATIC_CXX_RUNTIME=OFF} >/dev/null
cmake --build "$work/build" -j2 >/dev/null

# edit NAME FILE OLD NEW: OLD must stand in FILE exactly once.
names=() files=() olds=() news=()
edit() { names+=("$1"); files+=("$2"); olds+=("$3"); news+=("$4"); }

edit colour-code lib/common/rt_format.hpp '"#ffa500"' '"#ffa501"'
edit colour-code-olive lib/common/rt_format.hpp '{"olive", "#808000"}' '{"olive", "#808001"}'
edit colour-code-silver lib/common/rt_format.hpp '"#c0c0c0"' '"#c0c0c1"'
edit colour-name lib/common/rt_format.hpp '{"gray", ' '{"grav", '
edit colour-name-quote lib/common/rt_format.hpp "names.bytes[i][name.size()] = '\"';" "names.bytes[i][name.size()] = 'x';"
edit window-word lib/common/rt_format.hpp 'kWindowTag = "window";' 'kWindowTag = "windows";'
edit escape-brace lib/simd/generic/escape.hpp 'static_cast<unsigned char>(c) + kBraceStep);' 'static_cast<unsigned char>(c) + kBraceStep + 1);'
edit escape-last-byte lib/simd/avx512/kernels.cpp 'last * 0x01010101U;' 'last * 0x01U;'
edit escape-group-row lib/simd/avx2/kernels.cpp '(0xff << kRowShift)' '(0x7f << kRowShift)'
edit escape-second-half lib/simd/avx2/kernels.cpp 'if (count > 32) {' 'if (count > 40) {'
edit tag-pair-both lib/simd/avx2/kernels.cpp '_mm256_and_si256(is(h, b), is(g, c))' '_mm256_or_si256(is(h, b), is(g, c))'
edit tag-pair-high lib/simd/avx2/kernels.cpp 'half(v.hi, w.hi) << 32;' 'half(v.hi, w.lo) << 32;'
edit escape-scalar lib/rt/text_converter.cpp 'return put_bytes(out, kEscapedClose);' 'return put_bytes(out, kEscapedClose.substr(1));'
edit line-limit lib/common/rt_format.hpp 'kMaxLine = 1023;' 'kMaxLine = 1024;'
edit line-limit-backwards lib/rt/lines.cpp '/ kMaxLine * kMaxLine' '/ 1000 * 1000'
edit first-line-markup lib/filter/filter_core.cpp 'text_converter markup(simd::text_kind::markup, kernels_);' 'text_converter markup(simd::text_kind::timed_text, kernels_);'
edit font-rule lib/filter/filter_core.cpp 'kFontTag, tag) ? 2 : 1;' 'kFontTag, tag) ? 1 : 1;'
edit value-offset lib/simd/generic/colour_values.hpp 'const char* value = after + 1;' 'const char* value = after + 2;'
edit first-key-unquoted lib/simd/generic/colour_values.hpp '  if (first_key) return sign[-1] == kQuotedColourKey[kKey - 2];' ''
edit later-keys-quoted lib/simd/generic/colour_values.hpp 'kQuotedColourKey.data() + kKey - 3, 4) == 0;' 'kQuotedColourKey.data() + kKey - 3, 3) == 0;'
edit empty-name lib/rt/tag_search.cpp "if (inside.empty() || inside[0] == ' ') {" "if (inside.empty()) {"
edit name-ends-at-space lib/rt/tag_search.cpp "inside.substr(0, inside.find(' '))" "inside.substr(0, inside.find('\\t'))"
edit self-closing-slash lib/rt/tag_search.cpp "self_closing = str[gt - 1] == '/';" "self_closing = false;"
edit self-closing-rewrite lib/rt/body_writer.cpp "tag[tag.size() - 2] == '/'" "tag[tag.size() - 2] == '\\\\'"
edit one-tag-a-line lib/rt/body_writer.cpp 'if (line == s.tag_line) return false;' ''
edit one-tag-a-line-kernel lib/simd/generic/plain_tags.hpp "c[-1] == '\\n' ? plain_tag_close" 'true ? plain_tag_close'
edit close-text lib/common/rt_format.hpp 'kCloseTime = "</time>";' 'kCloseTime = "</tim>";'
edit close-text-kernel lib/simd/generic/plain_tags.hpp 'kCloseWord = word_of(kCloseTime);' 'kCloseWord = word_of("</tim>>");'
edit text-before-tag lib/rt/body_writer.cpp 'segment_.add(line.substr(0, *tag_.start), readable_end_);' ''
edit text-before-a-later-tag lib/rt/body_writer.cpp '.convert_text(candidate, tag.data(), readable_end_, b.out,' '.convert_text(candidate, candidate, readable_end_, b.out,'
edit text-before-tag-kernel lib/simd/generic/rewrite_body.hpp 'return put_tag(c, pieces.put_to(at, out));' 'return put_tag(c, out);'
edit text-before-first-cut-tag lib/simd/generic/rewrite_body.hpp '0, first_cut, out));' '0, 0, out));'
edit invalid-writes-nothing lib/filter/filter_core.cpp '    if (count_lines(held) == closing_) {
      return invalid(invalid_reason::no_body);
    }
' ''
edit negative-count-passes lib/filter/filter_core.cpp 'if (count_lines(held) == closing_)' 'if (count_lines(held) <= closing_)'
edit no-window lib/filter/filter_core.cpp '    if (closing_ == 0) return invalid(invalid_reason::no_window);
' ''
edit reason-empty lib/filter/filter_core.cpp 'return invalid(invalid_reason::empty);' 'return invalid(invalid_reason::no_body);'
edit reason-no-window lib/filter/filter_core.cpp 'return invalid(invalid_reason::no_window);' 'return invalid(invalid_reason::empty);'
edit reason-no-body lib/filter/filter_core.cpp '      return invalid(invalid_reason::no_body);' '      return invalid(invalid_reason::no_window);'
edit reason-text lib/common/status.hpp '"no body lines"' '"no body line"'
edit reason-unread lib/filter/pull_driver.cpp 'if (why != nullptr) *why = invalid_reason::first_line_unread;' ''
edit reason-stream lib/api/zorbu.cpp 'zorbu::reason_text(stream->stream->reason())' 'zorbu::reason_text(zorbu::invalid_reason::none)'
edit reason-one-shot lib/filter/one_shot.cpp '  while (!core.known_valid() &&' '  while (false &&'
edit held-lines lib/filter/filter_core.cpp 'last_lines_start(rest, closing_)' 'last_lines_start(rest, closing_ - 1)'
edit read-error-made-up lib/filter/pull_driver.cpp 'if (!run.reading_first_line()) return status::unreadable;' 'break;'
edit stream-before-read lib/filter/pull_driver.cpp '    if (!buffered.flush()) return status::unwritable;
    if (!reader.refill()' '    if (!reader.refill()'
edit value-waits-for-name lib/rt/text_converter.cpp 'if (!last && rest.size() < kLongestColorName) return value_found::needs_more;' 'if (false) return value_found::needs_more;'
edit key-across-pieces lib/rt/text_converter.cpp 'if (size == 0 || kColourKey.find' 'if (true || kColourKey.find'
edit free-slot lib/simd/generic/colour_values.hpp 'word_of({"\xff\0\xff", 3})' '0'
edit tail-mask lib/simd/generic/block_walk.hpp 'return {at, V::load(at), whole, low_bits(whole)};' 'return {at, V::load(at), whole, low_bits(V::kWidth)};'
edit whole-blocks-end lib/simd/generic/block_walk.hpp 'return reach_end(p, end, readable_end, V::kWidth, kTail);' 'return reach_end(p, end, readable_end, V::kWidth - 1, kTail);'
edit whole-run-flush lib/simd/generic/convert_text.hpp '  void start_whole() {
    out = escape_stage(stage, s, out);
    s = stage;
  }' '  void start_whole() {}'
edit whole-run-end lib/simd/generic/convert_text.hpp 'if (block.at != p) continue;' 'if (false) continue;'
edit stage-tail lib/simd/generic/convert_text.hpp '                      static_cast<std::size_t>(stage_end - block), out);' '                      W, out);'
edit plain-block-high lib/simd/avx2/kernels.cpp 'const __m256i any = _mm256_or_si256(hits(v.lo), hits(v.hi));' 'const __m256i any = hits(v.lo);'
edit plain-block-close lib/simd/avx2/kernels.cpp '_mm256_or_si256(is(h, a), is(h, b)), is(h, c));' '_mm256_or_si256(is(h, a), is(h, b)), is(h, b));'
edit either-high lib/simd/avx2/kernels.cpp 'return half(v.lo) | half(v.hi) << 32;' 'return half(v.lo) | half(v.lo) << 32;'
edit sse2-plain-block lib/simd/sse2/kernels.cpp '_mm_or_si128(_mm_or_si128(is(h, a), is(h, b)), is(h, c));' '_mm_or_si128(_mm_or_si128(is(h, a), is(h, b)), is(h, b));'
edit sse2-plain-high lib/simd/sse2/kernels.cpp '_mm_or_si128(hits(v.lo), hits(v.hi))' 'hits(v.lo)'
edit sse2-mask-high lib/simd/sse2/kernels.cpp 'static_cast<mask_t>(_mm_movemask_epi8(hi)) << 16;' 'static_cast<mask_t>(_mm_movemask_epi8(hi)) << 15;'
edit sse2-pair-high lib/simd/sse2/kernels.cpp 'half(v.hi, w.hi));' 'half(v.hi, w.lo));'
edit pair-second lib/simd/generic/escape.hpp '(T::eq(v, b) & T::eq(w, c))' '(T::eq(v, b) & T::eq(v, c))'
edit avx512-either-second lib/simd/avx512/kernels.cpp '_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(b))));' '_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(a))));'
edit neon-mask-weights lib/simd/neon/kernels.cpp '1, 2, 4, 8, 16, 32, 64, 128};' '1, 2, 4, 8, 16, 32, 64, 64};'
edit neon-plain-block lib/simd/neon/kernels.cpp 'is(v, b)), is(v, c))) == 0;' 'is(v, b)), is(v, b))) == 0;'
edit neon-pair-both lib/simd/neon/kernels.cpp 'vandq_u8(is(v, b), is(w, c))' 'vorrq_u8(is(v, b), is(w, c))'
edit neon-escape-second-group lib/simd/neon/kernels.cpp 'if (count > 8) group(' 'if (count > 9) group('
edit neon-escape-size lib/simd/neon/kernels.cpp 'out += kSpreadSize[row];' 'out += kSpreadSize[row] - 2;'
edit neon-markup-unescaped lib/simd/neon/kernels.cpp 'if (brackets == 0) {' 'if (false) {'
edit value-not-all-here lib/simd/generic/convert_text.hpp '(end - after) < 1 + kLongestName && !last) {' '(end - after) < 1 && !last) {'
edit plain-tag-self-closing lib/simd/generic/plain_tags.hpp "const bool self_closing = close[-1] == '/';" 'const bool self_closing = false;'
edit plain-tag-slash-shape lib/simd/generic/plain_tags.hpp "(next == '/' && close != c + kAfterName + 1)" '(false)'
edit plain-tags-end lib/simd/generic/plain_tags.hpp 'return reach_end(p, end, readable_end, kPlainTag, kTagReach);' 'return reach_end(p, end, readable_end, 6, kTagReach);'
edit reach-end lib/simd/generic/block_walk.hpp 'smaller(to_end - text, to_readable - readable) + 1' 'smaller(to_end - text, to_readable - readable) + 2'
edit value-before-a-tag lib/simd/generic/rewrite_body.hpp "std::memcmp(after + kNameAt, kTimeTag.data(), kTimeTag.size()) == 0) {" "false) {"
edit value-on-next-line lib/simd/generic/rewrite_body.hpp '    value_at_end = true;' '    value_at_end = false;'
edit value-on-next-line-resumed lib/rt/body_writer.cpp 'b.has_text, b.value_at_end);' 'b.has_text, false);'
edit value-on-next-line-settles lib/rt/body_writer.cpp '    if (!segment_.settled()) {
      p = line_by_line(p, lines_end, true);' '    if (false) {
      p = line_by_line(p, lines_end, true);'
edit tag-restart lib/simd/generic/rewrite_body.hpp 'p = text = from = tag.close + 1;' 'p = text = from = tag.close;'
edit cut-shift lib/simd/generic/block_pieces.hpp 'return 2 * static_cast<std::size_t>(' 'return 1 * static_cast<std::size_t>('
edit cut-shift-at-start lib/simd/generic/block_pieces.hpp '        shift = shift_at(done);' ''
edit cut-written lib/simd/generic/rewrite_body.hpp 'cuts = cuts >> done << done;' ''
edit cut-after-value lib/simd/generic/rewrite_body.hpp 'if (put_key<Far>(c, at, pieces)) cuts &= ~low_bits(pieces.done);' 'put_key<Far>(c, at, pieces);'
edit cut-rest lib/simd/generic/rewrite_body.hpp '      out = pieces.put_rest(out);' ''
edit cut-value-runs-on lib/simd/generic/rewrite_body.hpp 'for (done = pieces.done; done >= V::kWidth; done -= V::kWidth) {' 'for (done = 0; done >= V::kWidth; done -= V::kWidth) {'
edit cut-first-tag-after-value lib/simd/generic/rewrite_body.hpp 'if (done == 0) {' 'if (cuts != 0) {'
edit text-run-keys lib/simd/generic/rewrite_body.hpp "if (eq_or_pair<V>(v, '=', '<'," "if (eq_or_pair<V>(v, '\\x01', '<',"
edit text-run-tags lib/simd/generic/rewrite_body.hpp "'<', V::load(p + 1), 't') != 0) break;" "'<', V::load(p + 1), '\\x01') != 0) break;"
edit text-run-escape lib/simd/generic/rewrite_body.hpp "out = put_escaped<V>(v, p, either_eq<V>(v, '<', '>'), 0, W, out);" "out = put_escaped<V>(v, p, V::eq(v, '<'), 0, W, out);"
edit text-run-start lib/simd/generic/rewrite_body.hpp 'if (has_none_of<V> && plain && after_plain) {' 'if (has_none_of<V> && after_plain) {'
edit far-values lib/simd/generic/rewrite_body.hpp 'W + 2 + 8 * kNameWords, kTail);' 'W + 1, kTail);'
edit markup-keeps-brackets lib/simd/generic/convert_text.hpp 'if (has_put_escaped_from<V> && escaped == 0) {' 'if (false) {'
edit block-brackets lib/simd/generic/convert_text.hpp "const mask_t brackets = either_eq<V>(v, '<', '>') & low_bits(whole);
  if (brackets != 0) return" "const mask_t brackets = V::eq(v, '<') & low_bits(whole);
  if (brackets != 0) return"
edit stage-chunk lib/simd/generic/convert_text.hpp '    out = escape_stage(stage, s, out);
    s = stage;
  }
  char* finish()' '    out = escape_stage(stage, s - 1, out);
    s = stage;
  }
  char* finish()'
edit message-invalid lib/common/status.hpp '"invalid rt file"' '"invalid rt-file"'
edit message-usage programs/messages.hpp '"usage: zorbu filename"' '"usage: zorbu file"'
edit message-memory lib/common/status.hpp '"out of memory"' '"no memory"'
edit message-newline programs/messages.cpp '  line.put_plain(message);
  line.put_plain("\n");' '  line.put_plain(message);
  line.put_plain(" ");'
edit exit-status programs/main.cpp 'return -1;' 'return 1;'
edit same-file programs/same_file.hpp 'a.st_dev == b.st_dev && a.st_ino == b.st_ino;' 'a.st_dev == b.st_dev;'
edit same-file-stdout programs/main.cpp 'zorbu::same_file(in, out);' 'false;'
edit file-size-signal programs/main.cpp '(void)std::signal(SIGXFSZ, SIG_IGN);' ''
edit reserve-descriptors programs/main.cpp '  reserve_standard_descriptors();
  //' '  //'
edit stdin-dash programs/main.cpp 'std::string_view(name) == "-";' 'std::string_view(name) == "--";'
edit help-status programs/main.cpp '  return 0;
}

}  // namespace' '  return 1;
}

}  // namespace'
edit poll-on-eagain programs/fd_io.cpp 'if (errno != EAGAIN && errno != EWOULDBLOCK) return false;' 'return false;'
edit write-takes-nothing programs/fd_io.cpp 'if (n <= 0) return false;' 'if (n < 0) return false;'
edit write-failure lib/filter/pull_driver.cpp 'return buffered.flush() ? status::done : status::unwritable;' 'buffered.flush();
  return status::done;'
edit into-climbs programs/output_path.cpp 'if (next_component(rest) == "..") result.climbs = true;' ''
edit into-empty-folders programs/output_path.cpp '!component.empty() && component != "."' 'component != "."'
edit into-no-follow programs/output_tree.cpp 'O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC' 'O_RDONLY | O_DIRECTORY | O_CLOEXEC'
edit into-link-message programs/output_tree.cpp 'if (is_symbolic_link(folder, name)) failure = {message::kLeavesFolder, 0};' ''
edit into-same-file programs/partial_output.cpp 'if (replacing && same_file(existing, input_)) {' 'if (false) {'
edit into-discard programs/partial_output.cpp '  (void)::unlinkat(folder_, partial_name, 0);
  partial_folder = -1;' '  partial_folder = -1;'
edit into-sigpipe programs/into_folder.cpp '(void)std::signal(SIGPIPE, SIG_IGN);' ''
edit into-signals programs/partial_output.cpp 'action.sa_handler = remove_partial_and_die;' ''
edit into-close-folder programs/output_tree.cpp '    ::close(oldest.fd);
    oldest.fd = -1;
' ''
edit into-escape programs/messages.cpp 'if (byte < 32 || byte == 127) {' 'if (byte < 9) {'
edit into-status programs/into_folder.cpp 'kExitSomeFailed = 1;' 'kExitSomeFailed = 0;'
edit into-no-files programs/into_folder.cpp 'if (files.empty()) return 0;' ''
edit into-umask programs/partial_output.cpp 'O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);' 'O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);'
edit into-stdin programs/into_folder.cpp 'if (given == "-") return message::report(given, message::kNoName);' ''
edit stream-takes-input lib/filter/push_stream.cpp '  in.remove_prefix(joined_);
  joined_ = 0;
  return result;' '  joined_ = 0;
  return result;'
edit stream-drain lib/filter/push_stream.cpp 'return n == pending.size();' 'return true;'
edit stream-invalid-stays lib/filter/push_stream.cpp 'return leave(in, status::invalid);' 'return leave(in, status::done);'
edit stream-finish-invalid lib/filter/push_stream.cpp 'progress::finished) return parts_->run.result();' 'progress::finished) return status::done;'
edit stream-push-after-finish lib/filter/push_stream.cpp 'if (ended_) return status::misuse;' ''
edit set-kernels-after-push lib/filter/push_stream.cpp 'if (pushed_) return status::misuse;' ''
edit push-counts-as-pushed lib/filter/push_stream.cpp '  pushed_ = true;
  // An invalid' '  // An invalid'
edit invalid-after-finish lib/filter/push_stream.cpp 'if (found_invalid()) return status::invalid;' ''
edit kernels-unsupported lib/api/zorbu.cpp 'if (set == nullptr) return ZORBU_UNSUPPORTED;' 'if (set == nullptr) return ZORBU_MISUSE;'
edit result-text-plain lib/api/zorbu.cpp 'return "kernel set not available";' 'return "error: kernel set not available";'
edit one-shot-short lib/filter/one_shot.cpp 'fits ? status::done : status::output_full' 'fits ? status::done : status::unwritable'
edit result-output-full lib/api/zorbu.cpp '      return ZORBU_OUTPUT_FULL;' '      return ZORBU_DONE;'
edit result-invalid lib/api/zorbu.cpp '      return ZORBU_INVALID;' '      return ZORBU_MISUSE;'
edit bound-constant include/zorbu.h '(size_t)(n)*3 + (size_t)64)' '(size_t)(n)*3 + (size_t)32)'
edit one-shot-in-place lib/common/byte_buffers.cpp '    placed_ = size_;' '    placed_ = 0;'
edit one-shot-fills-what-fits lib/common/byte_buffers.cpp 'std::min(size_, dst_.size() - placed_);' 'size_ <= dst_.size() - placed_ ? size_ : 0;'
edit one-shot-short-room lib/common/byte_buffers.cpp '    if (n < size_) ok_ = false;' ''
edit into-replaced-mode programs/partial_output.cpp 'if (replacing && S_ISREG(existing.st_mode) &&' 'if (false &&'
edit into-replaced-setuid programs/partial_output.cpp 'existing.st_mode & 0777' 'existing.st_mode & 07777'
edit into-write-reason programs/into_folder.cpp 'return message::report(given, message::kCannotWrite,' 'return message::report(given, message::kUnwritable,'
edit into-summary-silent programs/into_folder.cpp '  if (failed == 0) return;' ''
edit into-summary-failed programs/into_folder.cpp '    if (!converted) ++failed_;' '    if (!converted) failed_ += 2;'
edit into-summary-files programs/into_folder.cpp '    ++files_;
    if (!converted) ++failed_;' '    if (!converted) ++failed_;'
edit into-walk-output-folder programs/folder_walk.cpp '} else if (same_file(id, skip_)) {' '} else if (false) {'
edit into-walk-any-case programs/folder_walk.cpp "(name[name.size() - 2] | 0x20) == 'r'" "name[name.size() - 2] == 'r'"
edit into-walk-linked-folder programs/folder_walk.cpp '!(kind == DT_LNK && leads_to_folder(folder, name))' 'true'
edit into-walk-other-names programs/folder_walk.cpp '  } else if (has_rt_name(name) &&' '  } else if ('
edit into-progress-cleared programs/messages.cpp '    if (status_shown != 0) put_plain(kEraseLine);' ''
edit into-progress-signal programs/partial_output.cpp '  zorbu::message::clear_status_in_handler();' ''
edit into-walk-from-folder programs/into_folder.cpp '::openat(folder, name, O_RDONLY' '::openat(AT_FDCWD, std::string(given).c_str(), O_RDONLY'
edit into-walk-reopen-same programs/folder_steps.cpp 'if (!same_file(st, was)) {' 'if (false) {'
edit into-walk-kept-open programs/folder_walk.cpp 'if (++open_below_first_ > kept_open_) {' 'if (false) {'
edit into-output-kept-open programs/output_tree.cpp 'if (++open_ > kept_open_) {' 'if (++open_ > 1000) {'
edit into-walk-unreadable-counts programs/into_folder.cpp '    count(error == ESTALE' '    (void)(error == ESTALE'
edit into-walk-moved-message programs/into_folder.cpp 'error == ESTALE' 'error == EIO'
edit into-progress-terminal programs/progress.cpp '::isatty(STDERR_FILENO) == 1' 'true'
edit into-backslash programs/messages.cpp "if (c == '\\\\') {" 'if (false) {'
edit update-not-older programs/up_to_date.cpp 'return floor_div(nanoseconds(output.st_mtim), step) >=' 'return floor_div(nanoseconds(output.st_mtim), step) >'
edit update-to-the-second programs/up_to_date.cpp 'std::max(granularity(output), granularity(input));' 'kSecondNs;'
edit update-regular-only programs/up_to_date.cpp '  if (!S_ISREG(output.st_mode)) return false;' ''
edit update-own-input-first programs/into_folder.cpp 'if (same_file(output, input)) {' 'if (false) {'
edit update-summary programs/into_folder.cpp 'update_ ? std::optional<std::size_t>(skipped_) : std::nullopt' 'std::nullopt'
edit update-progress programs/progress.cpp 'if (counts_skipped_) {' 'if (false) {'
edit options-end programs/options.cpp 'return taken + 1;' 'return taken;'
edit options-update programs/options.cpp 'if (arg == "--update") {' 'if (arg == "--updates") {'
edit py-keeps-mode python/zorbu/_files.py 'os.fchmod(fd, stat.S_IMODE(existing.st_mode) & 0o777)' 'os.fchmod(fd, stat.S_IMODE(existing.st_mode))'
edit py-special-written-into python/zorbu/_files.py '            _convert_into_special(next_piece, path)' '            _convert_to_path(next_piece, path, existing)'
edit py-unnamed-output python/zorbu/_files.py 'if os.path.isdir(_FD_LINKS) and hasattr(os, "O_TMPFILE"):' 'if False:'
edit py-stream-a-call python/zorbu/_files.py 'stream = idle.pop() if idle else Stream()' 'stream = idle[-1] if idle else Stream()'
edit py-kernels-nul python/zorbu/_stream.py 'if kernels is not None and "\0" in kernels:' 'if False:'
edit py-reason python/zorbu/_stream.py '_raise_for(result, lambda: _lib.zorbu_invalid_reason(stream))' '_raise_for(result, lambda: None)'
edit py-filename python/zorbu/_sources.py 'error.filename = _source_name(src)' 'pass'
edit py-pickle python/zorbu/_library.py '        return type(self), (self.reason, self.filename)' '        return type(self), (self.reason,)'
edit read-carry lib/common/byte_buffers.cpp '    std::memmove(storage_, data_ + pos_, end_ - pos_);' '    std::memmove(storage_, data_ + pos_, (end_ - pos_) / 2);'
edit push-lent-slack lib/common/byte_buffers.cpp '  slack_ = 0;
}' '  slack_ = 32;
}'
edit push-direct-room lib/filter/push_stream.cpp 'if (room < room_for_step(kMaxLine)) return 0;' 'if (room == 0) return 0;'
edit push-join-rest lib/filter/push_stream.cpp 'in.remove_prefix(joined_ - left);' 'in.remove_prefix(joined_);'

# Returns true when an edit's file belongs to a set of kernels that this
# processor cannot run, so that no test here can reach the edit.
not_run_here() {
  local set
  case $1 in
    lib/simd/*/*) ;;
    *) return 1 ;;
  esac
  set=${1#lib/simd/}
  set=${set%%/*}
  # A set of the table other than the portable one, which runs everywhere.
  [ "$set" != portable ] && grep -q "^$set " lib/simd/kernel_sets.txt || return 1
  ${cross:+qemu-$cross-static} "$work/build/tests/case_driver" "$set" \
    /dev/null >/dev/null 2>&1
  [ $? = 77 ]
}

killed=0 survived=() not_here=()
for i in "${!names[@]}"; do
  name=${names[$i]} file=$work/${files[$i]}
  [ -z "$only" ] || [[ $name == @($only) ]] || continue
  if not_run_here "${files[$i]}"; then
    echo "not run here $name"
    not_here+=("$name")
    continue
  fi
  cp "$file" "$file.orig"
  if ! python3 - "$file" "${olds[$i]}" "${news[$i]}" <<'PY'
import sys
path, old, new = sys.argv[1:]
text = open(path, encoding="latin-1").read()
if text.count(old) != 1:
    sys.exit(f"{path}: the text to edit stands {text.count(old)} times")
open(path, "w", encoding="latin-1").write(text.replace(old, new))
PY
  then
    echo "BROKEN $name: the edit no longer applies"
    survived+=("$name(broken)")
    mv "$file.orig" "$file"
    continue
  fi
  if ! cmake --build "$work/build" -j2 >/dev/null 2>&1; then
    # An edit meant to change behaviour that does not even build tests
    # nothing: it is a fault of this list.
    echo "BROKEN $name: the edit does not build"
    survived+=("$name(broken)")
  elif (cd "$work/build" && ctest -j2 --stop-on-failure --timeout 120 >/dev/null 2>&1); then
    echo "SURVIVED $name"
    survived+=("$name")
  else
    echo "killed $name"
    killed=$((killed + 1))
  fi
  mv "$file.orig" "$file"
  touch "$file"
done
cmake --build "$work/build" -j2 >/dev/null 2>&1 || true

echo "$killed killed, ${#survived[@]} survived${survived:+: ${survived[*]}}," \
  "${#not_here[@]} not run here${not_here:+: ${not_here[*]}}"
[ ${#survived[@]} -eq 0 ]
