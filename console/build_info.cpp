// Build identity from the generated build_meta header.
#include "build_info.h"

#include "Debug.h"
#include "build_meta.h"

const char* buildGitRevision() { return BUILD_GIT_REVISION; }
const char* buildGitDirty() { return BUILD_GIT_DIRTY; }
const char* buildTimestamp() { return BUILD_TIMESTAMP; }

void printBuildInfo() {
  debugV2("git rev: %s  dirty: %s  built: %s\r\n", buildGitRevision(), buildGitDirty(), buildTimestamp());
}
