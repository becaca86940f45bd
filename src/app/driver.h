// The program on top: the mode prompt, the normal run over the configured project series,
// and the end prompt.
#pragma once

// The exit status after an answer to the mode prompt that it does not offer.
constexpr int kRefusedModeStatus = 2;

// The whole program: mode prompt, the chosen mode, the end prompt. Returns 0, or
// kRefusedModeStatus (nothing run) when the answer is none of the modes.
int runProgram();

// Mode 0.
void runNormal();
