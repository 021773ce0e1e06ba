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
:root { --fg:#eee; --bg:#111; --card:#1d1d1d; --dim:#9a9a9a; --run:#2ecc40; --pause:#ffb700; --stop:#888; --bad:#ff5252; }
* { box-sizing: border-box; }
body { margin:0; padding:10px 12px; font:16px/1.3 system-ui, sans-serif; color:var(--fg); background:var(--bg); }
header { display:flex; justify-content:space-between; align-items:baseline; color:var(--dim); font-size:13px; }
.clamp { display:-webkit-box; -webkit-box-orient:vertical; -webkit-line-clamp:2; overflow:hidden; overflow-wrap:anywhere; }
.one { white-space:nowrap; overflow:hidden; text-overflow:ellipsis; }
#portLost { background:#5c0f0f; border:2px solid var(--bad); border-radius:10px; padding:8px 10px; margin:6px 0; }
#portLostHead { font-size:19px; font-weight:800; color:#fff; }
#portLostWhy { font-size:13px; color:#ffd0d0; }
#stateRow { display:flex; align-items:baseline; gap:10px; margin:2px 0; }
#state { font-size:32px; font-weight:800; color:var(--stop); }
body[data-state=running] #state { color:var(--run); }
body[data-state=paused] #state { color:var(--pause); }
#say { color:var(--dim); font-size:14px; }
.card { background:var(--card); border-radius:10px; padding:8px 12px; margin:8px 0; }
.label { color:var(--dim); font-size:12px; text-transform:uppercase; letter-spacing:.5px; }
#title { font-size:19px; font-weight:600; }
#archive { color:var(--dim); font-size:12px; overflow-wrap:anywhere; }
.bar { height:10px; background:#333; border-radius:5px; overflow:hidden; margin:6px 0 3px; }
#progress { height:100%; width:0; background:var(--run); transition:width .5s linear; }
.row { display:flex; justify-content:space-between; gap:8px; color:var(--dim); font-size:14px; }
#notice { color:#ff8a65; font-size:14px; }
#badge { display:inline-block; background:var(--pause); color:#000; border-radius:6px; padding:0 6px; font-size:12px; text-transform:none; letter-spacing:0; }
#window { font-size:16px; }
.buttons { display:grid; grid-template-columns:1fr 1fr; gap:8px; margin:8px 0; }
.buttons button { font-size:18px; font-weight:600; padding:14px 6px; border:0; border-radius:10px; color:#fff; background:#444; }
.buttons button:disabled { opacity:.35; }
#start { background:#1e7d32; } #stop { background:#b71c1c; } #after { background:#8d6e00; } #skip { background:#1565c0; }
ul { list-style:none; margin:4px 0 0; padding:0; }
li { font-size:14px; padding:3px 0; border-top:1px solid #2a2a2a; white-space:nowrap; overflow:hidden; text-overflow:ellipsis; }
li.open { white-space:normal; overflow-wrap:anywhere; }
li b { color:#ffab91; font-weight:600; }
li time { color:var(--dim); }
.link { background:none; border:0; color:#64b5f6; font-size:14px; padding:6px 0 0; }
#details { font-size:13px; color:var(--dim); }
table { width:100%; border-collapse:collapse; font-size:14px; }
th, td { text-align:right; padding:2px 4px; } th:first-child, td:first-child { text-align:left; white-space:nowrap; }
th { color:var(--dim); font-weight:normal; }
td.short { color:var(--pause); }
#tokenForm { display:flex; gap:8px; }
#tokenForm input { flex:1; font-size:16px; padding:10px; border-radius:8px; border:1px solid #555; background:#000; color:var(--fg); }
#tokenForm button { padding:10px 14px; font-size:16px; border:0; border-radius:8px; }
#msg { min-height:1.2em; font-size:14px; }
#conn { color:var(--bad); }
[hidden] { display:none !important; }
</style>
</head>
<body data-state="stopped">
<header><span>Glimmerfield</span><span id="conn" hidden>no answer from the show</span></header>
<div id="portLost" hidden><div id="portLostHead"></div><div id="portLostWhy" class="clamp"></div></div>
<div id="stateRow"><div id="state">&hellip;</div><div id="say" class="clamp"></div></div>
<div id="notice" class="clamp" hidden></div>
<div class="card" id="nowCard">
  <div class="label">Now <span id="badge" hidden>stops after this song</span></div>
  <div id="title" class="clamp">&ndash;</div>
  <div id="archive" hidden></div>
  <div class="bar"><div id="progress"></div></div>
  <div class="row"><span id="pos"></span><span id="left"></span></div>
  <div class="row"><span class="one">Next: <span id="next">&ndash;</span></span></div>
</div>
<div class="card">
  <div class="label">Show window</div>
  <div id="window" class="clamp">&ndash;</div>
  <div id="windowEnd" class="one"></div>
</div>
<div class="buttons">
  <button id="stop" data-action="stop">Stop</button>
  <button id="skip" data-action="skip">Skip</button>
  <button id="after" data-action="stop-after-song">Stop after song</button>
  <button id="start" data-action="start">Start</button>
</div>
<form id="tokenForm" hidden>
  <input id="tokenInput" type="password" autocomplete="off" placeholder="The show's token">
  <button type="submit">Save</button>
</form>
<div id="msg"></div>
<div class="card" id="alertsCard">
  <div class="label">Alerts, last 24 h: <span id="alertCount">none</span></div>
  <ul id="alerts"></ul>
  <ul id="olderAlerts" hidden></ul>
  <button id="moreAlerts" class="link" hidden></button>
</div>
<div class="card" id="details">
  <div id="check"></div>
  <div id="line"></div>
  <div id="keepalive"></div>
</div>
<div class="card">
  <div class="label">Last nights</div>
  <table><thead><tr><th>Night of</th><th>Window</th><th>Played</th><th>Share</th><th></th></tr></thead>
  <tbody id="nights"></tbody></table>
</div>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
const KEY = "glimmerfieldToken";
// Alerts shown before the tap that shows the rest.
const LATEST = 3;
let token = localStorage.getItem(KEY) || "";
let pending = null;
if (location.hash.startsWith("#token=")) {
  token = decodeURIComponent(location.hash.slice(7));
  localStorage.setItem(KEY, token);
  history.replaceState(null, "", location.pathname);
}
function clock(s) { s = Math.max(0, Math.floor(s)); return Math.floor(s / 60) + ":" + String(s % 60).padStart(2, "0"); }
function span(s) { const h = Math.floor(s / 3600), m = Math.ceil((s % 3600) / 60); return h ? h + " h " + m + " min" : m + " min"; }
// "5:30:00 PM" as a phone says it: "5:30 PM".
function hm(t) { return String(t || "").replace(/^(\d+:\d\d):00( [AP]M)$/, "$1$2"); }
function msg(text) { $("msg").textContent = text; }
function entry(e) { return (e.row + 1) + ". " + e.title; }
// Alerts tapped open stay open across refreshes.
const opened = new Set();
function alertItem(a) {
  const key = a.at + " " + a.event + " " + a.text;
  const li = document.createElement("li");
  if (opened.has(key)) li.classList.add("open");
  const when = document.createElement("time");
  when.textContent = String(a.at).slice(11, 16) + " ";
  const what = document.createElement("b");
  what.textContent = a.event;
  li.append(when, what, " " + a.text);
  li.onclick = () => {
    if (li.classList.toggle("open")) opened.add(key); else opened.delete(key);
  };
  return li;
}
function showAlerts(items) {
  $("alertCount").textContent = items.length ? String(items.length) : "none";
  $("alerts").replaceChildren(...items.slice(0, LATEST).map(alertItem));
  $("olderAlerts").replaceChildren(...items.slice(LATEST).map(alertItem));
  const more = items.length - LATEST;
  $("moreAlerts").hidden = more <= 0;
  if (more <= 0) $("olderAlerts").hidden = true;
  $("moreAlerts").textContent = $("olderAlerts").hidden ? "Show " + more + " more" : "Show fewer";
}
$("moreAlerts").onclick = () => {
  $("olderAlerts").hidden = !$("olderAlerts").hidden;
  $("moreAlerts").textContent = $("olderAlerts").hidden ? "Show " + $("olderAlerts").children.length + " more" : "Show fewer";
};
// When the window opens or that it is open, then its end and volume.
function windowText(w) {
  if (!w) return ["\u2013", ""];
  const end = "until " + hm(w.end) + " \u00b7 volume " + w.volume + "%";
  if (w.problem) return ["The calendar cannot be used: " + w.problem, ""];
  if (w.openNow) return ["Open now", end];
  if (w.opensInSeconds !== null) {
    return ["Opens " + (w.nextOpening || hm(w.start)) + ", in " + span(w.opensInSeconds), end];
  }
  return ["No show to come: the window " + hm(w.start) + " to " + hm(w.end) + " never opens", ""];
}
function show(s) {
  const lost = s.port && s.port.lost;
  document.body.dataset.state = s.state;
  document.body.dataset.port = lost ? "lost" : "ok";
  $("portLost").hidden = !lost;
  if (lost) {
    $("portLostHead").textContent = "Lights dark: " + s.port.name + " is lost";
    $("portLostWhy").textContent = (s.port.reason ? s.port.reason + ". " : "") + "The show tries it again at the next song.";
  }
  const words = {
    running: ["PLAYING", lost ? "sound only" : s.playing ? "" : "between songs"],
    paused: ["WAITING", "outside tonight's window"],
    stopped: ["STOPPED", "press Start to run the show"],
  }[s.state] || [s.state.toUpperCase(), ""];
  $("state").textContent = words[0];
  $("say").textContent = words[1];
  $("notice").textContent = s.notice;
  $("notice").hidden = !s.notice;
  $("badge").hidden = !s.stopAfterSong;
  if (s.playing) {
    $("title").textContent = entry(s.playing);
    $("archive").textContent = s.playing.archive;
    const share = s.playing.length > 0 ? Math.min(100, 100 * s.playing.position / s.playing.length) : 0;
    $("progress").style.transition = "";
    $("progress").style.width = share.toFixed(1) + "%";
    $("pos").textContent = clock(s.playing.position) + " played";
    $("left").textContent = s.playing.remaining === null ? "" : clock(s.playing.remaining) + " left";
  } else {
    $("title").textContent = s.state === "paused" ? "Nothing until the window opens" : "Nothing plays";
    $("archive").textContent = "";
    $("archive").hidden = true;
    // At once: a bar sliding back to empty looks like a song still going.
    $("progress").style.transition = "none";
    $("progress").style.width = "0";
    $("pos").textContent = "";
    $("left").textContent = "";
  }
  $("next").textContent = s.next ? entry(s.next) : "\u2013";
  [$("window").textContent, $("windowEnd").textContent] = windowText(s.window);
  $("keepalive").textContent = "Keep-alive gap " + s.keepAlive.lastGapSeconds + " s, late ones: " + s.keepAlive.lateCount;
  $("line").textContent = s.line ? "Line: " + s.line.summary : "";
  const h = s.health;
  $("check").textContent = !h ? "" : h.lastCheck ? "Last check " + h.lastCheck + ": " + h.lastCheckResult : "No check yet";
  showAlerts(h && h.alertItems ? h.alertItems : []);
  $("start").disabled = s.state !== "stopped";
  $("stop").disabled = s.state === "stopped";
  $("after").disabled = s.state === "stopped" || s.stopAfterSong;
  $("skip").disabled = !s.playing;
}
$("title").onclick = () => { $("archive").hidden = !$("archive").textContent || !$("archive").hidden; };
async function refresh() {
  try {
    const r = await fetch("/api/status", { cache: "no-store" });
    show(await r.json());
    $("conn").hidden = true;
  } catch (e) {
    $("conn").hidden = false;
  }
}
function cell(text, cls) {
  const td = document.createElement("td");
  td.textContent = text;
  if (cls) td.className = cls;
  return td;
}
async function nights() {
  try {
    const r = await fetch("/api/nights?n=7", { cache: "no-store" });
    const rows = [];
    for (const n of (await r.json()).nights.reverse()) {
      const tr = document.createElement("tr");
      tr.append(cell(n.night),
                cell(n.windowMinutes === null ? "?" : n.windowMinutes + " min"),
                cell(n.playedMinutes === null ? "\u2013" : n.playedMinutes + " min"),
                cell(n.percent === null ? "\u2013" : n.percent + " %"),
                cell(n.short ? "short" : "", "short"));
      rows.push(tr);
    }
    $("nights").replaceChildren(...rows);
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
