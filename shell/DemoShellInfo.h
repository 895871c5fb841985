// "info" (identity and stored state) and "compileInfo" (what this build was made with).
#pragma once

void cmdInfo(const char* args);
void cmdCompileInfo(const char* args);

// The configured identity read as a 24-bit number is 0.
bool uidIsUnset();
// All 16 bytes of the configured key are 0.
bool hmacKeyIsBlank();
