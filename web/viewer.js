// The slide viewer page: OpenSeadragon over the server's Deep Zoom tiles,
// with the magnification and the cursor's position, preset magnifications,
// a scale bar, measuring tools, the slide's annotations, the view kept in
// the address, neighbouring slides and keyboard shortcuts.
import { loadAnnotations, measurementFeature, saveCollection } from './annotations.js';
import { MeasureTools } from './measure.js';
import { Overlay } from './overlay.js';
import { installShortcuts } from './shortcuts.js';
import {
  baseMagnification, formatLength, formatMagnification, formatPixels, formatViewState,
  parseViewState, presetsFor,
} from './view_math.js';

const page = document.body.dataset;
const micronsPerPixel = parseFloat(page.micronsPerPixel) || 0;
const base = baseMagnification(parseFloat(page.objectivePower) || 0, micronsPerPixel);
const readOnly = page.readOnly === 'true';
const $ = (id) => document.getElementById(id);

const viewer = OpenSeadragon({
  id: 'view',
  prefixUrl: '/static/openseadragon/images/',
  tileSources: page.dzi,
  // The 2D canvas drawer: the same pixels with or without a GPU.
  drawer: 'canvas',
  showNavigator: true,
  navigatorPosition: 'BOTTOM_RIGHT',
  showRotationControl: true,
  maxZoomPixelRatio: 2,
  minZoomImageRatio: 0.5,
  visibilityRatio: 0.5,
  timeout: 30000,
});
// Tests and the console reach the viewer here.
window.strataViewer = viewer;

// Screen pixels per level-0 pixel, as drawn now.
function imageZoom() {
  return viewer.viewport.viewportToImageZoom(viewer.viewport.getZoom(true));
}

function magnification() {
  return base ? base * imageZoom() : null;
}

function setMagnification(value) {
  viewer.viewport.zoomTo(viewer.viewport.imageToViewportZoom(value / base));
}

function setupMagnification() {
  const readout = $('magnification');
  const update = () => {
    readout.textContent = base ? formatMagnification(magnification())
      : `${formatPixels(imageZoom() * 100)} %`;
  };
  viewer.addHandler('update-viewport', update);
  viewer.addHandler('open', update);
  const buttons = $('magnification-buttons');
  presetsFor(base).forEach((value, i) => {
    const button = document.createElement('button');
    button.type = 'button';
    button.dataset.magnification = value;
    button.textContent = `${value}\u00d7`;
    button.title = `${value}\u00d7 (key ${i + 1})`;
    button.addEventListener('click', () => setMagnification(value));
    buttons.append(button);
  });
  return presetsFor(base);
}

function setupCursor() {
  const readout = $('cursor-position');
  const element = viewer.element;
  element.addEventListener('pointermove', (event) => {
    if (viewer.world.getItemCount() === 0) return;
    const box = element.getBoundingClientRect();
    const point = viewer.viewport.viewerElementToImageCoordinates(
      new OpenSeadragon.Point(event.clientX - box.left, event.clientY - box.top));
    let text = `${formatPixels(point.x)}, ${formatPixels(point.y)} px`;
    if (micronsPerPixel > 0) {
      const microns = (v) => (v * micronsPerPixel).toLocaleString('en-US', { maximumFractionDigits: 1 });
      text += ` \u00b7 ${microns(point.x)}, ${microns(point.y)} \u00b5m`;
    }
    readout.textContent = text;
    const inside = point.x >= 0 && point.y >= 0 && point.x < Number(page.width) && point.y < Number(page.height);
    readout.classList.toggle('outside', !inside);
  });
  element.addEventListener('pointerleave', () => { readout.textContent = ''; });
}

// The longest 1, 2 or 5 times a power of ten not above `limit`.
function roundLength(limit) {
  const power = Math.pow(10, Math.floor(Math.log10(limit)));
  for (const step of [5, 2, 1]) {
    if (step * power <= limit) return step * power;
  }
  return power;
}

function setupScaleBar() {
  const bar = $('scale-bar');
  const label = $('scale-bar-length');
  const update = () => {
    const zoom = imageZoom();
    if (!(micronsPerPixel > 0) || !(zoom > 0)) {
      bar.hidden = true;
      return;
    }
    const microns = roundLength(150 * micronsPerPixel / zoom);
    bar.hidden = false;
    bar.style.width = `${Math.round(microns * zoom / micronsPerPixel)}px`;
    label.textContent = microns < 1 ? `${microns * 1000} nm` : formatLength(microns);
  };
  viewer.addHandler('update-viewport', update);
}

