// A program that does nothing until it is killed, so that tests can see it in the
// process table. An optional argument asks for that many extra threads.
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  int extra = argc > 1 ? std::atoi(argv[1]) : 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < extra; ++i) threads.emplace_back([] {
      while (true) ::pause();
    });
  while (true) ::pause();
}
