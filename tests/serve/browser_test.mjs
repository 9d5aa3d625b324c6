// strata serve in headless Chromium: open the slide list, open a viewer,
// wait until OpenSeadragon has every tile, zoom in twice and check that the
// view shows the slide's tissue, not a blank or broken image. The page may
// request nothing from any other host. Screenshots stay in the artifact
// folder.
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
const deadline = setTimeout(() => fail('took longer than 120 s'), 120000);
let server;
let browser;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'strata-browser-'));

function fail(message) {
  console.error(`FAIL: ${message}`);
  cleanUp();
  process.exit(1);
}

function cleanUp() {
  clearTimeout(deadline);
  if (server && server.exitCode === null) server.kill('SIGTERM');
  fs.rmSync(work, { recursive: true, force: true });
}

function startServer(slide) {
  return new Promise((resolve, reject) => {
    server = spawn(strata, ['serve', '--port', '0', slide], { stdio: ['ignore', 'pipe', 'inherit'] });
    let output = '';
    server.stdout.on('data', (chunk) => {
      output += chunk;
      const found = output.match(/http:\/\/127\.0\.0\.1:\d+\//);
      if (found) resolve(found[0]);
    });
    server.on('exit', (code) => reject(new Error(`server ended (${code}) before listening`)));
  });
}

// Share of the viewer's pixels that look like stained tissue (not white,
// reddish or purplish), and the number of distinct colours.
async function tissueShare(page, png) {
  return page.evaluate(async (base64) => {
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
    return { share: tissue / (pixels.length / 4), colours: colours.size };
  }, png.toString('base64'));
}

async function waitUntilSettled(page) {
  await page.waitForFunction(() => {
    const viewer = window.strataViewer;
    const image = viewer && viewer.world.getItemAt(0);
    return image && image.getFullyLoaded() &&
        Math.abs(viewer.viewport.getZoom(true) - viewer.viewport.getZoom(false)) < 1e-9;
  }, null, { timeout: 60000, polling: 100 });
}

async function main() {
  fs.mkdirSync(artifacts, { recursive: true });
  const slide = path.join(work, 'browser.ztx');
  execFileSync(strata, ['synth', slide, '--width', '6000', '--height', '4000', '--scale', '20', '--seed', '11'],
               { stdio: 'ignore' });
  const url = await startServer(slide);

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
  // Anything not for our server is recorded and never leaves the machine.
  await context.route('**/*', (route) => {
    const target = route.request().url();
    if (target.startsWith(url) || target.startsWith('data:')) return route.continue();
    elsewhere.push(target);
    return route.abort();
  });
  const page = context.pages()[0] || await context.newPage();
  page.on('response', (response) => {
    if (response.status() >= 400) failed.push(`${response.status()} ${response.url()}`);
  });
  page.on('pageerror', (error) => failed.push(`page error: ${error.message}`));

  await page.goto(url);
  const link = page.locator('a[href="/view/browser.ztx"]').first();
  if (await link.count() !== 1) fail('the slide list has no link to the viewer');
  await page.waitForFunction(() => [...document.images].every((image) => image.complete && image.naturalWidth > 0));
  await page.screenshot({ path: path.join(artifacts, 'slide-list.png') });
  await link.click();
  await page.waitForURL(`${url}view/browser.ztx`);
  await waitUntilSettled(page);
  const view = page.locator('#view');
  const shots = [await view.screenshot({ path: path.join(artifacts, 'viewer.png') })];
  for (let i = 1; i <= 2; i++) {
    await page.getByTitle('Zoom in').first().click();
    await waitUntilSettled(page);
    shots.push(await view.screenshot({ path: path.join(artifacts, `viewer-zoomed-${i}.png`) }));
  }
  await page.screenshot({ path: path.join(artifacts, 'viewer-page.png') });
  const scaleBar = await page.locator('#scale-bar-length').textContent();
  const sideImages = await page.evaluate(() => ['label', 'preview'].map((id) => {
    const image = document.getElementById(id);
    return image && image.complete && image.naturalWidth > 0;
  }));

  const checks = [];
  for (const [i, shot] of shots.entries()) {
    const { share, colours } = await tissueShare(page, shot);
    console.log(`screenshot ${i}: ${(share * 100).toFixed(1)}% tissue, ${colours} colours`);
    if (share < 0.05 || colours < 200) checks.push(`screenshot ${i} shows no tissue`);
  }
  if (!/\d+ (nm|\u00b5m|mm)$/.test(scaleBar || '')) checks.push(`scale bar reads "${scaleBar}"`);
  if (!sideImages.every(Boolean)) checks.push('label or preview did not load');
  if (elsewhere.length) checks.push(`requests to other hosts: ${elsewhere.join(', ')}`);
  if (failed.length) checks.push(`failed loads: ${failed.join(', ')}`);
  await context.close();
  browser = null;
  if (checks.length) fail(checks.join('; '));
  console.log(`PASS: list, viewer and two zooms in Chromium; screenshots in ${artifacts}`);
  cleanUp();
}

main().catch(async (error) => {
  if (browser) await browser.close().catch(() => {});
  fail(error.stack || String(error));
});
