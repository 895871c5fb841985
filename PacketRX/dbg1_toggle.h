// Square wave on debug line 1, run by the shell's pending action.
#pragma once

// total / (on + off) whole periods of the stored wave, then the line off and the closing line.
void runDbg1Toggle();
