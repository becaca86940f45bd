// The prompts' number reader and the fatal stop.
#include "run/fatal.h"

#include <iostream>
#include <limits>

bool readPromptNumber(long long& value) {
  // After a failed read std::cin no longer flushes std::cout by itself.
  std::cout.flush();
  if (std::cin >> value) return true;
  if (!std::cin.eof()) {
    // A typing slip must not make every later prompt return at once.
    std::cin.clear();
    std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return false;
}

[[noreturn]] void stopFatal(const std::string& message) {
  std::cout << '\n' << message << '\n' << "Press any key to quit...";
  long long answer = 0;
  readPromptNumber(answer);
  throw FatalStop{};
}

[[noreturn]] void stopFatalWithoutPrompt(const std::string& message) {
  std::cout << '\n' << message;
  long long answer = 0;
  readPromptNumber(answer);
  throw FatalStop{};
}