// The view in the address: restored when the slide opens, rewritten after
// every move, so that the address can be shared.
function setupAddress() {
  const restore = () => {
    const state = parseViewState(location.hash);
    if (!state) return;
    const viewport = viewer.viewport;
    viewport.setRotation(state.rotation, true);
    const zoom = state.magnification && base ? state.magnification / base : state.imageZoom;
    if (zoom > 0) viewport.zoomTo(viewport.imageToViewportZoom(zoom), null, true);
    viewport.panTo(viewport.imageToViewportCoordinates(state.x, state.y), true);
  };
  let timer = null;
  const write = () => {
    clearTimeout(timer);
    timer = setTimeout(() => {
      const viewport = viewer.viewport;
      const centre = viewport.viewportToImageCoordinates(viewport.getCenter(true));
      const hash = formatViewState({
        x: centre.x, y: centre.y, magnification: magnification(), imageZoom: imageZoom(),
        rotation: viewport.getRotation(true),
      });
      if (hash !== location.hash) history.replaceState(null, '', hash);
      document.body.dataset.viewState = hash;
    }, 150);
  };
  viewer.addHandler('open', () => {
    restore();
    write();
  });
  viewer.addHandler('animation-finish', write);
  viewer.addHandler('rotate', write);
  window.addEventListener('hashchange', restore);
}

function rotateBy(degrees) {
  const viewport = viewer.viewport;
  viewport.setRotation(viewport.getRotation() + degrees);
}

function setupPanel() {
  const narrow = window.matchMedia('(max-width: 800px)');
  const toggle = () => {
    document.body.classList.toggle(narrow.matches ? 'panel-open' : 'panel-closed');
  };
  $('panel-toggle').addEventListener('click', toggle);
  // Each width keeps its own choice; crossing the line starts from the default.
  narrow.addEventListener('change', () => document.body.classList.remove('panel-open', 'panel-closed'));
  return toggle;
}

function setupAnnotations(overlay, measure) {
  const status = $('annotation-status');
  const classes = $('annotation-classes');
  const show = $('show-annotations');
  const state = { features: [], failed: false };
  show.addEventListener('change', () => overlay.setShowAnnotations(show.checked));
  loadAnnotations(page.annotations).then((result) => {
    if (result.error) {
      state.failed = true;
      status.textContent = result.error;
      status.classList.add('error');
      document.body.dataset.annotationState = 'failed';
      return;
    }
    state.features = result.annotations.map((a) => a.feature);
    overlay.setAnnotations(result.annotations);
    measure.load(result.measurements);
    const count = result.annotations.length;
    status.textContent = count ? `${count} annotation${count === 1 ? '' : 's'}` : 'None';
    const byClass = new Map();
    for (const a of result.annotations) {
      const entry = byClass.get(a.className) || { colour: a.colour, count: 0 };
      entry.count += 1;
      byClass.set(a.className, entry);
    }
    classes.replaceChildren(...[...byClass].map(([name, entry]) => {
      const item = document.createElement('li');
      const swatch = document.createElement('span');
      swatch.className = 'swatch';
      swatch.style.background = `rgb(${entry.colour.join(', ')})`;
      item.append(swatch, ` ${name} (${entry.count})`);
      return item;
    }));
    document.body.dataset.annotationState = 'loaded';
  });
  return {
    toggle: () => {
      show.checked = !show.checked;
      overlay.setShowAnnotations(show.checked);
    },
    features: () => state.features,
  };
}

function setupSaving(measure, annotations) {
  const button = $('save-annotations');
  const status = $('save-status');
  if (readOnly) {
    button.disabled = true;
    status.textContent = 'Saving is off: the server is read-only.';
    return { save: () => false, changed: () => {} };
  }
  const save = async () => {
    button.disabled = true;
    status.classList.remove('error');
    status.textContent = 'Saving\u2026';
    const features = [...annotations.features(),
      ...measure.shapes.map((shape) => measurementFeature(shape, measure.valueOf(shape).saved))];
    const result = await saveCollection(page.annotations, { type: 'FeatureCollection', features });
    button.disabled = false;
    if (result.error) {
      status.textContent = result.error;
      status.classList.add('error');
      return;
    }
    button.classList.remove('unsaved');
    status.textContent = `Saved to ${result.saved}`;
    document.body.dataset.saved = String(Number(document.body.dataset.saved || 0) + 1);
  };
  button.addEventListener('click', save);
  return {
    save,
    changed: () => {
      button.classList.add('unsaved');
      status.textContent = '';
    },
  };
}

