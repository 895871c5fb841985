// orvane-fleet-chart: the pictures of the capacity study (docs/fleet.md) from orvane-fleet reports,
// drawn with the Vantor's plotting code. Each report is LABEL=DIR/report.json (or a bare path,
// labelled by nothing): reports with one label form one series.
#include <CLI/CLI.hpp>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "svg_chart.h"

namespace {

using nlohmann::json;

struct Report {
  std::string label;
  json data;
};

const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b"};

std::vector<Report> load(const std::vector<std::string>& args) {
  std::vector<Report> out;
  for (const std::string& a : args) {
    const size_t eq = a.find('=');
    Report r;
    r.label = eq == std::string::npos ? "" : a.substr(0, eq);
    const std::string path = eq == std::string::npos ? a : a.substr(eq + 1);
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    r.data = json::parse(in);
    out.push_back(std::move(r));
  }
  return out;
}

// The reports of each label, in the order the labels first appear.
std::vector<std::pair<std::string, std::vector<const Report*>>> byLabel(const std::vector<Report>& reports) {
  std::vector<std::pair<std::string, std::vector<const Report*>>> out;
  for (const Report& r : reports) {
    auto it = std::find_if(out.begin(), out.end(), [&](const auto& e) { return e.first == r.label; });
    if (it == out.end()) {
      out.push_back({r.label, {}});
      it = std::prev(out.end());
    }
    it->second.push_back(&r);
  }
  return out;
}

// Each label's reports, by their number of nodes.
std::vector<std::pair<std::string, std::vector<const Report*>>> byLabelAndNodes(const std::vector<Report>& reports) {
  auto groups = byLabel(reports);
  for (auto& [label, list] : groups) {
    std::sort(list.begin(), list.end(),
              [](const Report* a, const Report* b) { return a->data["run"]["nodes"] < b->data["run"]["nodes"]; });
  }
  return groups;
}

std::string named(const std::string& what, const std::string& label) {
  return label.empty() ? what : what + " (" + label + ")";
}

// The steady part of a run if it has one, else the whole run.
const json& window(const json& report) { return report["steady"].is_null() ? report["fleet"] : report["steady"]; }

// Delivery of readings against the number of nodes, with the pure-ALOHA prediction from the
// airtime actually sent, and the offered load itself.
vantor::Chart capacity(const std::vector<Report>& reports) {
  vantor::Chart c;
  c.title = "Delivery of readings against the number of nodes on one channel";
  c.xLabel = "nodes";
  vantor::ChartPanel delivery{"delivery ratio", {}, {0.0, 1.0}};
  vantor::ChartPanel load{"offered load G", {}, {0.0}};
  size_t colour = 0;
  for (const auto& [label, sorted] : byLabelAndNodes(reports)) {
    vantor::ChartSeries measured{named("measured", label), kColours[colour % 6], {}, {}, false, true};
    vantor::ChartSeries aloha{named("e^(-2G) from the frames sent", label), kColours[colour % 6], {}, {}, true, true};
    vantor::ChartSeries g{named("G", label), kColours[colour % 6], {}, {}, false, true};
    for (const Report* r : sorted) {
      const json& w = window(r->data);
      const double n = r->data["run"]["nodes"].get<double>();
      if (!w["delivery_ratio"].is_null()) {
        measured.x.push_back(n);
        measured.y.push_back(w["delivery_ratio"].get<double>());
      }
      aloha.x.push_back(n);
      aloha.y.push_back(w["aloha_prediction"].get<double>());
      g.x.push_back(n);
      g.y.push_back(w["offered_load_g"].get<double>());
    }
    delivery.series.push_back(measured);
    delivery.series.push_back(aloha);
    load.series.push_back(g);
    ++colour;
  }
  c.panels = {delivery, load};
  return c;
}

// Time until every node of a storm was confirmed, against the number of nodes.
vantor::Chart storm(const std::vector<Report>& reports) {
  vantor::Chart c;
  c.title = "Provisioning storm: fresh nodes powered on together";
  c.xLabel = "nodes";
  vantor::ChartPanel time{"time until all confirmed (s)", {}, {0.0}};
  vantor::ChartPanel share{"share confirmed at the end", {}, {0.0, 1.0}};
  size_t colour = 0;
  for (const auto& [label, sorted] : byLabelAndNodes(reports)) {
    vantor::ChartSeries t{named("all confirmed", label), kColours[colour % 6], {}, {}, false, true};
    vantor::ChartSeries s{named("confirmed", label), kColours[colour % 6], {}, {}, false, true};
    for (const Report* r : sorted) {
      const json& f = r->data["fleet"];
      const double n = r->data["run"]["nodes"].get<double>();
      if (!f["all_confirmed_at_s"].is_null()) {
        t.x.push_back(n);
        t.y.push_back(f["all_confirmed_at_s"].get<double>());
      }
      s.x.push_back(n);
      s.y.push_back(f["confirmed"].get<double>() / n);
    }
    time.series.push_back(t);
    share.series.push_back(s);
    ++colour;
  }
  c.panels = {time, share};
  return c;
}

// Delivery of readings hour by hour (an outage shows as the hours after it).
vantor::Chart hourly(const std::vector<Report>& reports) {
  vantor::Chart c;
  c.title = "Delivery of readings, hour by hour";
  c.xLabel = "virtual time (h)";
  vantor::ChartPanel delivery{"delivery ratio", {}, {0.0, 1.0}};
  vantor::ChartPanel sent{"readings sent per hour", {}, {0.0}};
  size_t colour = 0;
  for (const Report& r : reports) {
    vantor::ChartSeries d{named("delivered", r.label), kColours[colour % 6], {}, {}, false, true};
    vantor::ChartSeries s{named("sent", r.label), kColours[colour % 6], {}, {}, false, true};
    for (const json& h : r.data["hours"]) {
      const double t = h["from_s"].get<double>() / 3600.0;
      const double n = h["readings_sent"].get<double>();
      s.x.push_back(t);
      s.y.push_back(n);
      if (n > 0) {
        d.x.push_back(t);
        d.y.push_back(h["readings_stored"].get<double>() / n);
      }
    }
    delivery.series.push_back(d);
    sent.series.push_back(s);
    ++colour;
  }
  c.panels = {delivery, sent};
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"orvane-fleet-chart: pictures of the capacity study from orvane-fleet reports", "orvane-fleet-chart"};
  app.require_subcommand(1);
  std::string svg;
  std::vector<std::string> inputs;
  std::map<std::string, vantor::Chart (*)(const std::vector<Report>&)> kinds{
      {"capacity", capacity}, {"storm", storm}, {"hourly", hourly}};
  std::map<std::string, CLI::App*> commands;
  const std::map<std::string, std::string> help{
      {"capacity", "delivery against the number of nodes, beside e^(-2G) from the frames actually sent"},
      {"storm", "time until every node of a storm was confirmed"},
      {"hourly", "delivery hour by hour (an outage and the hours after it)"}};
  for (const auto& [name, fn] : kinds) {
    CLI::App* cmd = app.add_subcommand(name, help.at(name));
    cmd->add_option("--svg", svg, "the SVG file to write")->required();
    cmd->add_option("REPORT", inputs, "LABEL=DIR/report.json, or a report alone")->required();
    commands[name] = cmd;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  try {
    const std::vector<Report> reports = load(inputs);
    for (const auto& [name, cmd] : commands) {
      if (!cmd->parsed()) continue;
      std::ofstream out(svg);
      out << vantor::renderSvg(kinds.at(name)(reports));
      if (!out) throw std::runtime_error("cannot write " + svg);
    }
  } catch (const std::exception& e) {
    std::cerr << "orvane-fleet-chart: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
