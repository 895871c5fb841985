// The bench build's application: the interactive shell on the console.
#include "DemoShell.h"
#include "main.h"

void appLoop() { DemoShell::run(); }
