// The Vantor's dashboard: the node list and a node's page over the JSON API, kept current by the
// server's live events. Data reaches the page as text (textContent), never as markup; the charts
// are the Vantor's own SVG.
"use strict";

const $ = (sel) => document.querySelector(sel);
const MAINS_V = 230; // the node's power figure assumes it too

function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k === "class") e.className = v;
    else if (k === "dataset") Object.assign(e.dataset, v);
    else e.setAttribute(k, v);
  }
  for (const c of children) e.append(c === null || c === undefined ? "" : c);
  return e;
}

function fixed(v, digits) {
  return typeof v === "number" && isFinite(v) ? v.toFixed(digits) : "-";
}

async function api(path, options) {
  const res = await fetch(path, options);
  const type = res.headers.get("Content-Type") || "";
  const body = type.startsWith("application/json") ? await res.json() : await res.text();
  return { status: res.status, ok: res.ok, body };
}

// ---- live events ----------------------------------------------------------------------------

let events = null;
const handlers = {};

function follow(query, onEvent, onOpen) {
  if (events) events.close();
  events = new EventSource("/api/events" + query);
  const live = $("#live");
  let opened = false;
  events.onopen = () => {
    opened = true;
    live.textContent = "live";
    live.className = "live on";
    onOpen(); // what is there now, or what was missed while away
  };
  // Without the live events (too many pages follow them) the page still shows what is there.
  setTimeout(() => { if (!opened) onOpen(); }, 1500);
  events.onerror = () => {
    live.textContent = "reconnecting";
    live.className = "live off";
  };
  for (const name of ["uplink", "node", "queue", "calibration", "resync"]) {
    events.addEventListener(name, (e) => onEvent(name, JSON.parse(e.data)));
  }
}

// ---- the node list --------------------------------------------------------------------------

const list = { nodes: new Map(), now: 0, sortKey: "uid", sortDir: 1, refreshTimer: null, drawTimer: null };

// A fleet's events come several a second: the list is drawn again at most every half second.
function drawSoon() {
  if (!list.drawTimer) list.drawTimer = setTimeout(() => { list.drawTimer = null; renderNodes(); }, 500);
}

function reading(node, key) {
  const t = node.last_telemetry;
  if (!t) return null;
  if (key === "power_w") return typeof t.current_a === "number" ? MAINS_V * t.current_a * t.power_factor : null;
  return t[key] === undefined ? null : t[key];
}

function sortValue(node, key) {
  if (["supply_v", "temperature_c", "current_a", "power_w", "power_factor"].includes(key)) return reading(node, key);
  if (key === "calibration") return node.calibration ? node.calibration.at_s : null;
  return node[key];
}

function nodeRow(n) {
  const ago = n.last_seen_s === null ? "" : ` (${Math.max(0, list.now - n.last_seen_s).toFixed(0)} s ago)`;
  const tr = el("tr", { dataset: { uid: n.uid } },
    el("td", {}, el("a", { href: "/node/" + n.uid }, n.uid)),
    el("td", { class: "chip" }, n.chip_id),
    el("td", {}, n.state),
    el("td", { class: "activity-" + n.activity }, n.activity),
    el("td", { class: "num" }, n.last_seen_s === null ? "-" : n.last_seen_s.toFixed(3) + ago),
    el("td", { class: "num" }, fixed(reading(n, "supply_v"), 3)),
    el("td", { class: "num" }, fixed(reading(n, "temperature_c"), 1)),
    el("td", { class: "num current" }, fixed(reading(n, "current_a"), 3)),
    el("td", { class: "num" }, fixed(reading(n, "power_w"), 1)),
    el("td", { class: "num" }, fixed(reading(n, "power_factor"), 2)),
    n.calibration
      ? el("td", { class: "num" }, `${n.calibration.correction_rad.toFixed(4)} rad (PF ${n.calibration.known_pf.toFixed(2)})`)
      : el("td", { class: "uncalibrated" }, "uncalibrated"));
  return tr;
}

