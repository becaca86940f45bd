// SIGINT and SIGTERM: the handler only records the signal; the run notices it at the next
// check (between projects, between UDCs, at a prompt) and unwinds by an InterruptStop, so
// that every owner of a state file or a half-built row cleans up on the way out.
#pragma once

struct InterruptStop {
  int signal = 0;
};

// Installs the handlers (without SA_RESTART, so a prompt read returns at once).
void installInterruptHandlers();

// The signal received since the start of the run, or 0.
int pendingInterrupt();

// Throws InterruptStop when a signal has arrived.
void checkInterrupt();
