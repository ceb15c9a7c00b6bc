#include <cstdio>
int main() {
  std::puts("korbu-scan " "1.0.0 RC1");
  return 0;
}