function renderNodes() {
  const started = performance.now();
  const state = $("#filter-state").value;
  const activity = $("#filter-activity").value;
  const all = [...list.nodes.values()];
  const shown = all.filter((n) => (!state || n.state === state) && (!activity || n.activity === activity));
  const { sortKey: key, sortDir: dir } = list;
  shown.sort((a, b) => {
    const x = sortValue(a, key), y = sortValue(b, key);
    if (x === y) return a.uid < b.uid ? -1 : 1;
    if (x === null || x === undefined) return 1; // no value last, either way
    if (y === null || y === undefined) return -1;
    return (x < y ? -1 : 1) * dir;
  });
  const body = document.createElement("tbody");
  for (const n of shown) body.append(nodeRow(n));
  $("#nodes-table tbody").replaceWith(body);
  const alive = all.filter((n) => n.active).length;
  $("#nodes-summary").textContent =
    `${all.length} ${all.length === 1 ? "node" : "nodes"}, ${alive} alive` +
    (shown.length !== all.length ? `, ${shown.length} shown` : "");
  $("#nodes-empty").hidden = all.length > 0;
  for (const th of document.querySelectorAll("#nodes-table th[data-key]")) {
    th.className = th.dataset.key === key ? (dir > 0 ? "sorted-asc" : "sorted-desc") : "";
  }
  // For the benchmark: how long the list took to draw, and when it was first there.
  document.body.dataset.nodesShown = String(shown.length);
  document.body.dataset.renderMs = (performance.now() - started).toFixed(1);
  if (!document.body.dataset.firstListMs) document.body.dataset.firstListMs = performance.now().toFixed(1);
}

// "crc_bad 3, channel 1" from {"crc_bad": 3, "channel": 1}, as `vantor gateways` writes it.
function byReason(counts) {
  const parts = Object.entries(counts || {}).map(([k, v]) => `${k} ${v}`);
  return parts.length ? parts.join(", ") : "-";
}

function gatewayRow(g) {
  return el("tr", {},
    el("td", { class: "chip" }, g.eui === null ? "(none)" : g.eui),
    el("td", {}, g.address === null ? "-" : g.address),
    el("td", { class: "num" }, fixed(g.last_seen_s, 3)),
    el("td", { class: "num" }, String(g.heard)),
    el("td", { class: "num" }, String(g.forwarded)),
    el("td", {}, byReason(g.dropped)),
    el("td", { class: "num" }, String(g.sent)),
    el("td", { class: g.last_error === null ? "" : "refused" }, byReason(g.refused)),
    el("td", {}, g.last_error === null ? "-" : g.last_error));
}

// The gateways the Vantor hears through, shown only behind gateways; read with the node list.
async function loadGateways() {
  const r = await api("/api/gateways");
  if (!r.ok) return;
  const body = document.createElement("tbody");
  for (const g of r.body) body.append(gatewayRow(g));
  $("#gateways-table tbody").replaceWith(body);
  $("#gateways").hidden = r.body.length === 0;
}

async function loadNodes() {
  loadGateways();
  const r = await api("/api/nodes");
  if (!r.ok) return;
  list.now = r.body.now_s;
  list.nodes = new Map(r.body.nodes.map((n) => [n.uid, n]));
  renderNodes();
}

function showNodes() {
  $("#nodes-view").hidden = false;
  document.title = "Vantor: nodes";
  for (const th of document.querySelectorAll("#nodes-table th[data-key]")) {
    th.addEventListener("click", () => {
      list.sortDir = list.sortKey === th.dataset.key ? -list.sortDir : 1;
      list.sortKey = th.dataset.key;
      renderNodes();
    });
  }
  // A click anywhere on a row opens its node (one listener for every row).
  $("#nodes-table").addEventListener("click", (e) => {
    const tr = e.target.closest("tbody tr");
    if (tr && e.target.tagName !== "A") location.href = "/node/" + tr.dataset.uid;
  });
  $("#filter-state").addEventListener("change", renderNodes);
  $("#filter-activity").addEventListener("change", renderNodes);
  follow("", (name, data) => {
    if (name === "node") {
      list.nodes.set(data.uid, data);
      if (data.last_seen_s !== null) list.now = Math.max(list.now, data.last_seen_s);
      drawSoon();
      // The others' activity moves with the Vantor's clock: read them all again now and then.
      if (!list.refreshTimer) list.refreshTimer = setTimeout(() => { list.refreshTimer = null; loadNodes(); }, 10000);
    } else if (name === "resync") {
      loadNodes();
    }
  }, loadNodes);
}

