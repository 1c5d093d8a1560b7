#include "platform/posix/standard_options.h"

namespace parvo {
namespace {

constexpr char kUsage[] =
    "Usage: parvo [PATH]...\n"
    "Extracts each archive PATH into a folder on the desktop named after it, and packs each\n"
    "folder PATH onto the desktop in the format chosen in the settings dialog. Without a PATH,\n"
    "opens the settings dialog.\n"
    "\n"
    "Archives extracted: .cab .lzh .zip .tar .arj\n"
    "Folders packed as: a self-extracting program NAME.run (the default), a cabinet NAME.cab\n"
    "or an LHA archive NAME.lzh\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Either option counts only as the one argument; any other argument is a path. A file\n"
    "named --help or --version is reached as ./--help or ./--version.\n"
    "\n"
    "Exit status: 0 when every path was processed, 1 when a run-time error stopped the run,\n"
    "2 when a job ended with a message instead of its output.\n"
    "\n"
    "See parvo(1) for the details.\n";

}  // namespace

std::optional<std::string> standardOptionText(const std::vector<std::string>& arguments) {
  if (arguments.size() != 1) return std::nullopt;
  if (arguments[0] == "--help") return kUsage;
  if (arguments[0] == "--version") return std::string("parvo ") + PARVO_VERSION + "\n";
  return std::nullopt;
}

}  // namespace parvo
