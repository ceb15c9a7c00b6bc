// Startup command lines from the registry and the text rules behind them.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/SystemFactory.h"
#include "services/CommandLine.h"

using korbu::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korbu::fuzz::InputSplitter input(data, size);
  std::string_view sub = input.Part();
  std::string_view text = input.Rest();

  std::string clean = korbu::CleanFileName(text);
  Check(clean.size() <= 254, "a clean name has at most 254 characters");
  for (char ch : clean) {
    auto c = static_cast<unsigned char>(ch);
    Check(c >= 0x20 && std::string_view(":,\\/*?\"<>|").find(ch) ==
                           std::string_view::npos,
          "a clean name holds no forbidden character");
  }
  std::string removed = korbu::RemoveAll(sub, text);
  Check(sub.empty() || removed.find(sub) == std::string::npos, "nothing of sub is left");
  Check(removed.size() <= text.size(), "removal never grows the text");
  std::string trimmed = korbu::TrimBlanks(text);
  Check(trimmed.empty() || (trimmed.front() != ' ' && trimmed.back() != ' '), "trimmed");
  if (!sub.empty()) {
    Check(korbu::StripChar(sub[0], text).find(sub[0]) == std::string::npos, "character stripped");
  }
  (void)korbu::CutArguments(text);
  (void)korbu::HasDriveLetter(text);
  // The system the program runs with, as a scan with no other one given.
  static const auto system = korbu::platform::DefaultWindowsSystem();
  (void)korbu::CommandLineToFilePath(*system, text);
  return 0;
}
