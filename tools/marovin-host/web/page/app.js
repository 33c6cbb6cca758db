// The web panel: the tags table and the trend follow /api/events; writes go
// to /api/write; the frame trace is fetched only while its box is open.
'use strict';
const $ = (id) => document.getElementById(id);
const tags = new Map();  // name -> {state, cells}
let status = {};
let selected = [];
let chart = null;
let chartData = [];
let traceSeq = 0;
let traceTimer = null;

async function getJson(url, options) {
  const res = await fetch(url, options);
  const body = await res.json().catch(() => ({}));
  if (!res.ok) throw new Error(body.error || res.statusText);
  return body;
}

function cell(tr, text, cls) {
  const td = tr.insertCell();
  td.textContent = text;
  if (cls) td.className = cls;
  return td;
}

// Whole numbers as they are (a 32-bit count has ten digits), others without float noise.
function shown(value) {
  if (typeof value !== 'number') return '?';
  return Number.isInteger(value) ? String(value) : String(+value.toPrecision(9));
}

function showTag(t) {
  const e = tags.get(t.tag);
  if (!e) return;
  e.state = t;
  e.value.textContent = shown(t.value);
  e.hex.textContent = t.hex || '';
  e.status.textContent = t.status;
  e.status.className = 'status ' + t.status;
}

// Age: from the tag's last good read to the refresh that sent it.
function showAges(ts) {
  for (const e of tags.values()) {
    e.age.textContent = e.state.value === undefined ? '' : ((ts - Date.parse(e.state.ts)) / 1000).toFixed(1) + ' s';
  }
}

function showStatus(s) {
  $('port').textContent = s.port;
  showLink(s.link);
  const failed = Object.values(s.failures).reduce((a, b) => a + b, 0);
  $('counters').textContent = `${s.exchanges} exchanges, ${s.exchanges_per_s}/s | repeats ${s.repeats} | ` +
    `failures ${failed} | give-ups ${s.give_ups} | writes ${s.writes.acknowledged} ok, ${s.writes.failed} failed`;
}

function showLink(link) {
  $('link').textContent = 'link ' + link;
  $('link').className = 'link ' + link;
}

function writeField(name) {
  const form = document.createElement('form');
  const input = document.createElement('input');
  input.size = 8;
  input.setAttribute('aria-label', 'value for ' + name);
  const button = document.createElement('button');
  button.textContent = 'set';
  const out = document.createElement('span');
  form.append(input, button, out);
  form.addEventListener('submit', async (ev) => {
    ev.preventDefault();
    const text = input.value.trim();
    // Number('') is 0: an empty field must not write a value nobody typed.
    if (text === '') {
      [out.textContent, out.className] = ['type a value', 'bad'];
      return;
    }
    const value = text === 'true' || text === 'false' ? text === 'true' : Number(text);
    const headers = {'Content-Type': 'application/json'};
    if ($('token').value) headers.Authorization = 'Bearer ' + $('token').value;
    out.textContent = '...';
    try {
      const r = await getJson('/api/write', {method: 'POST', headers, body: JSON.stringify({tag: name, value})});
      [out.textContent, out.className] = [r.result, 'ok'];
    } catch (err) {
      [out.textContent, out.className] = [err.message, 'bad'];
    }
  });
  return form;
}

function buildTable(list) {
  const body = $('tags').tBodies[0];
  for (const t of list) {
    const tr = body.insertRow();
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.setAttribute('aria-label', 'trend of ' + t.tag);
    box.addEventListener('change', () => trend(t.tag, box.checked));
    tr.insertCell().append(box);
    [t.tag, t.station, t.area, t.address].forEach((text, k) => cell(tr, text, k % 2 ? 'num' : ''));
    const e = {value: cell(tr, '', 'num'), hex: cell(tr, '', 'num')};
    cell(tr, t.unit);
    [e.status, e.age] = [cell(tr, ''), cell(tr, '', 'num')];
    const w = cell(tr, '', 'write');
    if (status.http_writes && t.writable) w.append(writeField(t.tag));
    tags.set(t.tag, e);
    showTag(t);
  }
}

// The selected tags' history, merged on the refresh times they share.
async function trend(name, on) {
  selected = selected.filter((n) => n !== name).concat(on ? [name] : []);
  const histories = await Promise.all(selected.map((n) => getJson('/api/history?tag=' + encodeURIComponent(n))));
  const rows = new Map();
  histories.forEach((h, k) => {
    for (const [ts, v] of h.points) {
      if (!rows.has(ts)) rows.set(ts, [new Date(ts), ...selected.map(() => null)]);
      rows.get(ts)[k + 1] = v;
    }
  });
  chartData = [...rows.values()].sort((a, b) => a[0] - b[0]);
  if (chart) chart.destroy();
  chart = null;
  drawChart();
}

function drawChart() {
  $('chart-hint').hidden = selected.length > 0;
  if (chart) {
    chart.updateOptions({file: chartData});
  } else if (selected.length && chartData.length) {
    chart = new Dygraph($('chart'), chartData, {labels: ['time', ...selected], connectSeparatedPoints: true,
      legend: 'always', axes: {x: {axisLabelWidth: 70}}});
  }
}

function onRefresh(ev) {
  const r = JSON.parse(ev.data);
  showStatus(r.status);
  r.tags.forEach(showTag);
  showAges(r.ts);
  if (!selected.length) return;
  chartData.push([new Date(r.ts), ...selected.map((n) => tags.get(n).state.value ?? null)]);
  chartData.splice(0, chartData.length - status.history);
  drawChart();
}

function addNotice(n) {
  const li = document.createElement('li');
  li.textContent = `${new Date(n.ts).toLocaleTimeString()} ${n.kind}: ${n.text}`;
  $('notices').prepend(li);
  while ($('notices').children.length > 50) $('notices').lastChild.remove();
}

function connect() {
  const es = new EventSource('/api/events');
  es.addEventListener('open', () => {
    $('conn').textContent = 'live';
    $('notices').replaceChildren();
  });
  es.addEventListener('refresh', onRefresh);
  es.addEventListener('change', (ev) => JSON.parse(ev.data).tags.forEach(showTag));
  es.addEventListener('notice', (ev) => addNotice(JSON.parse(ev.data)));
  es.addEventListener('link', (ev) => showLink(JSON.parse(ev.data).link));
  es.addEventListener('error', () => {
    $('conn').textContent = 'disconnected';
    if (es.readyState === EventSource.CLOSED) setTimeout(connect, 3000);
  });
}

async function pollTrace() {
  const t = await getJson('/api/trace?after=' + traceSeq);
  traceSeq = t.seq;
  const lines = ($('trace').textContent + t.lines.map((l) => l + '\n').join('')).split('\n');
  $('trace').textContent = lines.slice(-501).join('\n');
  $('trace').scrollTop = $('trace').scrollHeight;
}

$('trace-box').addEventListener('toggle', () => {
  clearInterval(traceTimer);
  if ($('trace-box').open) {
    pollTrace();
    traceTimer = setInterval(pollTrace, 1000);
  }
});

async function start() {
  if (location.search.includes('token=')) history.replaceState(null, '', '/');
  status = await getJson('/api/status');
  document.body.classList.toggle('writes', status.http_writes);
  $('token-box').hidden = !(status.http_writes && status.http_token);
  $('trace-box').hidden = !status.http_trace;
  showStatus(status);
  buildTable(await getJson('/api/tags'));
  connect();
}

start().catch((err) => {
  $('conn').textContent = 'error: ' + err.message;
});
