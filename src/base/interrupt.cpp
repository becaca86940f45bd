// The signal flag and its check.
#include "base/interrupt.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t receivedSignal = 0;

extern "C" void recordSignal(int signal) { receivedSignal = signal; }

}  // namespace

void installInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = recordSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int pendingInterrupt() { return receivedSignal; }

void checkInterrupt() {
  if (receivedSignal != 0) throw InterruptStop{receivedSignal};
}
