// fleet_registry DB [NODES] [FRAMES]: a generated registry of a fleet (tests/support/fleet_registry.h)
// in a new database, for the dashboard's benchmarks.
#include <cstdio>
#include <cstdlib>

#include "fleet_registry.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fleet_registry DB [NODES] [FRAMES]\n");
    return 2;
  }
  const int nodes = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int frames = argc > 3 ? std::atoi(argv[3]) : 3;
  try {
    const std::unique_ptr<vantor::Store> store = vantor::openStore(argv[1], true);
    testing_support::fillFleetRegistry(*store, nodes, frames);
  } catch (const vantor::DbError& e) {
    std::fprintf(stderr, "fleet_registry: %s\n", e.what());
    return 1;
  }
  return 0;
}
