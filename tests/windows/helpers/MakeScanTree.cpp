// Writes a tree of known worm variants, a heuristic catch and clean files into the
// folder given, for comparing the detections of two builds of the scanner; some
// are named outside any ANSI code page or lie past MAX_PATH. With a second
// argument, that program is also copied as <folder>.run/中文夹/Tök.exe, forged to
// carry a worm variant's checksum, to be started and found in memory.
#include <filesystem>
#include <iostream>
#include <string>

#include "detect/VariantTable.h"
#include "platform/FileSystemPath.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace {

namespace fs = std::filesystem;
using korbu::platform::FileSystemPath;

// "中文夹", "中文.exe", "Tök.exe", "Ελλάδα" in UTF-8.
const char kChineseFolder[] = "\xE4\xB8\xAD\xE6\x96\x87\xE5\xA4\xB9";
const char kChineseFile[] = "\xE4\xB8\xAD\xE6\x96\x87.exe";
const char kTok[] = "T\xC3\xB6k.exe";
const char kGreek[] = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1";

void WriteNamed(const fs::path& root) {
  korbu::test::WriteFileBytes(root / FileSystemPath(kChineseFolder) / FileSystemPath(kChineseFile),
                              korbu::test::VariantFile(5));
  korbu::test::WriteFileBytes(root / FileSystemPath(kTok), korbu::test::VariantFile(6));
  // Twelve folders deep, past MAX_PATH from the root on.
  fs::path deep = root / FileSystemPath(kGreek);
  for (int i = 0; i < 12; ++i) deep /= "folder_with_a_rather_long_name_" + std::to_string(i);
  korbu::test::WriteFileBytes(deep / "deep.exe", korbu::test::VariantFile(7));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: make_scan_tree FOLDER [PROGRAM]\n";
    return 2;
  }
  const fs::path root(argv[1]);
  try {
    for (int i = 1; i <= 12; ++i) {
      korbu::test::WriteFileBytes(root / ("d" + std::to_string(i % 3)) / ("worm" + std::to_string(i) + ".exe"),
                                  korbu::test::VariantFile(i));
    }
    korbu::test::WriteFileBytes(root / "deep" / "er" / "new.scr", korbu::test::HeuristicFile());
    korbu::test::WriteFileBytes(root / "Worm-Copy.COM", korbu::test::VariantFile(3));
    korbu::test::WriteFileBytes(root / "readme.txt", "hello");
    korbu::test::WriteFileBytes(root / "empty.exe", "");
    korbu::test::WriteFileBytes(root / "d1" / "fake.exe", "MZ but nothing else");
    WriteNamed(root / "names");
    if (argc == 3) {
      const std::string program = korbu::test::ReadFileBytes(argv[2]);
      if (program.empty()) throw std::runtime_error("cannot read the program");
      fs::path run = root;
      run += ".run";
      korbu::test::WriteFileBytes(run / FileSystemPath(kChineseFolder) / FileSystemPath(kTok),
                                  korbu::test::ForgeFileWithCrc(program, korbu::VariantCrcTable[4]));
      korbu::test::WriteFileBytes(run / "held.dat", "held");
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
