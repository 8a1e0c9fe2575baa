#include "web/static_files.hpp"

namespace shoplink {

const char* const kStyleSheet = R"css(
:root { --ink: #1d2730; --muted: #5f6b76; --line: #d5dbe1; --paper: #f4f6f8;
  --cycle: #2f9e44; --idle: #c9d1d9; --down: #d64545; --busy: #1c7ed6; --warn: #e8890c; }
* { box-sizing: border-box; }
body { margin: 0; font: 15px/1.4 system-ui, "DejaVu Sans", sans-serif; color: var(--ink);
  background: var(--paper); }
header { display: flex; flex-wrap: wrap; align-items: baseline; gap: 1em; padding: .6em 1em;
  background: var(--ink); color: #fff; }
header .brand { font-weight: 700; font-size: 1.2em; }
header nav a { color: #fff; margin-right: 1em; text-decoration: none; }
header nav a.here { border-bottom: 2px solid #fff; }
main { padding: 1em; max-width: 1400px; margin: 0 auto; }
h1 { font-size: 1.3em; margin: 0 0 .6em; }
h2 { font-size: 1.05em; margin: 0 0 .4em; }
.station { display: flex; flex-wrap: wrap; gap: .4em 2em; background: #fff; padding: .7em 1em;
  border: 1px solid var(--line); border-radius: 6px; margin-bottom: 1em; }
.label { color: var(--muted); margin-right: .3em; }
.line-open { color: var(--cycle); font-weight: 600; }
.line-bad { color: var(--down); font-weight: 600; }
.stale { opacity: .55; }
.tiles { display: grid; grid-template-columns: repeat(auto-fill, minmax(260px, 1fr)); gap: .8em; }
.tile { background: #fff; border: 1px solid var(--line); border-left: 6px solid var(--idle);
  border-radius: 6px; padding: .6em .8em; min-height: 9.5em; }
.tile h2 { display: flex; gap: .5em; }
.tile .num { color: var(--muted); }
.tile .state { font-weight: 600; margin: .2em 0; }
.tile p { margin: .15em 0; overflow-wrap: anywhere; }
.tile progress { width: 100%; height: .8em; }
.tile .last { color: var(--muted); font-size: .9em; }
.state-sending, .state-receiving { border-left-color: var(--busy); }
.state-waiting, .state-command { border-left-color: var(--warn); }
.state-held { border-left-color: var(--warn); background: #fff8ec; }
.state-failed { border-left-color: var(--down); }
.failed, .bad { color: var(--down); font-weight: 600; }
.log { margin-top: 1em; }
.log pre { background: #fff; border: 1px solid var(--line); border-radius: 6px; padding: .6em;
  max-height: 24em; overflow: auto; font-size: 12px; }
table { border-collapse: collapse; background: #fff; width: 100%; font-size: 14px; }
th, td { text-align: left; padding: .3em .6em; border-bottom: 1px solid var(--line);
  vertical-align: top; }
th { background: #e9edf1; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
tr.failed td { background: #fdecec; }
form.filter { display: flex; flex-wrap: wrap; gap: .6em; align-items: center; margin-bottom: .8em; }
.note { color: var(--muted); }
.activity { width: 100%; max-width: 1000px; background: #fff; border: 1px solid var(--line);
  border-radius: 6px; }
.activity text { font-size: 12px; fill: var(--ink); }
.activity .hour { stroke: var(--line); }
.activity text.hour { stroke: none; fill: var(--muted); text-anchor: middle; }
.activity .shift { stroke: var(--ink); stroke-dasharray: 4 3; }
.activity .lane { fill: #f7f8fa; }
.activity .cycle { fill: var(--cycle); }
.activity .idle { fill: var(--idle); }
.activity .down { fill: var(--down); }
pre.diff, pre.program { background: #fff; border: 1px solid var(--line); padding: .6em;
  overflow: auto; font-size: 13px; }
pre.diff .add { background: #e6f7e9; display: block; }
pre.diff .del { background: #fdecec; display: block; }
pre.diff .hunk { color: var(--busy); display: block; }
footer { padding: 1em; color: var(--muted); font-size: .85em; text-align: center; }
)css";

// The live page: the tiles and the station line follow the station's snapshots through
// Server-Sent Events (/api/live); where the stream cannot be had (too many open, an old
// browser), /api/status every two seconds.
const char* const kLiveScript = R"js('use strict';
(function () {
  var tiles = document.getElementById('tiles');
  if (!tiles) return;
  function set(el, text) { if (el && el.textContent !== text) el.textContent = text; }
  function grouped(n) { return String(Math.round(n)).replace(/\B(?=(\d{3})+(?!\d))/g, ','); }
  function clock(t) { return t.length > 11 ? t.substring(11) : t; }
  function duration(s) {
    var h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60, x = s % 60;
    function two(v) { return (v < 10 ? '0' : '') + v; }
    return h > 0 ? h + ':' + two(m) + ':' + two(x) : m + ':' + two(x);
  }
  function tile(p) {
    var el = document.getElementById('port-' + p.port);
    if (!el) return;
    el.className = 'tile state-' + p.state;
    set(el.querySelector('.machine'), p.machine);
    set(el.querySelector('.state'), p.state_text);
    var busy = p.program !== '';
    set(el.querySelector('.program .name'), busy ? p.name : '');
    el.querySelector('.program .name').title = busy ? p.program : '';
    set(el.querySelector('.program .count'), !busy ? '' : p.total > 0
        ? grouped(p.done) + ' of ' + grouped(p.total) + ' characters (' +
          Math.min(100, Math.floor(p.done * 100 / p.total)) + '%)'
        : grouped(p.done) + ' characters');
    var bar = el.querySelector('progress');
    bar.hidden = !(busy && p.total > 0);
    bar.max = p.total > 0 ? p.total : 1;
    bar.value = Math.min(p.done, bar.max);
    var last = el.querySelector('.last');
    if (p.last) {
      last.hidden = false;
      set(last.querySelector('.last-name'), p.last.name);
      last.querySelector('.last-name').title = p.last.program;
      var result = last.querySelector('.last-result');
      set(result, p.last.result + (p.last.reason ? ' (' + p.last.reason + ')' : ''));
      result.className = 'last-result' + (p.last.failed ? ' failed' : '');
      set(last.querySelector('.last-time'), clock(p.last.ended));
    } else {
      last.hidden = true;
    }
  }
  function render(s) {
    set(document.getElementById('status'), s.status);
    set(document.getElementById('uptime'), duration(s.uptime_s));
    set(document.getElementById('host-line'), s.host_line + (s.device ? ' (' + s.device + ')' : ''));
    var state = document.getElementById('line-state');
    set(state, s.line_state);
    state.className = s.line_state === 'open' ? 'line-open' : 'line-bad';
    s.ports.forEach(tile);
    document.body.classList.remove('stale');
    // Which snapshot the page shows (for a look at a stale page, and the browser test).
    document.body.setAttribute('data-sequence', s.sequence);
  }
  // The log's newest lines are its last: keep them in view unless the reader scrolled up.
  var log = document.getElementById('log');
  function renderLog(lines) {
    var atEnd = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
    set(log, lines.join('\n'));
    if (atEnd) log.scrollTop = log.scrollHeight;
  }
  if (log) log.scrollTop = log.scrollHeight;
  var polling = null;
  function poll() {
    fetch('/api/status', { cache: 'no-store' }).then(function (r) { return r.json(); })
      .then(render).catch(function () { document.body.classList.add('stale'); });
  }
  function fallBack() { if (!polling) polling = setInterval(poll, 2000); }
  if (!window.EventSource) { fallBack(); return; }
  var live = new EventSource('/api/live');
  live.addEventListener('status', function (e) { render(JSON.parse(e.data)); });
  live.addEventListener('log', function (e) { renderLog(JSON.parse(e.data)); });
  live.onerror = function () {
    document.body.classList.add('stale');
    // Refused (503: as many streams as the station serves) or gone for good: poll instead.
    if (live.readyState === EventSource.CLOSED) fallBack();
  };
})();
)js";

}  // namespace shoplink
