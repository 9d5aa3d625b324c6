// strata serve in headless Chromium, as a pathologist uses it: the slide
// list (facts fetched row by row, the search box), the viewer showing
// tissue, the magnification at known zooms, the cursor's position, a ruler
// and a rectangle measured between known points and kept while zooming, the
// view's address restoring the same view, a GeoJSON polygon drawn in its
// colour at its place, next and previous slides, saving to the sidecar (and
// a read-only server refusing), unreadable and huge sidecars reported while
// the slide still shows, the shortcut overlay and the side panel folding
// away on a narrow window. The pages may request nothing from any other
// host. Screenshots stay in the artifact folder.
//
//   node browser_test.mjs STRATA_PROGRAM ARTIFACT_FOLDER
import { spawn, execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const webRoot = path.resolve(here, '../../web');
const { chromium } = createRequire(path.join(webRoot, 'package.json'))('playwright-core');

const [strata, artifacts] = process.argv.slice(2);
const deadline = setTimeout(() => fail('took longer than 200 s'), 200000);
const servers = [];
let browser;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'strata-browser-'));
const slides = path.join(work, 'slides');
const checks = [];
const started = Date.now();

// a.ztx is scanned at 20x with 0.5 um per pixel.
const MICRONS_PER_PIXEL = 0.5;
const GREEN = [0, 255, 0];
const RULER = [0, 110, 255];
const POLYGON = [[1000, 1000], [2500, 1000], [2500, 2200], [1500, 2600], [1000, 2200], [1000, 1000]];

function fail(message) {
  console.error(`FAIL: ${message}`);
  cleanUp();
  process.exit(1);
}