// ---- a node's page --------------------------------------------------------------------------

const page = { uid: "", span: "day", uplinks: [], timers: {} };

function later(what, fn, ms) {
  clearTimeout(page.timers[what]);
  page.timers[what] = setTimeout(fn, ms);
}

function facts(dl, pairs) {
  const items = [];
  for (const [k, v] of pairs) items.push(el("dt", {}, k), el("dd", {}, v));
  dl.replaceChildren(...items);
}

function showNodeFacts(n) {
  $("#node-title").textContent = "Node " + n.uid;
  $("#node-summary").textContent = `${n.state}, ${n.activity}`;
  renderCalibrated(n.calibration);
  const t = n.last_telemetry;
  facts($("#node-facts"), [
    ["chip id", n.chip_id],
    ["state", n.state],
    ["activity", `${n.activity} (expected every ${n.expected_interval_s} s)`],
    ["last seen", n.last_seen_s === null ? "never" : n.last_seen_s.toFixed(3) + " s (virtual time)"],
    ["last counter", n.last_counter === null ? "-" : String(n.last_counter)],
    ["current", t ? fixed(t.current_a, 3) + " A" : "-"],
    ["power", t ? fixed(MAINS_V * t.current_a * t.power_factor, 1) + " W" : "-"],
    ["power factor", t ? fixed(t.power_factor, 2) : "-"],
    ["supply", t ? fixed(t.supply_v, 3) + " V" : "-"],
    ["temperature", t ? fixed(t.temperature_c, 1) + " \u00b0C" : "-"],
  ]);
}

function showBuild(c) {
  if (!c) {
    facts($("#build-facts"), [["packet 8", "none received yet"]]);
    return;
  }
  facts($("#build-facts"), [
    ["git revision", c.git_revision],
    ["build time", c.build_timestamp],
    ["hardware revision", String(c.hw_revision)],
    ["chip id", c.chip_id],
    ["phase correction", c.phase_correction_rad + " rad"],
    ["E-field slope correction", String(c.e_field_slope_correction)],
    ["clamp mapping", (c.clamp_mapping || []).map((p) => p.join("\u2192")).join(", ")],
    ["received", `t = ${c.t_s.toFixed(3)} s, counter ${c.counter}`],
  ]);
}

async function loadNode() {
  const r = await api("/api/nodes/" + page.uid);
  $("#node-error").hidden = r.ok;
  if (!r.ok) {
    $("#node-error").textContent = r.body.error || "cannot read the node";
    return false;
  }
  showNodeFacts(r.body);
  showBuild(r.body.configuration);
  return true;
}

// The Vantor's SVG, put into the page as a document of its own kind (text, never script).
async function loadChart(box, path) {
  const res = await fetch(path);
  if (!res.ok) {
    const e = await res.json().catch(() => ({ error: "cannot draw it" }));
    box.replaceChildren(el("p", { class: "note" }, e.error));
    box.dataset.drawn = "no";
    return;
  }
  const doc = new DOMParser().parseFromString(await res.text(), "image/svg+xml");
  box.replaceChildren(document.importNode(doc.documentElement, true));
  box.dataset.drawn = "yes";
}

const loadTelemetry = () => loadChart($("#telemetry-chart"), `/api/nodes/${page.uid}/telemetry.svg?span=${page.span}`);
const loadCapture = () => loadChart($("#capture-chart"), `/api/nodes/${page.uid}/capture.svg`);

