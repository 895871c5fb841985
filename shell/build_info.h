// Build identity: revision, dirty marker and build time, fixed when the firmware is built.
#pragma once

#include <cstddef>

constexpr size_t BuildGitRevisionWireBytes = 8;
constexpr size_t BuildTimestampWireBytes = 32;

const char* buildGitRevision();
const char* buildGitDirty();
const char* buildTimestamp();
// "git rev: %s  dirty: %s  built: %s"
void printBuildInfo();
