// The self-test image: every case, then exit.
#include "selftest.h"

void testImageMain() { runSelfTest(); }