// Counters that never arrived between two accepted frames (a cycle's frames share one counter).
function renderUplinks() {
  const rows = [];
  let before = null;
  for (const u of page.uplinks) {
    if (u.verdict === "accepted" && u.counter !== null) {
      if (before !== null && u.counter > before + 1 && u.counter - before < 0x800000) {
        const lost = u.counter - before - 1;
        rows.push(el("tr", { class: "gap" }, el("td", { colspan: "7" },
          `${lost} ${lost === 1 ? "counter" : "counters"} missing: ` +
          (lost === 1 ? String(before + 1) : `${before + 1} to ${u.counter - 1}`))));
      }
      before = u.counter;
    }
    rows.push(el("tr", { class: (u.verdict === "accepted" ? "" : "bad ") + (u.fresh ? "fresh" : ""), dataset: { id: u.id } },
      el("td", { class: "num" }, String(u.id)),
      el("td", { class: "num" }, u.t_s.toFixed(3)),
      el("td", { class: "num" }, String(u.code)),
      el("td", { class: "num" }, u.counter === null ? "-" : String(u.counter)),
      el("td", {}, u.verdict),
      el("td", { class: "num" }, fixed(u.rssi_dbm, 1)),
      el("td", { class: "num" }, fixed(u.snr_db, 1))));
    u.fresh = false;
  }
  $("#uplinks-table tbody").replaceChildren(...rows.reverse()); // newest on top
}

async function loadUplinks() {
  const r = await api(`/api/nodes/${page.uid}/uplinks?limit=200`);
  if (!r.ok) return;
  page.uplinks = r.body;
  renderUplinks();
}

function renderQueue(items) {
  $("#queue-table tbody").replaceChildren(...items.slice().reverse().map((q) =>
    el("tr", { dataset: { id: q.id } },
      el("td", { class: "num" }, String(q.id)),
      el("td", {}, q.setting),
      el("td", {}, q.value || "-"),
      el("td", { class: "state state-" + q.state }, q.state),
      el("td", { class: "reason" }, q.reason || "-"),
      el("td", { class: "num" }, `${q.attempts}/${q.max_attempts}`))));
}

async function loadQueue() {
  const r = await api(`/api/nodes/${page.uid}/queue`);
  if (r.ok) renderQueue(r.body);
}

function loadAll() {
  loadNode().then((found) => {
    if (!found) return;
    loadTelemetry();
    loadCapture();
    loadUplinks();
    loadQueue();
    loadCalibration();
  });
}

// A change through the API. Off the loopback it carries the server's token: asked for once per
// session, when a change is refused for the lack of it. The answer goes to the message element.
async function change(path, body, msg, retry) {
  const headers = { "Content-Type": "application/json" };
  const token = sessionStorage.getItem("vantor-token");
  if (token) headers.Authorization = "Bearer " + token;
  const r = await api(path, { method: "POST", headers, body: JSON.stringify(body) });
  msg.className = r.ok ? "note" : "note error";
  if (r.status === 401) {
    const field = $("#token");
    field.hidden = false;
    if (field.value) {
      sessionStorage.setItem("vantor-token", field.value);
      field.value = "";
      return retry();
    }
    msg.textContent = r.body.error + " (enter the token and try again)";
    return r;
  }
  msg.textContent = r.ok ? r.body.message : r.body.error + (r.body.settings ? ` (${r.body.settings})` : "");
  return r;
}

async function queueSetting(e) {
  e.preventDefault();
  const name = $("#setting-name").value;
  const body = { setting: name };
  const value = $("#setting-value").value.trim();
  if (name !== "dbg1") body.value = value;
  if (name === "sleep" && $("#force-rx").checked) body.force_rx = true;
  const r = await change(`/api/nodes/${page.uid}/queue`, body, $("#queue-message"), () => queueSetting(e));
  if (r.ok) loadQueue();
}

