// Build identity: revision, dirty marker and build time, fixed when the firmware is built.
#pragma once

const char* buildGitRevision();
const char* buildGitDirty();
const char* buildTimestamp();
// "git rev: %s  dirty: %s  built: %s"
void printBuildInfo();
