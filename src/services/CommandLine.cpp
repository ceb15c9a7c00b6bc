#include "services/CommandLine.h"

#include <vector>

#include "platform/FileSystem.h"
#include "platform/WindowsSystem.h"

namespace korbu {
namespace {

// Characters that can never be part of a file name on the command line.
constexpr std::string_view kForbiddenNameChars = ":,\\/*?\"<>| ";
constexpr std::size_t kMaxCleanNameLength = 254;

// Knuth-Morris-Pratt failure links of a pattern.
std::vector<std::size_t> FailureLinks(std::string_view pattern) {
  std::vector<std::size_t> links(pattern.size(), 0);
  std::size_t k = 0;
  for (std::size_t i = 1; i < pattern.size(); ++i) {
    while (k > 0 && pattern[i] != pattern[k]) k = links[k - 1];
    if (pattern[i] == pattern[k]) ++k;
    links[i] = k;
  }
  return links;
}

}  // namespace

std::string StripChar(char c, std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    if (ch != c) out.push_back(ch);
  }
  return out;
}

std::string TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string CleanFileName(std::string_view name) {
  std::string out = TrimBlanks(name);
  if (out.size() > kMaxCleanNameLength) out.resize(kMaxCleanNameLength);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto byte = static_cast<unsigned char>(out[i]);
    if (byte < 0x20 || kForbiddenNameChars.find(out[i]) != std::string_view::npos) {
      out.resize(i);
      break;
    }
  }
  return out;
}

std::string RemoveAll(std::string_view sub, std::string_view text) {
  if (sub.empty()) return std::string(text);
  // Removing the leftmost occurrence again and again is the same as one pass that
  // drops an occurrence as soon as the kept text ends in one; the match state of
  // every kept character is remembered so that a removal resumes where it left.
  const auto links = FailureLinks(sub);
  std::string out;
  std::vector<std::size_t> states;  // matched length after each kept character
  out.reserve(text.size());
  states.reserve(text.size());
  for (char c : text) {
    std::size_t k = states.empty() ? 0 : states.back();
    while (k > 0 && c != sub[k]) k = links[k - 1];
    if (c == sub[k]) ++k;
    out.push_back(c);
    states.push_back(k);
    if (k == sub.size()) {
      out.resize(out.size() - sub.size());
      states.resize(states.size() - sub.size());
    }
  }
  return out;
}

std::string CutArguments(std::string_view command) {
  const auto dot = command.find('.');
  const std::string head = dot == std::string_view::npos ? std::string() : std::string(command.substr(0, dot + 1));
  const std::string tail = RemoveAll(head, command);
  const auto blank = tail.find(' ');
  return head + (blank == std::string::npos ? tail : tail.substr(0, blank));
}

bool HasDriveLetter(std::string_view text) { return text.size() >= 2 && text[1] == ':'; }

std::string LocateInSystemDirs(const platform::WindowsSystem& system, std::string_view name) {
  const std::string folders[] = {system.CurrentDirectoryPath(),
                                 system.WindowsDirectoryPath(), system.SystemDirectoryPath()};
  for (const auto& folder : folders) {
    if (folder.empty()) continue;
    std::string candidate = system.NativePath(folder + "\\" + std::string(name));
    if (!candidate.empty() && platform::FileExists(candidate)) return candidate;
  }
  // Not found: the name stays as the system itself would read it, never against
  // the scanner's own current directory.
  return system.NativePath(name);
}

std::string CommandLineToFilePath(const platform::WindowsSystem& system, std::string_view commandLine) {
  const std::string text = StripChar('"', commandLine);
  if (!HasDriveLetter(text)) return LocateInSystemDirs(system, CutArguments(text));
  const auto cut = text.find_last_of("\\:");
  // The second character is a colon, so there always is a folder part.
  const std::string folder = text.substr(0, cut + 1);
  return system.NativePath(folder + CleanFileName(std::string_view(text).substr(cut + 1)));
}

}  // namespace korbu
