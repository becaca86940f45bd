// The fatal stop: a message, one number read from standard input, then the run ends by
// a FatalStop that only main catches.
#pragma once
#include <string>

struct FatalStop {};

// Reads one whole number from standard input (flushing the console first); returns at
// once at the end of input. Used by every prompt.
bool readPromptNumber(long long& value);

// "\n", message, "\n", "Press any key to quit...", then waits for one number and throws.
[[noreturn]] void stopFatal(const std::string& message);

// "\n", message (no line end, no prompt line), then waits for one number and throws.
[[noreturn]] void stopFatalWithoutPrompt(const std::string& message);
