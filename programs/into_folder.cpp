// zorbu --into: the loop over the files and folders it is given, each file
// converted into the output folder under its own path, and the count of
// those that failed.
#include "into_folder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "fd_io.hpp"
#include "folder_walk.hpp"
#include "messages.hpp"
#include "output_path.hpp"
#include "output_tree.hpp"
#include "partial_output.hpp"
#include "progress.hpp"
#include "same_file.hpp"
#include "up_to_date.hpp"

namespace zorbu {

namespace {

constexpr int kExitSomeFailed = 1;
constexpr int kExitNothingDone = 255;

// Writes the one line that ends a run in which any file failed, with how
// many were up to date when the run passes over those.
void say_failed(std::size_t failed, std::size_t files,
                std::optional<std::size_t> up_to_date) {
  if (failed == 0) return;
  char line[128];
  int n = std::snprintf(line, sizeof line, "%zu of %zu file%s failed", failed,
                        files, files == 1 ? "" : "s");
  if (n > 0 && up_to_date) {
    n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n),
                       ", %zu up to date", *up_to_date);
  }
  if (n > 0) {
    message::say({line, std::min(static_cast<std::size_t>(n), sizeof line - 1)},
                 "zorbu: ");
  }
}

// Reports an invalid input, with why it is one.
bool report_invalid(std::string_view path, invalid_reason why, int error) {
  char detail[160];
  const char* const text = reason_text(why);
  int n = 0;
  if (text != nullptr) {
    n = std::snprintf(detail, sizeof detail, " (%s)", text);
  } else if (why == invalid_reason::first_line_unread) {
    n = std::snprintf(detail, sizeof detail, " (%.*s%s)",
                      static_cast<int>(message::kCannotReadFile.size()),
                      message::kCannotReadFile.data(),
                      std::strerror(error != 0 ? error : EIO));
  }
  const std::size_t size =
      n > 0 ? std::min(static_cast<std::size_t>(n), sizeof detail - 1) : 0;
  return message::report(path, message::kInvalid, {detail, size});
}

// One run of --into: what every file shares, and the counts.
class folder_run final : public walk_visitor {
 public:
  folder_run(output_tree& tree, std::span<char> storage,
             const simd::kernels& kernels, bool update, std::size_t total)
      : tree_(tree),
        storage_(storage),
        kernels_(kernels),
        update_(update),
        progress_(total, update) {
    (void)::fstat(tree.root(), &root_);
  }

  // Converts a file given by name, or every rt file under a folder.
  void argument(const char* given) { convert(AT_FDCWD, given, given, true); }

  void file(int folder, const char* name, const std::string& path) override {
    convert(folder, name, path, false);
  }
  // A folder whose files are unknown counts as one file that failed.
  void unreadable(const std::string& path, int error) override {
    count(error == ESTALE ? message::report(path, message::kFolderMoved)
                          : message::report(path, message::kCannotOpen,
                                            std::strerror(error)),
          0);
  }

  // Ends the run: clears the progress line and says what failed.
  void finish() {
    progress_.finish();
    say_failed(failed_, files_,
               update_ ? std::optional<std::size_t>(skipped_) : std::nullopt);
  }
  bool any_failed() const { return failed_ > 0; }

 private:
  void count(bool converted, std::uint64_t bytes) {
    ++files_;
    if (!converted) ++failed_;
    progress_.file_done(bytes);
  }
  // Converts the file `name` in folder, whose path is given, or with
  // may_walk walks a folder; the file is counted, the folder is not, only
  // the files under it.
  void convert(int folder, const char* name, std::string_view given,
               bool may_walk) {
    const std::optional<bool> up_to_date =
        update_ ? check_update(folder, name, given) : std::nullopt;
    if (up_to_date && *up_to_date) {
      ++files_;
      ++skipped_;
      progress_.file_skipped();
      return;
    }
    if (up_to_date) {
      count(false, 0);
      return;
    }
    std::uint64_t bytes = 0;
    const std::optional<bool> converted =
        convert_one(folder, name, given, may_walk, bytes);
    if (converted) count(*converted, bytes);
  }
  std::optional<bool> check_update(int folder, const char* name,
                                   std::string_view given);
  std::optional<bool> convert_one(int folder, const char* name,
                                  std::string_view given, bool may_walk,
                                  std::uint64_t& bytes);
  void walk(int folder, std::string_view given);

  output_tree& tree_;
  std::span<char> storage_;
  const simd::kernels& kernels_;
  bool update_;
  update_rule rule_;
  partial_names names_;
  progress progress_;
  std::string path_;     // the path of the file a walk is at
  struct stat root_ {};  // the output folder, which no walk enters
  std::size_t files_ = 0;
  std::size_t failed_ = 0;
  std::size_t skipped_ = 0;
};

