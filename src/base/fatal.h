// The fatal stop: a message, one line read from standard input, then the run ends by
// a FatalStop that only main catches.
#pragma once
#include <string>

struct FatalStop {};

// Reads one whole number from standard input (flushing the console first) and drops the
// rest of its line; returns false for anything else and at once at the end of input. A
// signal that interrupts the read unwinds the run (InterruptStop). The mode prompt.
bool readPromptNumber(long long& value);

// "Press any key": waits for one line of input, an empty one (Enter) included; returns at
// once at the end of input. A signal that interrupts the wait unwinds the run.
void waitForAnyKey();

// "\n", message, "\n", "Press any key to quit...", then waits for a key and throws.
[[noreturn]] void stopFatal(const std::string& message);

// "\n", message (no line end, no prompt line), then waits for a key and throws.
[[noreturn]] void stopFatalWithoutPrompt(const std::string& message);
