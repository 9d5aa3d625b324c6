// The slide list: a search box over the names, and each slide's facts
// fetched once its row comes into view (a few at a time), so that the
// server answers the list without opening every slide.

const AT_ONCE = 4;
const rows = [...document.querySelectorAll('tbody tr[data-name]')];
const search = document.getElementById('search');
const count = document.getElementById('shown-count');
const noMatch = document.getElementById('no-match');

function cell(text, className) {
  const td = document.createElement('td');
  td.textContent = text;
  if (className) td.className = className;
  return td;
}

function number(value, digits) {
  return Number(Number(value).toPrecision(digits)).toString();
}

function showFacts(row, info) {
  const pending = row.querySelector('.facts-pending');
  const resolution = info.micronsPerPixel > 0
    ? `${number(info.micronsPerPixel, 4)} \u00b5m/px${info.resolutionEstimated ? ' (estimated)' : ''}` : 'unknown';
  pending.replaceWith(
    cell(`${info.width} \u00d7 ${info.height} px`, 'size'),
    cell(info.scanScale > 0 ? `${number(info.scanScale, 4)}\u00d7` : 'unknown', 'objective'),
    cell(resolution, 'resolution'),
    cell(info.format, 'format'),
    cell(info.scanned || '', 'scanned'));
  row.dataset.facts = 'loaded';
}

function showFailure(row, reason) {
  const pending = row.querySelector('.facts-pending');
  pending.textContent = reason;
  pending.className = 'facts-failed';
  row.dataset.facts = 'failed';
}

const queue = [];
let running = 0;

function pump() {
  while (running < AT_ONCE && queue.length) {
    const row = queue.shift();
    running += 1;
    fetch(row.dataset.info)
      .then(async (response) => {
        if (response.ok) showFacts(row, await response.json());
        else showFailure(row, (await response.text()).trim() || `HTTP ${response.status}`);
      })
      .catch((error) => showFailure(row, error.message))
      .finally(() => {
        running -= 1;
        pump();
      });
  }
}

const watcher = new IntersectionObserver((entries) => {
  for (const entry of entries) {
    if (!entry.isIntersecting) continue;
    watcher.unobserve(entry.target);
    queue.push(entry.target);
  }
  pump();
}, { rootMargin: '200px' });
rows.forEach((row) => watcher.observe(row));

// Every word typed must occur in the name, in any case.
function filter() {
  const words = search.value.toLowerCase().split(/\s+/).filter(Boolean);
  let shown = 0;
  for (const row of rows) {
    const name = row.dataset.name.toLowerCase();
    const match = words.every((word) => name.includes(word));
    row.hidden = !match;
    if (match) shown += 1;
  }
  count.textContent = words.length ? `${shown} of ${rows.length} slides` : `${rows.length} slide${rows.length === 1 ? '' : 's'}`;
  noMatch.hidden = shown > 0 || rows.length === 0;
}

search.addEventListener('input', filter);
search.addEventListener('keydown', (event) => {
  // Enter opens the first slide shown.
  if (event.key !== 'Enter') return;
  const first = rows.find((row) => !row.hidden);
  if (first) location.href = first.querySelector('td:nth-child(2) a').href;
});
document.addEventListener('keydown', (event) => {
  if (event.key === '/' && document.activeElement !== search) {
    event.preventDefault();
    search.focus();
  }
});
if (search.value) filter();
