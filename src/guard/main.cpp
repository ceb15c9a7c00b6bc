#include <string>
#include <vector>

#include "guard/GuardMain.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return korbu::guard::RunGuard(args);
}