function check(ok, message) {
  if (!ok) checks.push(message);
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${message} [${((Date.now() - started) / 1000).toFixed(1)} s]`);
}

function cleanUp() {
  clearTimeout(deadline);
  for (const server of servers) {
    if (server.exitCode === null) server.kill('SIGTERM');
  }
  fs.rmSync(work, { recursive: true, force: true });
}

function startServer(...args) {
  return new Promise((resolve, reject) => {
    const server = spawn(strata, ['serve', '--port', '0', ...args],
                         { stdio: ['ignore', 'pipe', 'inherit'] });
    servers.push(server);
    let output = '';
    server.stdout.on('data', (chunk) => {
      output += chunk;
      const found = output.match(/http:\/\/127\.0\.0\.1:\d+\//);
      if (found) resolve(found[0]);
    });
    server.on('exit', (code) => reject(new Error(`server ended (${code}) before listening`)));
  });
}

function writeSlides() {
  fs.mkdirSync(slides);
  const synth = (name, width, height, seed) => execFileSync(strata, [
    'synth', path.join(slides, name), '--width', String(width), '--height', String(height),
    '--scale', '20', '--seed', String(seed)], { stdio: 'ignore' });
  synth('a.ztx', 6000, 4000, 11);
  synth('b.ztx', 2000, 1500, 12);
  synth('c.ztx', 2000, 1500, 13);
  const collection = {
    type: 'FeatureCollection',
    features: [
      { type: 'Feature', geometry: { type: 'Polygon', coordinates: [POLYGON] },
        properties: { name: 'Tumour region', classification: { name: 'Tumor', color: GREEN } } },
      { type: 'Feature', geometry: { type: 'Point', coordinates: [4500, 3000] },
        properties: { name: 'Mitosis', classification: { name: 'Mitosis', color: [255, 0, 0] } } },
    ],
  };
  fs.writeFileSync(path.join(slides, 'a.ztx.geojson'), JSON.stringify(collection));
  fs.writeFileSync(path.join(slides, 'b.geojson'), '{"type": "FeatureCollection", "features": [');
  // Over the limit of 32 MB: refused unread.
  fs.writeFileSync(path.join(slides, 'c.ztx.geojson'), Buffer.alloc(33 << 20, 0x20));
}

// Looks at a PNG screenshot in the page's own canvas: the share of pixels
// that look like stained tissue and the number of distinct colours, and for
// each of `points`, whether a pixel within `radius` has `colour` (within 40
// a channel).
async function inspect(page, png, points = [], colour = [0, 0, 0], radius = 2) {
  return page.evaluate(async ([base64, spots, wanted, reach]) => {
    const image = new Image();
    image.src = 'data:image/png;base64,' + base64;
    await image.decode();
    const canvas = document.createElement('canvas');
    canvas.width = image.width;
    canvas.height = image.height;
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    const pixels = context.getImageData(0, 0, image.width, image.height).data;
    let tissue = 0;
    const colours = new Set();
    for (let i = 0; i < pixels.length; i += 4) {
      const [r, g, b] = [pixels[i], pixels[i + 1], pixels[i + 2]];
      if (Math.min(r, g, b) < 225 && r > g + 10 && b > g) tissue++;
      colours.add((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
    }
    const found = spots.map(([x, y]) => {
      for (let dy = -reach; dy <= reach; dy++) {
        for (let dx = -reach; dx <= reach; dx++) {
          const at = ((Math.round(y) + dy) * image.width + Math.round(x) + dx) * 4;
          if ([0, 1, 2].every((c) => Math.abs(pixels[at + c] - wanted[c]) <= 40)) return true;
        }
      }
      return false;
    });
    return { share: tissue / (pixels.length / 4), colours: colours.size, found };
  }, [png.toString('base64'), points, colour, radius]);
}

async function waitUntilSettled(page) {
  await page.waitForFunction(() => {
    const viewer = window.strataViewer;
    const image = viewer && viewer.world.getItemAt(0);
    return image && image.getFullyLoaded() &&
        Math.abs(viewer.viewport.getZoom(true) - viewer.viewport.getZoom(false)) < 1e-9;
  }, null, { timeout: 60000, polling: 100 });
  // The overlay draws on the next frame.
  await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
}

// Page coordinates of level-0 points.
async function onScreen(page, points) {
  return page.evaluate((list) => {
    const viewer = window.strataViewer;
    const box = viewer.element.getBoundingClientRect();
    return list.map(([x, y]) => {
      const p = viewer.viewport.imageToViewerElementCoordinates(new OpenSeadragon.Point(x, y));
      return [box.left + p.x, box.top + p.y];
    });
  }, points);
}

// The view: centre in level-0 pixels, screen pixels per level-0 pixel, rotation.
async function viewOf(page) {
  return page.evaluate(() => {
    const viewport = window.strataViewer.viewport;
    const centre = viewport.viewportToImageCoordinates(viewport.getCenter(true));
    return { x: centre.x, y: centre.y, zoom: viewport.viewportToImageZoom(viewport.getZoom(true)),
             rotation: viewport.getRotation(true) };
  });
}

async function setView(page, x, y, zoom) {
  await page.evaluate(([cx, cy, z]) => {
    const viewport = window.strataViewer.viewport;
    viewport.setRotation(0, true);
    viewport.zoomTo(viewport.imageToViewportZoom(z), null, true);
    viewport.panTo(viewport.imageToViewportCoordinates(cx, cy), true);
  }, [x, y, zoom]);
  await waitUntilSettled(page);
}

async function drag(page, from, to) {
  await page.mouse.move(...from);
  await page.mouse.down();
  await page.mouse.move(...to, { steps: 12 });
  await page.mouse.up();
}

// The number of a measurement line such as "Ruler 1 500 µm ×", in µm or mm².
function measured(text) {
  const found = /([\d.]+) (µm|mm²|mm)/.exec(text || '');
  if (!found) return NaN;
  return Number(found[1]) * (found[2] === 'mm' ? 1000 : 1);
}

const near = (value, expected, share) => Math.abs(value - expected) <= Math.abs(expected) * share;

async function checkList(page, url) {
  await page.goto(url);
  await page.waitForFunction(() => document.querySelectorAll('tr[data-facts="loaded"]').length === 3,
                             null, { timeout: 30000 });
  await page.waitForFunction(() => [...document.images].every((image) => image.complete && image.naturalWidth > 0));
  const size = await page.locator('tr[data-name="a.ztx"] td.size').textContent();
  check(size === '6000 × 4000 px', `the list fetched a.ztx's size ("${size}")`);
  await page.screenshot({ path: path.join(artifacts, 'slide-list.png') });
  await page.fill('#search', 'B.Z');
  const shown = await page.evaluate(() => [...document.querySelectorAll('tr[data-name]')]
    .filter((row) => !row.hidden).map((row) => row.dataset.name));
  check(shown.join() === 'b.ztx', `the search box shows only b.ztx (${shown.join()})`);
  await page.screenshot({ path: path.join(artifacts, 'slide-list-search.png') });
  await page.fill('#search', '');
}