function setupTools(measure) {
  const tools = $('tools');
  const keys = { ruler: 'm', polygon: 'p', rectangle: 'b' };
  for (const { kind, title } of MeasureTools.tools()) {
    const button = document.createElement('button');
    button.type = 'button';
    button.dataset.tool = kind;
    button.textContent = title;
    button.title = `${title} (${keys[kind]})`;
    button.addEventListener('click', () => measure.setTool(kind));
    tools.append(button);
  }
  return keys;
}

function go(link) {
  if (link && link.href) location.href = link.href;
}

function main() {
  const overlay = new Overlay(viewer, $('overlay'));
  let saving = null;
  const measure = new MeasureTools({
    viewer,
    micronsPerPixel,
    list: $('measurements'),
    hint: $('tool-hint'),
    onChange: (change) => {
      overlay.requestDraw();
      for (const button of document.querySelectorAll('#tools button')) {
        button.classList.toggle('active', button.dataset.tool === measure.tool);
      }
      if (change.redrawOnly) return;
      measure.render();
      if (!change.loaded && saving) saving.changed();
    },
  });
  overlay.setMeasurements(() => measure.drawables());
  const annotations = setupAnnotations(overlay, measure);
  saving = setupSaving(measure, annotations);
  const presets = setupMagnification();
  setupCursor();
  setupScaleBar();
  setupAddress();
  const togglePanel = setupPanel();
  const toolKeys = setupTools(measure);

  const bindings = [
    ...presets.map((value, i) => ({
      keys: [String(i + 1)], label: `${value}\u00d7`, run: () => setMagnification(value) })),
    { keys: ['0', 'h'], label: 'Whole slide', run: () => viewer.viewport.goHome() },
    { keys: ['+', '='], label: 'Zoom in', run: () => viewer.viewport.zoomBy(1.5) },
    { keys: ['-'], label: 'Zoom out', run: () => viewer.viewport.zoomBy(1 / 1.5) },
    { keys: ['r'], label: 'Rotate 90\u00b0 clockwise', run: () => rotateBy(90) },
    { keys: ['R'], label: 'Rotate 90\u00b0 counter-clockwise', run: () => rotateBy(-90) },
    { keys: [toolKeys.ruler], label: 'Ruler', run: () => measure.setTool('ruler') },
    { keys: [toolKeys.polygon], label: 'Area (polygon)', run: () => measure.setTool('polygon') },
    { keys: [toolKeys.rectangle], label: 'Area (rectangle)', run: () => measure.setTool('rectangle') },
    { keys: ['Enter'], label: 'Close the polygon', run: () => measure.closePolygon() },
    { keys: ['Escape'], label: 'Leave the tool', run: () => measure.cancel() },
    { keys: ['Delete', 'Backspace'], label: 'Delete the last measurement', run: () => measure.removeLast() },
    { keys: ['Ctrl+s'], label: 'Save measurements', run: () => { saving.save(); } },
    { keys: ['o'], label: 'Show or hide annotations', run: () => annotations.toggle() },
    { keys: ['[', 'PageUp'], label: 'Previous slide', run: () => go($('previous-slide')) },
    { keys: [']', 'PageDown'], label: 'Next slide', run: () => go($('next-slide')) },
    { keys: ['\\'], label: 'Side panel', run: togglePanel },
    { keys: ['?'], label: 'These shortcuts', run: () => {} },
    { keys: ['w', 'a', 's', 'd'], label: 'Pan (arrows too, with the slide focused)', run: () => false },
  ];
  const shortcuts = installShortcuts(bindings, $('shortcuts'));
  $('help-button').addEventListener('click', () => shortcuts.toggle());
  // The viewer's own keys that ours replace would act twice.
  viewer.addHandler('canvas-key', (event) => {
    const key = event.originalEvent.key;
    if (shortcuts.keys.has(key) && !'wasd'.includes(key) || key === 'f' || key === '?') {
      event.preventDefaultAction = true;
    }
  });

  viewer.addHandler('open', () => {
    const image = viewer.world.getItemAt(0);
    image.addHandler('fully-loaded-change', (event) => {
      document.body.dataset.fullyLoaded = event.fullyLoaded ? 'yes' : 'no';
    });
  });
  viewer.addHandler('open-failed', () => {
    document.body.dataset.openFailed = 'yes';
  });
}

main();
