// The site every `vantor listen` opens before its ports: options checked, store, Vantor, outputs.
#include "listen_site.h"

#include <sstream>

#include "output_options.h"
#include "pg_db.h"
#include "settings.h"

namespace vantor {

int openListenSite(const ListenOptions& o, std::ostream& err, ListenSite& site) {
  for (const std::string& text : o.faults) {
    Fault f{};
    std::string error;
    if (!parseFault(text, f, error)) {
      err << "vantor: --fault: " << error << '\n';
      return kExitUsage;
    }
    site.faults.push_back(f);
  }
  std::vector<std::vector<std::string>> settings;
  for (const std::string& text : o.settings) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (const std::optional<QueueOutcome> bad = checkQueueRequest(QueueRequest{"0x000001", words})) {
      err << "vantor: --setting " << text << ": " << bad->message << '\n';
      return kExitUsage;
    }
    settings.push_back(words);
  }
  std::string error;
  if (!checkOutputOptions(o.outputs, error)) {
    err << "vantor: " << error << '\n';
    return kExitUsage;
  }
  if (!o.outputs.mqtt.empty() && o.dbPath == ":memory:") {
    err << "vantor: --mqtt needs the Vantor's database in a file or on a server (--db)\n";
    return kExitUsage;
  }
  try {
    site.store = openStore(o.dbPath, true);
  } catch (const DbError& e) {
    err << "vantor: " << e.what() << '\n';
    return kExitRefused;
  }
  site.vantor = std::make_unique<Vantor>(*site.store, o.seed);
  if (!o.outputs.mqtt.empty()) {
    site.mqtt = std::make_unique<MqttOutput>(mqttSettings(o.outputs), o.dbPath, *site.vantor, "vantor");
  }
  if (!o.outputs.http.empty()) {
    site.web = startDashboard(o.outputs, o.dbPath, site.vantor->outputs(), error);
    if (!site.web) {
      err << "vantor: --http: " << error << '\n';
      return kExitRefused;
    }
    err << "vantor: dashboard of " << withoutPassword(o.dbPath) << " at " << site.web->url() << std::endl;
  }
  site.core = std::make_unique<SiteCore>(*site.vantor, std::move(settings));
  return kExitDone;
}

}  // namespace vantor