async function checkViewerShowsTissue(page) {
  await waitUntilSettled(page);
  const view = page.locator('#view');
  const shots = [await view.screenshot({ path: path.join(artifacts, 'viewer.png') })];
  await page.getByTitle('Zoom in').first().click();
  await waitUntilSettled(page);
  shots.push(await view.screenshot({ path: path.join(artifacts, 'viewer-zoomed.png') }));
  for (const [i, shot] of shots.entries()) {
    const { share, colours } = await inspect(page, shot);
    check(share >= 0.05 && colours >= 200,
          `screenshot ${i} shows tissue (${(share * 100).toFixed(1)}%, ${colours} colours)`);
  }
  const scaleBar = await page.locator('#scale-bar-length').textContent();
  check(/\d+ (nm|\u00b5m|mm)$/.test(scaleBar || ''), `the scale bar reads "${scaleBar}"`);
  const sideImages = await page.evaluate(() => ['label', 'preview'].map((id) => {
    const image = document.getElementById(id);
    return image && image.complete && image.naturalWidth > 0;
  }));
  check(sideImages.every(Boolean), 'the label and the preview load');
}

async function checkMagnification(page) {
  const readout = () => page.locator('#magnification').textContent();
  const buttons = await page.locator('#magnification-buttons button').allTextContents();
  check(buttons.join() === '1×,2×,5×,10×,20×', `presets up to the slide's 20× (${buttons.join()})`);
  await page.keyboard.press('4');
  await waitUntilSettled(page);
  let view = await viewOf(page);
  check(await readout() === '10×' && near(view.zoom, 0.5, 0.001),
        `key 4 gives 10× (reads ${await readout()}, ${view.zoom.toFixed(4)} screen px a pixel)`);
  await page.getByRole('button', { name: '20×' }).click();
  await waitUntilSettled(page);
  view = await viewOf(page);
  check(await readout() === '20×' && near(view.zoom, 1, 0.001), `the 20× button gives 20× (${await readout()})`);
  await setView(page, 3000, 2000, 0.125);
  check(await readout() === '2.5×', `a zoom of 1/8 reads 2.5× (${await readout()})`);
}

async function checkCursor(page) {
  await setView(page, 3000, 2000, 0.5);
  const [[x, y]] = await onScreen(page, [[2400, 1700]]);
  await page.mouse.move(x, y);
  const text = await page.locator('#cursor-position').textContent();
  const numbers = (text.match(/[\d,.]+/g) || []).map((n) => Number(n.replace(/,/g, '')));
  check(numbers.length === 4 && near(numbers[0], 2400, 0.002) && near(numbers[1], 1700, 0.002) &&
        near(numbers[2], 1200, 0.002) && near(numbers[3], 850, 0.002),
        `the cursor at (2400, 1700) reads "${text}"`);
}

// A ruler from (2600, 1900) to (3400, 2500) spans 1000 pixels, 500 µm; the
// rectangle between them 800 x 600 pixels, 0.12 mm².
async function checkMeasuring(page) {
  await setView(page, 3600, 2200, 0.4);
  const [a, b] = await onScreen(page, [[2600, 1900], [3400, 2500]]);
  await page.keyboard.press('m');
  await drag(page, a, b);
  await page.keyboard.press('b');
  const [c, d] = await onScreen(page, [[3800, 1900], [4600, 2500]]);
  await drag(page, c, d);
  const lines = await page.locator('#measurements li').allTextContents();
  check(lines.length === 2, `two measurements listed (${lines.join(' | ')})`);
  check(near(measured(lines[0]), 500, 0.01), `the ruler reads 500 µm within 1 % ("${lines[0]}")`);
  check(near(measured(lines[1]), 0.12, 0.01), `the rectangle reads 0.12 mm² within 1 % ("${lines[1]}")`);
  await page.screenshot({ path: path.join(artifacts, 'measured.png') });
  // Zoomed in on the ruler's middle, its line is drawn there.
  await setView(page, 3000, 2200, 1);
  const [middle] = await onScreen(page, [[3000, 2200]]);
  const shot = await page.screenshot({ path: path.join(artifacts, 'measured-zoomed.png') });
  check((await inspect(page, shot, [middle], RULER)).found[0], 'the ruler is kept in place at 20×');
}

