// The prompts' number reader and the fatal stop.
#include "base/fatal.h"

#include <iostream>
#include <limits>
#include <string>

#include "base/interrupt.h"

bool readPromptNumber(long long& value) {
  // After a failed read std::cin no longer flushes std::cout by itself.
  std::cout.flush();
  const bool read = static_cast<bool>(std::cin >> value);
  if (!read) checkInterrupt();
  if (!std::cin.eof()) {
    // The rest of the line belongs to this answer: a later "Press any key" waits for a line
    // of its own, and a typing slip does not make every later prompt return at once.
    std::cin.clear();
    std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return read;
}

void waitForAnyKey() {
  std::cout.flush();
  std::string line;
  if (!std::getline(std::cin, line)) checkInterrupt();
}

[[noreturn]] void stopFatal(const std::string& message) {
  std::cout << '\n' << message << '\n' << "Press any key to quit...";
  waitForAnyKey();
  throw FatalStop{};
}

[[noreturn]] void stopFatalWithoutPrompt(const std::string& message) {
  std::cout << '\n' << message;
  waitForAnyKey();
  throw FatalStop{};
}