function renderCalibration(c) {
  const open = c !== null && c.open;
  $("#calibration-cancel").hidden = !open;
  $("#calibration-submit").disabled = open;
  if (c === null) {
    facts($("#calibration-facts"), [["calibration", "none started"]]);
    return;
  }
  const pairs = [
    ["state", `${c.state} (#${c.id}, against PF ${c.known_pf.toFixed(2)} ${c.leading ? "leading" : "lagging"})`],
    ["step", c.message],
    ["shifts", `${c.shifts_rad.length} of ${c.readings}` +
      (c.mean_shift_rad === null ? "" : `, mean ${c.mean_shift_rad.toFixed(4)} rad, spread ${c.spread_rad.toFixed(4)} rad`)],
  ];
  if (c.correction_rad !== null) pairs.push(["correction", c.correction_rad.toFixed(4) + " rad"]);
  if (c.checks_pf.length) pairs.push(["power factor since", c.checks_pf.map((p) => p.toFixed(2)).join(", ")]);
  facts($("#calibration-facts"), pairs);
}

function renderCalibrated(k) {
  $("#calibrated").textContent = k
    ? `calibrated at ${k.at_s.toFixed(3)} s against PF ${k.known_pf.toFixed(2)}: correction ${k.correction_rad.toFixed(4)} rad, spread ${k.spread_rad.toFixed(4)} rad over ${k.readings} shifts`
    : "uncalibrated";
}

async function loadCalibration() {
  const r = await api(`/api/nodes/${page.uid}/calibration`);
  if (!r.ok) return;
  renderCalibrated(r.body.calibrated);
  renderCalibration(r.body.calibration);
}

async function startCalibration(e) {
  e.preventDefault();
  const body = { known_pf: Number($("#calibration-pf").value), leading: $("#calibration-leading").checked };
  const readings = $("#calibration-readings").value.trim();
  if (readings) body.readings = Number(readings);
  const r = await change(`/api/nodes/${page.uid}/calibration`, body, $("#calibration-message"),
    () => startCalibration(e));
  if (r.ok) { loadCalibration(); loadQueue(); }
}

async function cancelCalibration() {
  const r = await change(`/api/nodes/${page.uid}/calibration/cancel`, {}, $("#calibration-message"), cancelCalibration);
  if (r.ok) { loadCalibration(); loadQueue(); }
}

function showNode(uid) {
  page.uid = uid;
  $("#node-view").hidden = false;
  document.title = "Vantor: node " + uid;
  $("#node-title").textContent = "Node " + uid;
  const forceRx = () => { $("#force-rx-label").hidden = $("#setting-name").value !== "sleep"; };
  $("#setting-name").addEventListener("change", forceRx);
  forceRx();
  $("#setting-form").addEventListener("submit", queueSetting);
  $("#calibration-form").addEventListener("submit", startCalibration);
  $("#calibration-cancel").addEventListener("click", cancelCalibration);
  for (const b of document.querySelectorAll("#spans button")) {
    b.addEventListener("click", () => {
      page.span = b.dataset.span;
      for (const o of document.querySelectorAll("#spans button")) o.classList.toggle("on", o === b);
      loadTelemetry();
    });
  }
  follow("?node=" + encodeURIComponent(uid), (name, data) => {
    if (name === "uplink") {
      data.fresh = true;
      page.uplinks.push(data);
      if (page.uplinks.length > 200) page.uplinks.shift();
      renderUplinks();
      if (data.verdict !== "accepted") return;
      if (data.code === 3 || data.code === 5 || data.code === 7) later("telemetry", loadTelemetry, 300);
      if (data.code === 4 || data.code === 9) later("capture", loadCapture, 300);
      if (data.code === 8) later("node", loadNode, 300);
    } else if (name === "node") {
      showNodeFacts(data);
    } else if (name === "queue") {
      renderQueue(data.items);
    } else if (name === "calibration") {
      renderCalibration(data);
      if (!data.open) loadCalibration();
    } else if (name === "resync") {
      loadAll();
    }
  }, loadAll);
}

// ---- start ------------------------------------------------------------------------------------

const route = location.pathname.match(/^\/node\/([^/]+)$/);
if (route) showNode(decodeURIComponent(route[1]));
else showNodes();