async function checkAddress(page, context) {
  await setView(page, 2345, 1678, 0.3);
  await page.keyboard.press('r');
  await waitUntilSettled(page);
  await page.waitForFunction(() => (document.body.dataset.viewState || '').includes('rot=90'));
  const before = await viewOf(page);
  const address = page.url();
  check(/#x=2345&y=1678&mag=6&rot=90$/.test(address), `the address holds the view (${address})`);
  const other = await context.newPage();
  await other.goto(address);
  await waitUntilSettled(other);
  const after = await viewOf(other);
  check(Math.abs(after.x - before.x) < 1 && Math.abs(after.y - before.y) < 1 &&
        near(after.zoom, before.zoom, 0.001) && after.rotation === 90,
        `the address restores the view (${JSON.stringify(after)})`);
  await other.screenshot({ path: path.join(artifacts, 'restored-view.png') });
  await other.close();
}

async function checkPolygon(page) {
  await setView(page, 1800, 1800, 0.25);
  const midpoints = POLYGON.slice(1).map(([x, y], i) => [(x + POLYGON[i][0]) / 2, (y + POLYGON[i][1]) / 2]);
  const shown = await onScreen(page, midpoints);
  const drawn = await inspect(page, await page.screenshot({ path: path.join(artifacts, 'annotations.png') }),
                              shown, GREEN);
  check(drawn.found.every(Boolean), 'the GeoJSON polygon is outlined in its class colour at its place');
  const status = await page.locator('#annotation-status').textContent();
  check(status === '2 annotations', `the panel counts the annotations ("${status}")`);
  await page.keyboard.press('o');
  await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
  const hidden = await inspect(page, await page.screenshot(), shown, GREEN);
  check(!hidden.found.some(Boolean), 'the o key hides the annotations');
  await page.keyboard.press('o');
}

async function checkSaving(page) {
  await page.locator('#save-annotations').click();
  await page.waitForFunction(() => document.body.dataset.saved === '1' ||
      document.getElementById('save-status').classList.contains('error'), null, { timeout: 10000 });
  const status = await page.locator('#save-status').textContent();
  check(status === 'Saved to a.ztx.geojson', `saving reports its file ("${status}")`);
  const saved = JSON.parse(fs.readFileSync(path.join(slides, 'a.ztx.geojson'), 'utf8'));
  const names = saved.features.map((f) => f.properties.name).join();
  const ruler = saved.features.find((f) => f.geometry.type === 'LineString');
  check(saved.type === 'FeatureCollection' && names === 'Tumour region,Mitosis,Ruler 1,Area 1',
        `the sidecar keeps the annotations and adds the shapes (${names})`);
  check(ruler && near(ruler.properties.measurement.lengthMicrons, 500, 0.01) &&
        near(Math.hypot(ruler.geometry.coordinates[1][0] - ruler.geometry.coordinates[0][0],
                        ruler.geometry.coordinates[1][1] - ruler.geometry.coordinates[0][1]), 1000, 0.01),
        'the ruler is saved in level-0 pixels');
  await page.reload();
  await waitUntilSettled(page);
  await page.waitForFunction(() => document.body.dataset.annotationState === 'loaded');
  const lines = await page.locator('#measurements li').allTextContents();
  check(lines.length === 2, `the saved shapes come back as measurements (${lines.join(' | ')})`);
}

async function checkNeighbours(page, url) {
  await page.keyboard.press(']');
  await page.waitForURL(`${url}view/b.ztx`);
  await waitUntilSettled(page);
  await page.waitForFunction(() => document.body.dataset.annotationState === 'failed');
  const broken = await page.locator('#annotation-status').textContent();
  check(/^b\.geojson: not valid JSON \(at byte \d+\)$/.test(broken), `a broken sidecar is named ("${broken}")`);
  await page.screenshot({ path: path.join(artifacts, 'broken-annotations.png') });
  await page.locator('#next-slide').click();
  await page.waitForURL(`${url}view/c.ztx`);
  await waitUntilSettled(page);
  await page.waitForFunction(() => document.body.dataset.annotationState === 'failed');
  const huge = await page.locator('#annotation-status').textContent();
  check(huge === 'c.ztx.geojson: too large: 33.0 MB, the viewer takes up to 32.0 MB',
        `a huge sidecar is refused ("${huge}")`);
  const last = await page.locator('#next-slide').getAttribute('class');
  check(last.includes('disabled'), 'the last slide has no next one');
  await page.keyboard.press('PageUp');
  await page.waitForURL(`${url}view/b.ztx`);
  await page.keyboard.press('[');
  await page.waitForURL(`${url}view/a.ztx`);
  await waitUntilSettled(page);
}

async function checkReadOnly(context, url) {
  const page = await context.newPage();
  await page.goto(`${url}view/a.ztx`);
  await waitUntilSettled(page);
  const before = fs.readFileSync(path.join(slides, 'a.ztx.geojson'), 'utf8');
  const disabled = await page.locator('#save-annotations').isDisabled();
  const status = await page.locator('#save-status').textContent();
  check(disabled && status === 'Saving is off: the server is read-only.',
        `a read-only server offers no saving ("${status}")`);
  const refused = await page.evaluate(async (target) => {
    const response = await fetch(target, { method: 'POST', headers: { 'Content-Type': 'application/geo+json' },
                                           body: '{"type": "FeatureCollection", "features": []}' });
    return `${response.status} ${(await response.text()).trim()}`;
  }, `${url}slide/a.ztx/annotations.geojson`);
  check(refused === '403 the server is read-only (--read-only): annotations are not saved',
        `a read-only server refuses a save (${refused})`);
  check(fs.readFileSync(path.join(slides, 'a.ztx.geojson'), 'utf8') === before, 'the sidecar is unchanged');
  await page.close();
}

async function checkShortcutsAndPanel(page) {
  await page.keyboard.press('?');
  const overlay = page.locator('#shortcuts');
  const text = await overlay.textContent();
  check(await overlay.isVisible() && text.includes('Ruler') && text.includes('Next slide'),
        'the ? key shows the shortcuts');
  await page.screenshot({ path: path.join(artifacts, 'shortcuts.png') });
  await page.keyboard.press('Escape');
  check(!(await overlay.isVisible()), 'Escape closes the shortcuts');
  await page.setViewportSize({ width: 700, height: 700 });
  const panel = page.locator('#panel');
  check(!(await panel.isVisible()), 'the side panel folds away under 800 px');
  await page.locator('#panel-toggle').click();
  check(await panel.isVisible(), 'the panel button unfolds it');
  await page.screenshot({ path: path.join(artifacts, 'narrow-panel.png') });
  await page.setViewportSize({ width: 1200, height: 800 });
  check(await panel.isVisible(), 'the panel is beside the slide on a wide window');
}

async function main() {
  fs.mkdirSync(artifacts, { recursive: true });
  writeSlides();
  const url = await startServer(slides);
  const readOnlyUrl = await startServer('--read-only', slides);

  const context = await chromium.launchPersistentContext(path.join(work, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1200, height: 800 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  browser = context;
  const elsewhere = [];
  const failed = [];
  // Anything not for our servers is recorded and never leaves the machine.
  await context.route('**/*', (route) => {
    const target = route.request().url();
    if (target.startsWith(url) || target.startsWith(readOnlyUrl) || target.startsWith('data:')) {
      return route.continue();
    }
    elsewhere.push(target);
    return route.abort();
  });
  // The unreadable sidecars and the read-only refusal are meant to fail.
  const expected = /annotations\.geojson$/;
  context.on('response', (response) => {
    if (response.status() >= 400 && !expected.test(response.url())) {
      failed.push(`${response.status()} ${response.url()}`);
    }
  });
  const page = context.pages()[0] || await context.newPage();
  page.on('pageerror', (error) => failed.push(`page error: ${error.message}`));

  await checkList(page, url);
  await page.locator('a[href="/view/a.ztx"]').nth(1).click();
  await page.waitForURL(new RegExp(`^${url}view/a\\.ztx`));
  await checkViewerShowsTissue(page);
  await checkMagnification(page);
  await checkCursor(page);
  await checkMeasuring(page);
  await checkPolygon(page);
  await checkSaving(page);
  await checkAddress(page, context);
  await checkNeighbours(page, url);
  await checkReadOnly(context, readOnlyUrl);
  await checkShortcutsAndPanel(page);

  check(elsewhere.length === 0, `no requests to other hosts (${elsewhere.join(', ')})`);
  check(failed.length === 0, `no failed loads (${failed.join(', ')})`);
  await context.close();
  browser = null;
  if (checks.length) fail(checks.join('; '));
  console.log(`PASS: the viewer in Chromium; screenshots in ${artifacts}`);
  cleanUp();
}

main().catch(async (error) => {
  if (browser) await browser.close().catch(() => {});
  fail(error.stack || String(error));
});
