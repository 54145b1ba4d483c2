#include "status_page.h"

#include <charconv>

namespace hub {
namespace {

struct StatusBit {
  int byte;
  unsigned mask;
  const char *caption;
};

constexpr StatusBit kStatusBits[] = {
    {0, 0x20, "Global Error"},
    {0, 0x02, "Invalid Command"},
    {0, 0x01, "Syntax Error"},
    {1, 0x02, "Unallowed Command"},
};

}  // namespace

nlohmann::json StatusTexts(std::string_view status) {
  nlohmann::json texts = nlohmann::json::array();
  if (status.size() != 12) return texts;
  for (const StatusBit &bit : kStatusBits) {
    unsigned value = 0;
    const char *first = status.data() + 2 * static_cast<size_t>(bit.byte);
    const auto [end, error] = std::from_chars(first, first + 2, value, 16);
    if (error == std::errc() && end == first + 2 && (value & bit.mask) != 0) texts.push_back(bit.caption);
  }
  return texts;
}

const std::string &StatusPageHtml() {
  static const std::string page = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>fiscal-hub</title>
<style>
body { font: 14px/1.4 sans-serif; margin: 1.5em; color: #222; background: #fafafa; }
h1 { font-size: 1.4em; margin: 0 0 .5em; }
h2 { font-size: 1.1em; margin: 1.5em 0 .4em; }
table { border-collapse: collapse; background: #fff; min-width: 40em; }
th, td { border: 1px solid #ccc; padding: .3em .6em; text-align: left; }
th { background: #eee; }
tr.registered td.state { color: #0a6b0a; }
tr.not-registered td.state { color: #8a5a00; }
tr.needs-attention td.state { color: #b00020; font-weight: bold; }
tr.in-progress td.state { color: #1a4f9c; }
tr.executed td.state { color: #0a6b0a; }
tr.not-sent td.state { color: #8a5a00; }
tr.refused td.state, tr.unknown td.state { color: #b00020; font-weight: bold; }
button.device { font: inherit; background: none; border: none; color: #1a4f9c; text-decoration: underline; cursor: pointer; padding: 0; }
#error { color: #b00020; }
</style>
</head>
<body>
<h1>fiscal-hub</h1>
<p id="error" role="alert"></p>
<h2>Devices</h2>
<table aria-label="Devices">
<thead><tr><th>Serial number</th><th>Port</th><th>State</th><th>Queue</th><th>Status</th></tr></thead>
<tbody id="devices"><tr><td colspan="5">Loading…</td></tr></tbody>
</table>
<h2 id="documents-caption">Newest documents</h2>
<table aria-labelledby="documents-caption">
<thead><tr><th>Key</th><th>Device</th><th>Kind</th><th>State</th><th>Result</th><th>Updated</th></tr></thead>
<tbody id="documents"><tr><td colspan="6">Loading…</td></tr></tbody>
</table>
<section id="journal-section" hidden>
<h2 id="journal-caption">Line journal</h2>
<table aria-labelledby="journal-caption">
<thead><tr><th>Time</th><th>Call</th><th>Result</th><th>Effect</th><th>Status</th><th>ms</th></tr></thead>
<tbody id="journal"></tbody>
</table>
</section>
<script>
"use strict";
// A hub that takes a token is opened as http://host:port/#token=...: the fragment never leaves
// the browser, and the page sends the token with its own requests. #device=SERIAL opens the
// page on one device.
const fragment = new URLSearchParams(location.hash.slice(1));
const token = fragment.get("token");
let device = fragment.get("device") || "";
const headers = token ? { Authorization: "Bearer " + token } : {};
function cell(row, text, name) {
  const td = document.createElement("td");
  td.textContent = text;
  if (name) td.className = name;
  row.appendChild(td);
  return td;
}
function fill(id, rows, columns, empty) {
  const body = document.getElementById(id);
  body.replaceChildren();
  if (rows.length === 0) {
    const tr = document.createElement("tr");
    cell(tr, empty).colSpan = columns;
    body.appendChild(tr);
  }
  for (const tr of rows) body.appendChild(tr);
}
function showDevices(list) {
  fill("devices", list.map(d => {
    const tr = document.createElement("tr");
    const button = document.createElement("button");
    button.className = "device";
    button.textContent = d.serial;
    button.title = "Show the documents and line journal of " + d.serial;
    button.onclick = () => { device = device === d.serial ? "" : d.serial; refresh(); };
    cell(tr, "").appendChild(button);
    cell(tr, d.port);
    cell(tr, d.state);
    cell(tr, String(d.queue));
    cell(tr, d.status || "—");
    return tr;
  }), 5, "No device found.");
}
function showDocuments(list) {
  document.getElementById("documents-caption").textContent =
      device ? "Documents of " + device : "Newest documents";
  fill("documents", list.map(d => {
    const tr = document.createElement("tr");
    tr.className = d.state;
    cell(tr, d.key);
    cell(tr, d.device);
    cell(tr, d.kind);
    cell(tr, d.state, "state");
    cell(tr, JSON.stringify(d.result));
    cell(tr, d.updated.replace("T", " ").replace(/\.\d+Z$/, " UTC"));
    return tr;
  }), 6, "No document yet.");
}
function showJournal(journal) {
  const section = document.getElementById("journal-section");
  section.hidden = !journal;
  if (!journal) return;
  document.getElementById("journal-caption").textContent = "Line journal of " + journal.serial;
  fill("journal", journal.calls.slice().reverse().map(c => {
    const tr = document.createElement("tr");
    tr.className = c.effect;
    cell(tr, c.at.replace("T", " ").replace("Z", " UTC"));
    cell(tr, c.op);
    cell(tr, String(c.code));
    cell(tr, c.effect, "state");
    cell(tr, c.status || "—");
    cell(tr, String(c.ms));
    return tr;
  }), 6, "Nothing sent yet.");
}
async function refresh() {
  try {
    const devices = await (await fetch("/devices", { headers })).json();
    const query = "/documents?limit=50" + (device ? "&device=" + encodeURIComponent(device) : "");
    const documents = await (await fetch(query, { headers })).json();
    showDevices(devices.devices);
    showDocuments(documents.documents);
    let journal = null;
    if (device) {
      const answer = await fetch("/devices/" + encodeURIComponent(device) + "/journal?limit=100", { headers });
      if (answer.ok) journal = await answer.json();
    }
    showJournal(journal);
    document.getElementById("error").textContent = "";
  } catch (e) {
    document.getElementById("error").textContent = "The hub does not answer: " + e;
  }
}
refresh();
setInterval(refresh, 2000);
</script>
</body>
</html>
)html";
  return page;
}

}  // namespace hub
