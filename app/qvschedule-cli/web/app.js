// The live page of `qvschedule run --serve`. It reads the plan (/api/plan), the status
// (/api/status) and the event stream (/api/events) of the program that serves it, and draws them;
// the buttons call the control API. Everything it loads comes from that program. A page opened
// with ?token=TOKEN sends the token with every call (and on the stream's URL).
'use strict';

const TOKEN = new URLSearchParams(location.search).get('token') || '';
const COLORS = ['#2f6fde', '#e0592a', '#1f9d55', '#9b51e0', '#d48806', '#17a2b8', '#c2185b', '#5d6d7e'];
const TIMELINE_ROWS = 200;
const SVG = 'http://www.w3.org/2000/svg';
const CHART_MARGIN = { left: 46, right: 64, top: 12, bottom: 26 };  // the same for both charts: times line up

const run = {
  plan: null,           // the previewed schedule
  status: null,         // the latest status
  statusAt: 0,          // performance.now() when it came
  lastId: 0,            // the last stream event seen
  actual: new Map(),    // group -> [[time_s, running], ...] in time order
  paused: [],           // [[from_s, to_s or null], ...]
  samples: [],          // [{time, rps, p95}] with HTTP vusers
  timeline: [],         // the last entries, oldest first
  unauthorized: false,  // the server asked for a token this page does not have
};

const $ = (id) => document.getElementById(id);

function el(tag, attrs, parent, text) {
  const node = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attrs || {})) node.setAttribute(k, v);
  if (text !== undefined) node.textContent = text;
  if (parent) parent.appendChild(node);
  return node;
}

