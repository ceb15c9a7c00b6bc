#include "ui/AccessKeys.h"

#include <string_view>

namespace korbu {
namespace {

struct Keyed {
  std::string_view caption;
  std::string_view keyed;
};

// Each page's letters differ: options page S, X, U, A, N, R, H; scan page B, C, D, X or S;
// the history R, C.
constexpr Keyed kKeyed[] = {
    {"Scan", "&Scan"},
    {"Exit", "E&xit"},
    {"Stop", "&Stop"},
    {"Back", "&Back"},
    {"Clean", "&Clean"},
    {"Delete", "&Delete"},
    {"Scan subfolders", "Scan s&ubfolders"},
    {"Scan all files", "Scan &all files"},
    {"Scan for new unknown viruses", "Scan for &new unknown viruses"},
    {"Scan for archive", "Scan fo&r archive"},
    {"History", "&History"},
    {"Restore", "&Restore"},
    {"Close", "&Close"},
};

}  // namespace

std::string WithAccessKey(const std::string& caption) {
  for (const Keyed& entry : kKeyed) {
    if (entry.caption == caption) return std::string(entry.keyed);
  }
  return caption;
}

}  // namespace korbu
