#include <iostream>

#include "run/driver.h"
#include "run/fatal.h"

int main() {
  try {
    return runProgram();
  } catch (const FatalStop&) {
    std::cout.flush();
    return 1;
  }
}
