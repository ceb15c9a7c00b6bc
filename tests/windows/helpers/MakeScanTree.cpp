// Writes a tree of known worm variants, a heuristic catch and clean files into the
// folder given, for comparing the detections of two builds of the scanner. With a
// second argument, that program is also copied as <folder>.run/holder.exe, forged
// to carry a worm variant's checksum, to be started and found in memory.
#include <filesystem>
#include <iostream>
#include <string>

#include "detect/VariantTable.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: make_scan_tree FOLDER [PROGRAM]\n";
    return 2;
  }
  namespace fs = std::filesystem;
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
    if (argc == 3) {
      const std::string program = korbu::test::ReadFileBytes(argv[2]);
      if (program.empty()) throw std::runtime_error("cannot read the program");
      fs::path run = root;
      run += ".run";
      korbu::test::WriteFileBytes(run / "holder.exe",
                                  korbu::test::ForgeFileWithCrc(program, korbu::VariantCrcTable[4]));
      korbu::test::WriteFileBytes(run / "held.dat", "held");
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
