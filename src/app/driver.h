// The program on top: the mode prompt, the normal run over the configured project series,
// and the end prompt.
#pragma once

// The whole program: mode prompt, the chosen mode, the end prompt. Returns 0.
int runProgram();

// Mode 0.
void runNormal();
