// A Windows program that sleeps long enough to be found and killed under Wine.
#include <windows.h>

int main() {
  Sleep(10 * 60 * 1000);
  return 0;
}
