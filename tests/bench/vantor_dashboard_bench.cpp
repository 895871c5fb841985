// The dashboard with a fleet in the registry (1000 nodes, three telemetry frames each), on an SQLite
// file (argument 0) and on a PostgreSQL server started for it (argument 1): the nodes page and its
// API call over a real socket, as a browser asks for them, and the call alone without HTTP. The
// bound is 200 ms for the page and its call together.
#include "http_lib.h"  // first: see there

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "fleet_registry.h"
#include "http_api.h"
#include "http_server.h"
#include "test_servers.h"

namespace {

constexpr int kNodes = 1000;

struct Fleet {
  std::string db;
  std::unique_ptr<vantor::Store> store;
  std::unique_ptr<vantor::WebServer> server;
};

Fleet makeFleet(const std::string& db) {
  Fleet f;
  f.db = db;
  f.store = vantor::openStore(f.db, true);
  testing_support::fillFleetRegistry(*f.store, kNodes, 3);
  f.server = std::make_unique<vantor::WebServer>(vantor::openStore(f.db, false),
                                                 vantor::ListenAddress{"127.0.0.1", 0, true}, vantor::AccessPolicy{});
  std::string error;
  if (!f.server->start(error)) std::fprintf(stderr, "dashboard bench: %s\n", error.c_str());
  return f;
}

Fleet& fleet(int backend) {
  using testing_support::Backend;
  static Fleet sqlite = makeFleet(testing_support::freshDatabase(Backend::sqlite, "dashboard_bench"));
  if (backend == 0) return sqlite;
  static Fleet postgresql = makeFleet(testing_support::freshDatabase(Backend::postgresql, "dashboard_bench"));
  return postgresql;
}

void get(benchmark::State& state, const char* path) {
  httplib::Client client("127.0.0.1", fleet(static_cast<int>(state.range(0))).server->port());
  size_t bytes = 0;
  for (auto _ : state) {
    const httplib::Result r = client.Get(path);
    if (!r || r->status != 200) {
      state.SkipWithError("no answer");
      return;
    }
    bytes = r->body.size();
  }
  state.counters["nodes"] = kNodes;
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_NodesApiOverHttp(benchmark::State& state) { get(state, "/api/nodes"); }
BENCHMARK(BM_NodesApiOverHttp)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NodesPageOverHttp(benchmark::State& state) { get(state, "/"); }
BENCHMARK(BM_NodesPageOverHttp)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NodesApiCall(benchmark::State& state) {
  vantor::Store& store = *fleet(static_cast<int>(state.range(0))).store;
  for (auto _ : state) benchmark::DoNotOptimize(vantor::apiNodes(store));
  state.counters["nodes"] = kNodes;
}
BENCHMARK(BM_NodesApiCall)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