function html(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function api(path, options = {}) {
  const headers = Object.assign({}, options.headers);
  if (TOKEN) headers.Authorization = 'Bearer ' + TOKEN;
  return fetch(path, Object.assign({}, options, { headers, cache: 'no-store' }));
}

// ---- formatting ----

function clock(seconds) {
  const s = Math.max(0, Math.floor(seconds));
  const h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60, sec = s % 60;
  const mm = String(m).padStart(2, '0'), ss = String(sec).padStart(2, '0');
  return h ? `${h}:${mm}:${ss}` : `${mm}:${ss}`;
}

function tickLabel(seconds) {
  const s = Math.round(seconds);
  const h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60, sec = String(s % 60).padStart(2, '0');
  return h ? `${h}:${String(m).padStart(2, '0')}:${sec}` : `${m}:${sec}`;
}

function ms(value) {
  if (value === null || value === undefined) return '—';
  if (value === 0) return '0 ms';
  if (value >= 1000) return (value / 1000).toFixed(2) + ' s';
  if (value >= 10) return value.toFixed(0) + ' ms';
  if (value >= 1) return value.toFixed(1) + ' ms';
  return Math.round(value * 1000) + ' µs';
}

function number(value) { return Number(value).toLocaleString('en-US'); }

function niceStep(range, ticks) {
  const raw = Math.max(range, 1e-9) / ticks;
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  for (const f of [1, 2, 5, 10]) if (f * power >= raw) return f * power;
  return 10 * power;
}

// ---- the data ----

function groupNames() {
  if (run.plan) return run.plan.groups;
  return run.status ? run.status.groups.map((g) => g.name) : [];
}

function colorOf(group) {
  const i = groupNames().indexOf(group);
  return COLORS[(i < 0 ? 0 : i) % COLORS.length];
}

function isOver() { return run.status && ['finished', 'stopped'].includes(run.status.state); }

// The schedule's time now, moved on from the last status while the run goes.
function now() {
  if (!run.status) return 0;
  const t = run.status.time_s;
  if (run.status.state !== 'running' && run.status.state !== 'paused') return t;
  return t + (performance.now() - run.statusAt) / 1000 * run.status.speed;
}

function addPoint(group, time, running) {
  if (!run.actual.has(group)) run.actual.set(group, []);
  const points = run.actual.get(group);
  let i = points.length;
  while (i > 0 && points[i - 1][0] > time) i--;
  points.splice(i, 0, [time, running]);
}

function addEntry(entry) {
  run.timeline.push(entry);
  if (run.timeline.length > TIMELINE_ROWS) run.timeline.shift();
  if (entry.pool && entry.group) addPoint(entry.group, entry.time, entry.pool.running);
  if (entry.kind !== 'call') return;
  if (entry.call === 'onSchedulerPaused') run.paused.push([entry.time, null]);
  const last = run.paused[run.paused.length - 1];
  if (entry.call === 'onSchedulerResumed' && last && last[1] === null) last[1] = entry.time;
}

function addSample(sample) {
  for (const [group, counts] of Object.entries(sample.groups)) addPoint(group, sample.time, counts.running);
  if (sample.http) run.samples.push({ time: sample.time, rps: sample.http.total.rps, p95: sample.http.total.p95_ms });
}

// ---- the status ----

function applyStatus(status) {
  run.status = status;
  run.statusAt = performance.now();
  document.body.classList.toggle('http', status.total.http !== null);
  $('definition').textContent = status.definition;
  $('speed').textContent = status.speed === 1 ? 'real time' : `${status.speed}× speed`;
  const badge = $('state');
  badge.textContent = badge.dataset.state = status.state;
  document.title = `qvschedule · ${status.state}`;
  $('stage-line').replaceChildren(...stageLine(status));
  $('run-time').textContent = status.run_time_s === null ? '' : `run time ${clock(status.run_time_s)}`;
  $('pause').disabled = status.state !== 'running';
  $('resume').disabled = status.state !== 'paused';
  $('stop').disabled = !['running', 'paused', 'loaded'].includes(status.state);
  showKpis(status.total);
  showGroupCounts(status.groups);
  showGroups(status.groups);
  scheduleRender();
}

function stageLine(status) {
  const stage = status.stage;
  if (!stage) {
    const text = status.groups.length > 1 ? `${status.groups.length} groups, each on its own schedule` : '—';
    return [document.createTextNode(text)];
  }
  const parts = [html('span', 'current', stage.current)];
  if (stage.has_next) {
    const batch = stage.vusers_in_next_batch;
    const vusers = batch === 'all' ? ' (all vusers)' : batch > 0 ? ` (${batch} vuser${batch === 1 ? '' : 's'})` : '';
    parts.push(html('span', 'next', ` · next ${stage.next} in ${stage.seconds_to_next} s${vusers}`));
  } else {
    parts.push(html('span', 'next', ' · no next stage'));
  }
  return parts;
}

function showKpis(total) {
  const pool = total.pool;
  $('kpi-running').textContent = number(pool.running);
  $('kpi-running-sub').textContent =
      `of ${number(pool.total)} · ${number(pool.initialized)} initialized · ${number(pool.done)} done`;
  if (!total.http) return;
  const last = total.http.last_second, all = total.http.total;
  $('kpi-rps').textContent = number(last.rps);
  $('kpi-requests').textContent = `${number(all.requests)} requests so far`;
  $('kpi-p95').textContent = ms(last.rps === 0 ? null : last.p95_ms);
  $('kpi-p95-sub').textContent = `over the run: ${ms(all.p95_ms)}`;
  $('kpi-errors').textContent = number(all.errors);
  $('kpi-errors-sub').textContent = `${(all.error_rate * 100).toFixed(2)}% · last second ${number(last.errors)}`;
}

function showGroupCounts(groups) {
  const counts = new Map();
  for (const g of groups) counts.set(g.state, (counts.get(g.state) || 0) + 1);
  $('kpi-groups').textContent = number(groups.length);
  $('kpi-groups-sub').textContent = Array.from(counts, ([state, n]) => `${n} ${state}`).join(' · ');
}

function poolCell(pool) {
  const cell = html('td');
  const bar = html('div', 'poolbar');
  for (const [cls, n] of [['p-run', pool.running], ['p-init', pool.initialized], ['p-done', pool.done]]) {
    const part = html('span', cls);
    part.style.width = pool.total ? (100 * n / pool.total) + '%' : '0';
    bar.appendChild(part);
  }
  cell.append(bar, html('div', 'pooltext',
      `${pool.running} run · ${pool.initialized} init · ${pool.idle} idle · ${pool.done} done of ${pool.total}`));
  return cell;
}

function groupRow(group) {
  const row = html('tr');
  const name = html('td');
  const label = html('span', 'group-name');
  const swatch = html('span', 'swatch');
  swatch.style.background = colorOf(group.name);
  label.append(swatch, group.name);
  name.appendChild(label);
  const state = html('td');
  const pill = html('span', 'pill', group.state);
  pill.dataset.state = group.state;
  state.appendChild(pill);
  row.append(name, state, html('td', 'num', group.run_time_s === null ? '—' : clock(group.run_time_s)),
      html('td', '', group.run_mode || '—'), poolCell(group.pool));
  const http = group.http;
  row.append(html('td', 'num http-only', http ? number(http.last_second.rps) : '—'),
      html('td', 'num http-only', http ? ms(http.last_second.p95_ms) : '—'),
      html('td', 'num http-only', http ? number(http.total.errors) : '—'));
  row.dataset.group = group.name;
  return row;
}

function showGroups(groups) {
  $('groups').tBodies[0].replaceChildren(...groups.map(groupRow));
}

// ---- the charts ----

function frame(svg, margin) {
  svg.replaceChildren();
  const width = svg.clientWidth, height = svg.clientHeight;
  return { width, height, left: margin.left, right: width - margin.right, top: margin.top,
           bottom: height - margin.bottom };
}

function xAxis(svg, f, x, xMax) {
  const grid = el('g', { class: 'grid' }, svg);
  const step = niceStep(xMax, Math.max(2, Math.floor((f.right - f.left) / 90)));
  for (let t = 0; t <= xMax + 1e-9; t += step) {
    el('line', { x1: x(t), x2: x(t), y1: f.top, y2: f.bottom }, grid);
    el('text', { x: x(t), y: f.bottom + 16, 'text-anchor': 'middle' }, svg, tickLabel(t));
  }
  el('line', { x1: f.left, x2: f.right, y1: f.bottom, y2: f.bottom }, el('g', { class: 'axis' }, svg));
}

function yAxis(svg, f, y, yMax, side, format) {
  const grid = el('g', { class: 'grid' }, svg);
  const step = Math.max(side === 'left' ? 1 : 0, niceStep(yMax, 5));
  for (let v = 0; v <= yMax + 1e-9; v += step) {
    if (side === 'left') el('line', { x1: f.left, x2: f.right, y1: y(v), y2: y(v) }, grid);
    const atX = side === 'left' ? f.left - 8 : f.right + 8;
    el('text', { x: atX, y: y(v) + 4, 'text-anchor': side === 'left' ? 'end' : 'start' }, svg, format(v));
  }
}

function stepPath(points, xEnd, x, y) {
  if (!points.length) return '';
  let d = `M${x(points[0][0]).toFixed(1)},${y(points[0][1]).toFixed(1)}`;
  for (let i = 1; i < points.length; i++) d += `H${x(points[i][0]).toFixed(1)}V${y(points[i][1]).toFixed(1)}`;
  return d + `H${x(Math.max(xEnd, points[points.length - 1][0])).toFixed(1)}`;
}

function plannedPoints(group) {
  const rows = (run.plan && run.plan.series[group]) || [];
  const points = rows.map((r) => [r[0], r[1]]);
  if (!points.length || points[0][0] > 0) points.unshift([0, 0]);
  return points;
}

function timeDomain() {
  const planEnd = run.plan ? run.plan.end_s : 0;
  const raw = Math.max(planEnd * 1.03, now() * 1.02, 10);
  const step = niceStep(raw, 8);
  return Math.ceil(raw / step) * step;
}

function drawPaused(svg, f, x, xMax) {
  for (const [from, to] of run.paused) {
    const end = to === null ? Math.min(now(), xMax) : to;
    el('rect', { class: 'paused', x: x(from), y: f.top, width: Math.max(1, x(end) - x(from)), height: f.bottom - f.top },
       svg);
  }
}

function drawNow(svg, f, x) {
  const t = now();
  el('line', { class: 'now', x1: x(t), x2: x(t), y1: f.top, y2: f.bottom }, svg);
  el('text', { class: 'now-label', x: x(t) + 4, y: f.top + 10 }, svg, clock(t));
}

function renderVusers() {
  const svg = $('chart-vusers');
  const f = frame(svg, CHART_MARGIN);
  const xMax = timeDomain();
  const groups = groupNames();
  let yRaw = 1;
  for (const g of groups) {
    for (const p of plannedPoints(g).concat(run.actual.get(g) || [])) yRaw = Math.max(yRaw, p[1]);
  }
  const yStep = Math.max(1, niceStep(yRaw * 1.1, 5));
  const yMax = Math.ceil(yRaw * 1.1 / yStep) * yStep;
  const x = (t) => f.left + (f.right - f.left) * t / xMax;
  const y = (v) => f.bottom - (f.bottom - f.top) * v / yMax;
  yAxis(svg, f, y, yMax, 'left', (v) => String(v));
  xAxis(svg, f, x, xMax);
  drawPaused(svg, f, x, xMax);
  for (const g of groups) {
    const color = colorOf(g);
    el('path', { class: 'planned', 'data-group': g, stroke: color, d: stepPath(plannedPoints(g), xMax, x, y) }, svg);
    const actual = run.actual.get(g) || [];
    if (actual.length) {
      el('path', { class: 'actual', 'data-group': g, stroke: color, d: stepPath(actual, now(), x, y) }, svg);
    }
  }
  drawNow(svg, f, x);
  renderLegend(groups);
}

function legendLine(attrs) {
  const svg = el('svg', { width: 26, height: 10 });
  el('line', Object.assign({ x1: 0, x2: 26, y1: 5, y2: 5 }, attrs), svg);
  return svg;
}

function legendKey(graphic, text) {
  const key = html('span', 'key');
  key.append(graphic, text);
  return key;
}

function renderLegend(groups) {
  const keys = groups.map((g) => legendKey(legendLine({ stroke: colorOf(g), 'stroke-width': 3 }), g));
  keys.push(legendKey(legendLine({ stroke: '#6b7485', 'stroke-width': 1.6, 'stroke-dasharray': '6 4' }), 'planned'));
  keys.push(legendKey(legendLine({ stroke: '#6b7485', 'stroke-width': 2.6 }), 'running'));
  const paused = el('svg', { width: 14, height: 10 });
  el('rect', { width: 14, height: 10, fill: '#f6c343', opacity: 0.35 }, paused);
  keys.push(legendKey(paused, 'paused'));
  $('legend').replaceChildren(...keys);
}

function renderHttp() {
  if (!document.body.classList.contains('http')) return;
  const svg = $('chart-http');
  const f = frame(svg, CHART_MARGIN);
  const xMax = timeDomain();
  const rpsMax = Math.max(10, ...run.samples.map((s) => s.rps)) * 1.1;
  const p95Max = Math.max(1, ...run.samples.map((s) => s.p95)) * 1.1;
  const x = (t) => f.left + (f.right - f.left) * t / xMax;
  const yr = (v) => f.bottom - (f.bottom - f.top) * v / rpsMax;
  const yp = (v) => f.bottom - (f.bottom - f.top) * v / p95Max;
  yAxis(svg, f, yr, rpsMax, 'left', (v) => number(Math.round(v)));
  yAxis(svg, f, yp, p95Max, 'right', (v) => ms(v));
  xAxis(svg, f, x, xMax);
  drawPaused(svg, f, x, xMax);
  if (run.samples.length) {
    const line = run.samples.map((s, i) => `${i ? 'L' : 'M'}${x(s.time).toFixed(1)},${yr(s.rps).toFixed(1)}`).join('');
    const first = run.samples[0], last = run.samples[run.samples.length - 1];
    el('path', { class: 'rps-area', d: `${line}L${x(last.time)},${f.bottom}L${x(first.time)},${f.bottom}Z` }, svg);
    el('path', { class: 'rps', d: line }, svg);
    el('path', { class: 'p95', d: run.samples.map((s, i) => `${i ? 'L' : 'M'}${x(s.time)},${yp(s.p95)}`).join('') }, svg);
  }
  drawNow(svg, f, x);
  $('legend-http').replaceChildren(legendKey(legendLine({ stroke: '#2f6fde', 'stroke-width': 2 }), 'requests/s'),
      legendKey(legendLine({ stroke: '#9b51e0', 'stroke-width': 1.8 }), 'p95 (right axis)'));
}

// ---- the timeline ----

function timelineRow(entry) {
  const row = html('div', 'tl-row');
  const kind = html('span', 'tl-kind', entry.kind);
  kind.dataset.kind = entry.kind;
  row.append(html('span', 'tl-time', clock(entry.time) + '.' + String(Math.round(entry.time * 1000) % 1000).padStart(3, '0')),
      kind, html('span', 'tl-group', entry.group || ''));
  const text = html('span', 'tl-text');
  if (entry.text !== undefined) {
    text.textContent = entry.text;
  } else {
    text.append(html('span', 'tl-call', entry.call), html('span', 'tl-count', entry.count === null ? '' : entry.count),
        html('span', 'tl-status status-' + (entry.status || 'none'), entry.status || ''));
    if (entry.pool) {
      const p = entry.pool;
      text.append(html('span', 'pool', `[run ${p.running} · init ${p.initialized} · idle ${p.idle} · done ${p.done}]`));
    }
  }
  row.appendChild(text);
  return row;
}

function renderTimeline() {
  $('timeline').replaceChildren(...run.timeline.slice().reverse().map(timelineRow));
}

// ---- drawing, throttled ----

let renderPending = false;
let timelineDirty = false;

function scheduleRender() {
  if (renderPending) return;
  renderPending = true;
  setTimeout(() => requestAnimationFrame(render), 150);
}

function render() {
  renderPending = false;
  if (run.status) $('clock').textContent = clock(now());
  renderVusers();
  renderHttp();
  if (timelineDirty) renderTimeline();
  timelineDirty = false;
}

// ---- the stream ----

let source = null;

function setConnection(state, text) {
  const node = $('connection');
  node.dataset.state = state;
  node.textContent = text;
}

function onStreamEvent(event, handle) {
  const id = Number(event.lastEventId);
  if (id && id <= run.lastId) return;  // seen before the connection dropped
  if (id) run.lastId = id;
  handle(JSON.parse(event.data));
  timelineDirty = true;
  scheduleRender();
}

function connect() {
  const params = new URLSearchParams();
  if (TOKEN) params.set('token', TOKEN);
  if (run.lastId) params.set('since', run.lastId);
  const query = params.toString();
  source = new EventSource('/api/events' + (query ? '?' + query : ''));
  source.onopen = () => setConnection('live', 'live');
  source.onerror = () => {
    if (!run.unauthorized) setConnection('lost', isOver() ? 'server gone (run over)' : 'reconnecting');
    if (source.readyState === EventSource.CLOSED) {  // refused: try again ourselves
      source = null;
      setTimeout(connect, 2000);
    }
  };
  source.addEventListener('entry', (e) => onStreamEvent(e, addEntry));
  source.addEventListener('sample', (e) => onStreamEvent(e, addSample));
  source.addEventListener('status', (e) => applyStatus(JSON.parse(e.data)));
}

// ---- the buttons ----

function setAnswer(text, ok) {
  const node = $('answer');
  node.textContent = text;
  node.dataset.ok = ok === undefined ? '' : String(ok);
}

async function command(name) {
  setAnswer(`POST /api/${name} …`);
  try {
    const response = await api('/api/' + name, { method: 'POST' });
    const body = await response.json();
    const status = response.ok ? body : body.status;
    if (status) applyStatus(status);
    const said = response.ok ? `state ${body.state}` : body.error;
    setAnswer(`POST /api/${name} → ${response.status} · ${said}`, response.ok);
  } catch (error) {
    setAnswer(`POST /api/${name} failed: ${error.message}`, false);
  }
}

async function loadPlan() {
  try {
    const response = await api('/api/plan');
    if (response.ok) {
      run.plan = await response.json();
      scheduleRender();
      return;
    }
  } catch (error) { /* the server is away: try again */ }
  setTimeout(loadPlan, 2000);
}

async function loadStatus() {
  try {
    const response = await api('/api/status');
    run.unauthorized = response.status === 401;
    if (response.ok) applyStatus(await response.json());
    if (run.unauthorized) setConnection('lost', 'this server needs its token: open the page with ?token=…');
  } catch (error) { /* the stream brings it too */ }
}

for (const name of ['pause', 'resume', 'stop']) $(name).addEventListener('click', () => command(name));
window.addEventListener('resize', scheduleRender);
setInterval(() => { if (run.status && !isOver()) scheduleRender(); }, 250);
loadStatus();
loadPlan();
connect();
