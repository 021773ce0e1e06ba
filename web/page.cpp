#include "web/page.h"

namespace web {

// Made for a phone held upright; no outside resources (fonts, scripts,
// images), so it works on a LAN without the internet. The token is asked
// for once and kept in the browser's local storage; "#token=..." in the
// address does the same (the part after '#' never reaches the server).
const std::string_view kPage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Glimmerfield</title>
<style>
:root { --fg:#eee; --bg:#111; --card:#1d1d1d; --dim:#999; --run:#2ecc40; --pause:#ffb700; --stop:#888; }
* { box-sizing: border-box; }
body { margin:0; padding:12px; font:16px/1.35 system-ui, sans-serif; color:var(--fg); background:var(--bg); }
header { display:flex; justify-content:space-between; align-items:baseline; color:var(--dim); font-size:14px; }
#state { font-size:44px; font-weight:800; letter-spacing:1px; margin:4px 0 2px; color:var(--stop); }
body[data-state=running] #state { color:var(--run); }
body[data-state=paused] #state { color:var(--pause); }
#statusText { color:var(--dim); font-size:14px; }
.card { background:var(--card); border-radius:10px; padding:10px 12px; margin:10px 0; }
.label { color:var(--dim); font-size:13px; text-transform:uppercase; letter-spacing:.5px; }
#title { font-size:20px; font-weight:600; overflow-wrap:anywhere; }
.bar { height:12px; background:#333; border-radius:6px; overflow:hidden; margin:8px 0 4px; }
#progress { height:100%; width:0; background:var(--run); transition:width .5s linear; }
.row { display:flex; justify-content:space-between; color:var(--dim); font-size:14px; }
#notice { color:#ff8a65; font-size:14px; }
#badge { display:inline-block; background:var(--pause); color:#000; border-radius:6px; padding:1px 8px; font-size:13px; }
.buttons { display:grid; grid-template-columns:1fr 1fr; gap:10px; margin:12px 0; }
button { font-size:18px; padding:16px 8px; border:0; border-radius:10px; color:#fff; background:#444; }
button:disabled { opacity:.35; }
#start { background:#1e7d32; } #stop { background:#b71c1c; } #after { background:#8d6e00; } #skip { background:#1565c0; }
table { width:100%; border-collapse:collapse; font-size:13px; }
.scroll { overflow-x:auto; }
th, td { text-align:right; padding:2px 3px; } th:first-child, td:first-child { text-align:left; white-space:nowrap; }
th { color:var(--dim); font-weight:normal; }
#tokenForm { display:flex; gap:8px; }
#tokenForm input { flex:1; font-size:16px; padding:10px; border-radius:8px; border:1px solid #555; background:#000; color:var(--fg); }
#tokenForm button { padding:10px 14px; font-size:16px; }
#msg { min-height:1.4em; font-size:14px; }
#conn { color:#ff5252; }
[hidden] { display:none !important; }
</style>
</head>
<body data-state="stopped">
<header><span>Glimmerfield</span><span id="conn" hidden>no answer from the show</span></header>
<div id="state">&hellip;</div>
<div id="statusText"></div>
<div id="notice" hidden></div>
<div class="card" id="nowCard">
  <div class="label">Now playing <span id="badge" hidden>stops after this song</span></div>
  <div id="title">&ndash;</div>
  <div class="bar"><div id="progress"></div></div>
  <div class="row"><span id="pos"></span><span id="len"></span></div>
  <div class="row"><span>Next: <span id="next">&ndash;</span></span></div>
</div>
<div class="card">
  <div class="label">Next start</div>
  <div id="window">&ndash;</div>
  <div class="row"><span id="keepalive"></span></div>
  <div class="row"><span id="health"></span></div>
</div>
<div class="buttons">
  <button id="start" data-action="start">Start</button>
  <button id="stop" data-action="stop">Stop</button>
  <button id="after" data-action="stop-after-song">Stop after song</button>
  <button id="skip" data-action="skip">Skip</button>
</div>
<form id="tokenForm" hidden>
  <input id="tokenInput" type="password" autocomplete="off" placeholder="The show's token">
  <button type="submit">Save</button>
</form>
<div id="msg"></div>
<div class="card">
  <div class="label">Last nights</div>
  <div class="scroll"><table><thead><tr><th>Night of</th><th>Shows</th><th>Played</th><th>Skipped</th><th>Late k-a</th><th>Late line</th><th>Port lost</th></tr></thead>
  <tbody id="nights"></tbody></table></div>
</div>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
const KEY = "glimmerfieldToken";
let token = localStorage.getItem(KEY) || "";
let pending = null;
if (location.hash.startsWith("#token=")) {
  token = decodeURIComponent(location.hash.slice(7));
  localStorage.setItem(KEY, token);
  history.replaceState(null, "", location.pathname);
}
function clock(s) { s = Math.max(0, Math.floor(s)); return Math.floor(s / 60) + ":" + String(s % 60).padStart(2, "0"); }
function span(s) { const h = Math.floor(s / 3600), m = Math.ceil((s % 3600) / 60); return h ? h + " h " + m + " min" : m + " min"; }
function msg(text) { $("msg").textContent = text; }
function show(s) {
  document.body.dataset.state = s.state;
  $("state").textContent = s.state.toUpperCase();
  $("statusText").textContent = s.statusText;
  $("notice").textContent = s.notice;
  $("notice").hidden = !s.notice;
  $("badge").hidden = !s.stopAfterSong;
  if (s.playing) {
    $("title").textContent = (s.playing.row + 1) + ". " + s.playing.title;
    const share = s.playing.length > 0 ? Math.min(100, 100 * s.playing.position / s.playing.length) : 0;
    $("progress").style.width = share.toFixed(1) + "%";
    $("pos").textContent = clock(s.playing.position);
    $("len").textContent = clock(s.playing.length);
  } else {
    $("title").textContent = s.state === "paused" ? "Waiting for the show's time" : "Nothing plays";
    $("progress").style.width = "0";
    $("pos").textContent = "";
    $("len").textContent = "";
  }
  $("next").textContent = s.next ? (s.next.row + 1) + ". " + s.next.title : "\u2013";
  const w = s.window;
  if (!w) $("window").textContent = "\u2013";
  else if (w.problem) $("window").textContent = "The calendar cannot be used: " + w.problem;
  else if (w.openNow) $("window").textContent = "Open now, until " + w.end;
  else if (w.opensInSeconds !== null) $("window").textContent = "Opens at " + w.start + " (in " + span(w.opensInSeconds) + "), until " + w.end;
  else $("window").textContent = "The window " + w.start + " to " + w.end + " never opens";
  $("keepalive").textContent = "Last keep-alive gap " + s.keepAlive.lastGapSeconds + " s, late ones: " + s.keepAlive.lateCount;
  const h = [];
  if (s.line) h.push("Line: " + s.line.summary);
  if (s.health) {
    h.push(s.health.lastCheck ? s.health.lastCheckResult + " (" + s.health.lastCheck + ")" : "No check yet");
    h.push(s.health.alerts.length ? "Alerts of the last 24 h: " + s.health.alerts.join("; ") : "No alerts in the last 24 h");
  }
  $("health").textContent = h.join(" \u00b7 ");
  $("start").disabled = s.state !== "stopped";
  $("stop").disabled = s.state === "stopped";
  $("after").disabled = s.state === "stopped" || s.stopAfterSong;
  $("skip").disabled = !s.playing;
}
async function refresh() {
  try {
    const r = await fetch("/api/status", { cache: "no-store" });
    show(await r.json());
    $("conn").hidden = true;
  } catch (e) {
    $("conn").hidden = false;
  }
}
async function nights() {
  try {
    const r = await fetch("/api/nights?n=7", { cache: "no-store" });
    const body = $("nights");
    body.textContent = "";
    for (const n of (await r.json()).nights.reverse()) {
      const tr = document.createElement("tr");
      for (const v of [n.night, n.shows, n.played, n.skipped, n.lateKeepAlives, n.lateLines, n.portLosses]) {
        const td = document.createElement("td");
        td.textContent = v;
        tr.appendChild(td);
      }
      body.appendChild(tr);
    }
  } catch (e) {}
}
function askToken(action, why) {
  pending = action;
  $("tokenForm").hidden = false;
  $("tokenInput").focus();
  msg(why);
}
async function press(action) {
  if (!token) return askToken(action, "Enter the show's token (glimmer web --enable printed it).");
  msg("\u2026");
  let r;
  try {
    r = await fetch("/api/" + action, { method: "POST", headers: { "Authorization": "Bearer " + token } });
  } catch (e) { return msg("No answer from the show."); }
  let body = {};
  try { body = await r.json(); } catch (e) {}
  if (r.status === 401) {
    token = "";
    localStorage.removeItem(KEY);
    return askToken(action, "The token was not accepted: enter it again.");
  }
  msg(r.ok ? "Done: " + action.replace(/-/g, " ") + "." : (body.error || "Refused: " + r.status));
  refresh();
}
for (const b of document.querySelectorAll("button[data-action]")) b.onclick = () => press(b.dataset.action);
$("tokenForm").onsubmit = (e) => {
  e.preventDefault();
  token = $("tokenInput").value.trim();
  if (!token) return;
  localStorage.setItem(KEY, token);
  $("tokenInput").value = "";
  $("tokenForm").hidden = true;
  const action = pending;
  pending = null;
  if (action) press(action);
};
refresh();
nights();
setInterval(refresh, 2000);
setInterval(nights, 60000);
</script>
</body>
</html>
)PAGE";

}  // namespace web
