#include "options.hpp"

#include <cstddef>

namespace zorbu {

const std::string_view kHelp =
    "usage: zorbu filename\n"
    "       zorbu --into DIR [--update] [--] FILE...\n"
    "Checks that filename is an rt file and writes a rewritten copy to\n"
    "standard output. Only the first argument is read: 'zorbu *.rt' converts\n"
    "the first file alone. A filename of - reads standard input; a file\n"
    "named -, --help, --version or --into is ./-, ./--help and so on.\n"
    "\n"
    "  --into DIR FILE...  convert every FILE into DIR/FILE, in one process;\n"
    "                      exit 1 if any failed, naming each on stderr;\n"
    "                      an earlier output is replaced by a rename\n"
    "    --update          after DIR: pass over each FILE whose output is a\n"
    "                      regular file no older than it\n"
    "    --                after DIR: the options end; any later argument\n"
    "                      that is not an option is a FILE all the same\n"
    "  --help              print this help and exit\n"
    "  --version           print the version and exit\n"
    "\n"
    "A folder tree, on every processor:\n"
    "  cd in && find . -name '*.rt' -print0 |\n"
    "    xargs -0 -n 256 -P\"$(nproc)\" zorbu --into ../out\n";

namespace {

// Reads the known options that follow DIR into into; returns how many
// arguments they took.
std::size_t parse_into_options(std::span<char* const> args,
                               into_options& into) {
  std::size_t taken = 0;
  for (const std::string_view arg : args) {
    if (arg == "--update") {
      into.update = true;
    } else if (arg == "--") {
      return taken + 1;
    } else {
      break;
    }
    ++taken;
  }
  return taken;
}

}  // namespace

options parse_options(int argc, char** argv) {
  options parsed;
  if (argc < 2) return parsed;
  const std::string_view first = argv[1];
  if (first == "--help") {
    parsed.chosen = options::mode::help;
  } else if (first == "--version") {
    parsed.chosen = options::mode::version;
  } else if (first == "--into") {
    parsed.chosen = options::mode::into_folder;
    std::span<char* const> rest(argv + 2, static_cast<std::size_t>(argc - 2));
    if (!rest.empty()) {
      parsed.into.folder = rest[0];
      rest = rest.subspan(1);
      parsed.into.files = rest.subspan(parse_into_options(rest, parsed.into));
    }
  } else {
    parsed.chosen = options::mode::single_file;
    parsed.file = argv[1];
  }
  return parsed;
}

}  // namespace zorbu
