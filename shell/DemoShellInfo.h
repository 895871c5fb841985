// "info" (identity and stored state) and "compileInfo" (what this build was made with).
#pragma once

void cmdInfo(const char* args);
void cmdCompileInfo(const char* args);
