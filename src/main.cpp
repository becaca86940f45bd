// Entry point. A fatal stop unwinds to here, so the console is flushed and the run ends with a
// failure status instead of an abort.
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
