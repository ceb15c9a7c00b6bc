// The header of a signature database, from a file or as text.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "engine/CvdHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  korbu::CvdHeaderInfo parsed = korbu::ParseCvdHeader(bytes);
  korbu::fuzz::Check(parsed.version.size() <= bytes.size(), "version from the header");
  korbu::fuzz::Check(parsed.date.size() <= 11, "date at most 11 characters");
  korbu::CvdHeaderInfo read = korbu::ReadCvdHeader(korbu::fuzz::WriteScratchFile(bytes));
  korbu::fuzz::Check(read.version.size() <= 512 && read.date.size() <= 11, "file header bounded");
  return 0;
}
