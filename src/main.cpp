// Entry point. A fatal stop unwinds to here, so the console is flushed and the run ends with a
// failure status instead of an abort. Running out of memory (a project too large for the
// machine) ends the same way, with one line on standard error.
#include <iostream>
#include <new>

#include "run/driver.h"
#include "run/fatal.h"

int main() {
  try {
    return runProgram();
  } catch (const FatalStop&) {
    std::cout.flush();
    return 1;
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << "tervano: out of memory\n";
    return 1;
  }
}
