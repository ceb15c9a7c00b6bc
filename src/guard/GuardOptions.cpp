#include "guard/GuardOptions.h"

#include <charconv>

namespace korbu::guard {
namespace {

bool ToNumber(const std::string& text, long long low, long long high, long long& out) {
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && at == end && out >= low && out <= high;
}

}  // namespace

GuardParse ParseGuardArgs(const std::vector<std::string>& args) {
  GuardParse parsed;
  GuardOptions& o = parsed.options;
  bool customFolders = false;
  bool onlyPaths = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyPaths || arg.empty() || arg[0] != '-') {
      o.paths.push_back(arg);
      continue;
    }
    // An option that takes a value: the next argument, or the text after "=".
    std::string value;
    const auto takeValue = [&](const std::string& name) {
      if (arg.size() > name.size() && arg.compare(0, name.size() + 1, name + "=") == 0) {
        value = arg.substr(name.size() + 1);
        return true;
      }
      if (arg != name) return false;
      if (i + 1 >= args.size()) {
        parsed.error = name + " needs a value";
        return true;
      }
      value = args[++i];
      return true;
    };
    long long number = 0;
    if (arg == "--") {
      onlyPaths = true;
    } else if (arg == "--removable") {
      o.removable = true;
    } else if (arg == "--quarantine") {
      o.quarantine = true;
    } else if (arg == "--status") {
      o.status = true;
    } else if (arg == "--no-syslog") {
      o.syslog = false;
    } else if (arg == "--no-notify") {
      o.notify = false;
    } else if (arg == "--no-spin") {
      o.spin = false;
    } else if (arg == "-h" || arg == "--help") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else if (takeValue("-d") || takeValue("--database")) {
      o.database = value;
    } else if (takeValue("--status-file")) {
      o.statusFile = value;
    } else if (takeValue("--mount-folder")) {
      if (!customFolders) o.mountFolders.clear();
      customFolders = true;
      o.mountFolders.push_back(value);
    } else if (takeValue("--timeout")) {
      if (parsed.error.empty() && !ToNumber(value, 10, 600000, number)) {
        parsed.error = "--timeout takes milliseconds from 10 to 600000";
      }
      o.timeout = std::chrono::milliseconds(number);
    } else if (takeValue("--workers")) {
      if (parsed.error.empty() && !ToNumber(value, 1, 256, number)) parsed.error = "--workers takes 1 to 256";
      o.workers = static_cast<int>(number);
    } else {
      parsed.error = "unknown option " + arg;
    }
    if (!parsed.error.empty()) return parsed;
  }
  if (!o.status && !o.help && !o.version && o.paths.empty() && !o.removable) {
    parsed.error = "nothing to watch: give a PATH or --removable";
  }
  for (const std::string& path : o.paths) {
    if (path.empty() || path[0] != '/') parsed.error = "a PATH to watch must be absolute: " + path;
  }
  return parsed;
}

std::string GuardUsage() {
  return "Usage: korbu-guard [OPTION]... PATH...\n"
         "       korbu-guard --status\n"
         "Guards the file systems that hold each PATH (root only): a detected program is\n"
         "refused when it is started (natively or by Wine), a detected file is reported\n"
         "when it is written.\n"
         "\n"
         "  --removable           also guard and scan every removable volume mounted\n"
         "  --quarantine          move detected written files to the quarantine\n"
         "                        (korbu-scan --history / --undo)\n"
         "  -d, --database DIR    the signature databases\n"
         "  --timeout MS          let an access go after MS milliseconds without verdict\n"
         "                        (default 5000)\n"
         "  --workers N           judging threads (default: one per core)\n"
         "  --mount-folder DIR    mounts below DIR count as removable (default /media\n"
         "                        and /run/media; may be repeated)\n"
         "  --status              say what the running guard watches and refused\n"
         "  --status-file FILE    where the status is kept (default /run/korbu-guard/status)\n"
         "  --no-syslog           report to standard error only\n"
         "  --no-notify           no desktop notifications\n"
         "  --no-spin             let idle processors sleep while accesses come in a\n"
         "                        burst (slower unpacking, no spinning on them)\n"
         "  -h, --help            this text\n"
         "      --version         the program's version\n";
}

}  // namespace korbu::guard
