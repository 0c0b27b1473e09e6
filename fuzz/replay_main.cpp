// Runs a fuzz target's checks on files, without libFuzzer: every file named,
// and every file in every folder named, on the set of kernels named by
// --kernels=NAME if given (status 77 where it cannot run). A failed check
// aborts, naming the file on standard error first.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size);

namespace {

bool run_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  std::fprintf(stderr, "%s\n", path.c_str());
  // A heap block of the input's size, as libFuzzer hands over: the vector's
  // spare capacity would let a read past the end go unseen by ASan.
  const auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), exact.get());
  LLVMFuzzerTestOneInput(exact.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::string path = argv[i];
    if (const std::string_view option = "--kernels=";
        path.starts_with(option)) {
      const std::string_view name =
          std::string_view(path).substr(option.size());
      zorbu::fuzz::forced_kernels() = zorbu::simd::kernels_named(name);
      if (zorbu::fuzz::forced_kernels() == nullptr) {
        std::printf("%s: not run here\n", path.c_str());
        return 77;
      }
      continue;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      DIR* dir = ::opendir(path.c_str());
      if (dir == nullptr) return 1;
      while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name[0] == '.') continue;
        ok = run_file(path + "/" + name) && ok;
        ++files;
      }
      ::closedir(dir);
    } else {
      ok = run_file(path) && ok;
      ++files;
    }
  }
  std::printf("%d passed, %d failed\n", ok ? files : 0, ok ? 0 : 1);
  return ok && files > 0 ? 0 : 1;
}