// Returns true when --update passes over the file `name` in folder, whose
// path is given; false when it failed, which it has reported; and nothing
// when the file is to be converted, or refused, as without --update.
std::optional<bool> folder_run::check_update(int folder, const char* name,
                                             std::string_view given) {
  const output_path path = output_path_of(given);
  char final_name[NAME_MAX + 1];
  struct stat input {};
  if (given == "-" || path.climbs || path.name.empty() || path.name == "." ||
      !to_name(path.name, final_name) ||
      ::fstatat(folder, name, &input, 0) != 0 || !S_ISREG(input.st_mode)) {
    return std::nullopt;
  }
  const int output_folder = tree_.find(path.folders);
  struct stat output {};
  if (output_folder < 0 ||
      ::fstatat(output_folder, final_name, &output, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::nullopt;
  }
  // Before the times: an output that is its own input is never up to date.
  if (same_file(output, input)) {
    return message::report(given, message::kInputIsOutput);
  }
  if (!rule_.up_to_date(output, input)) return std::nullopt;
  return true;
}

// Converts one input; returns false when it failed, which it has reported,
// and nothing for a folder, walked instead.
std::optional<bool> folder_run::convert_one(int folder, const char* name,
                                            std::string_view given,
                                            bool may_walk,
                                            std::uint64_t& bytes) {
  if (given == "-") return message::report(given, message::kNoName);
  // A folder that climbs out of the output folder is said once, as a file.
  const output_path path = output_path_of(given);
  if (path.climbs) return message::report(given, message::kLeavesFolder);
  // Not blocking, so that a FIFO with no writer reads as empty instead of
  // stopping the run; the reader waits for data like any other.
  const int input =
      ::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (input < 0) {
    return message::report(given, message::kCannotOpen, std::strerror(errno));
  }
  struct stat input_stat {};
  (void)::fstat(input, &input_stat);
  if (may_walk && S_ISDIR(input_stat.st_mode)) {
    if (same_file(input_stat, root_)) {
      ::close(input);
    } else {
      walk(input, given);
    }
    return std::nullopt;
  }
  fd_source source(input);
  partial_output output(tree_, names_, path, input_stat);
  status result = status::out_of_memory;
  invalid_reason why = invalid_reason::none;
  try {
    result = filter_rt(source, output, storage_, block_reader::kDefaultBlock,
                       kernels_, &why);
  } catch (const std::bad_alloc&) {
    result = status::out_of_memory;
  }
  ::close(input);
  bytes = source.bytes_read();
  if (result == status::done && output.publish()) return true;
  if (result == status::unwritable || result == status::done) {
    const write_failure& failure = output.failure();
    if (failure.error == 0) return message::report(given, failure.why);
    return message::report(given, message::kCannotWrite,
                           std::strerror(failure.error));
  }
  if (result == status::invalid) {
    return report_invalid(given, why, source.error());
  }
  return message::report(given, message::for_status(result));
}

// Walks the folder given, open as folder.
void folder_run::walk(int folder, std::string_view given) {
  path_.assign(given);
  walk_folder(folder, path_, root_, *this);
}

// Returns how many files a list holds, or 0 when a folder is among them,
// whose files are not counted before they are walked; 0 too where no
// progress is shown, which spares a look at each.
std::size_t files_given(std::span<char* const> files) {
  if (::isatty(STDERR_FILENO) != 1) return 0;
  for (const char* file : files) {
    struct stat st {};
    if (std::string_view(file) != "-" && ::stat(file, &st) == 0 &&
        S_ISDIR(st.st_mode)) {
      return 0;
    }
  }
  return files.size();
}

}  // namespace

int convert_into_folder(const into_options& options,
                        const simd::kernels& kernels) {
  // A message to a standard error that nobody reads any more is lost, not
  // the end of the run: the partial output is still removed, the files
  // after it converted, and the status tells of the failure.
  (void)std::signal(SIGPIPE, SIG_IGN);
  if (options.folder == nullptr) {
    message::say(message::kUsageInto);
    return kExitNothingDone;
  }
  const std::span<char* const> files = options.files;
  if (files.empty()) return 0;

  // One allocation serves every file of the run.
  const std::size_t size = filter_storage_for(block_reader::kDefaultBlock);
  const std::unique_ptr<char, decltype(&std::free)> storage(
      static_cast<char*>(std::malloc(size)), &std::free);
  if (!storage) {
    message::say_error(message::kOutOfMemory);
    return kExitNothingDone;
  }
  const int root = make_output_folder(options.folder);
  if (root < 0) {
    message::report(options.folder, message::kCannotMakeFolder,
                    std::strerror(errno));
    return kExitNothingDone;
  }
  remove_partial_on_signals();
  output_tree tree(root);
  folder_run run(tree, {storage.get(), size}, kernels, options.update,
                 files_given(files));
  for (char* const file : files) run.argument(file);
  run.finish();
  return run.any_failed() ? kExitSomeFailed : 0;
}

}  // namespace zorbu
