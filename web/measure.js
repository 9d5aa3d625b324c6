// Measuring on the slide: a ruler (drag, or click both ends), an area as a
// polygon (click its corners; double-click, Enter or a click on the first
// corner closes it) or as a rectangle (drag, or click two corners). Shapes
// are kept in level-0 pixels, so they stay put while the view moves, and
// are listed in the side panel with their length or area.
import { formatArea, formatLength, formatPixels, polygonArea, polylineLength } from './view_math.js';

const TOOLS = {
  ruler: { title: 'Ruler', noun: 'Ruler', colour: [0, 110, 255],
           hint: 'Ruler: drag, or click both ends. Esc cancels.' },
  polygon: { title: 'Area (polygon)', noun: 'Area', colour: [0, 160, 150],
             hint: 'Area: click the corners; double-click, Enter or the first corner closes. Esc cancels.' },
  rectangle: { title: 'Area (rectangle)', noun: 'Area', colour: [0, 160, 150],
               hint: 'Rectangle: drag, or click two corners. Esc cancels.' },
};

// Screen pixels a press may move and still be a click; how near the first
// corner a click closes a polygon.
const CLICK_SLOP = 4;
const CLOSE_DISTANCE = 8;

export class MeasureTools {
  constructor({ viewer, micronsPerPixel, list, hint, onChange }) {
    this.viewer = viewer;
    this.micronsPerPixel = micronsPerPixel;
    this.list = list;
    this.hint = hint;
    this.onChange = onChange;
    this.tool = null;
    this.draft = null;
    this.shapes = [];
    this.counts = { Ruler: 0, Area: 0 };
    this.listen();
  }

  static tools() {
    return Object.entries(TOOLS).map(([kind, tool]) => ({ kind, title: tool.title }));
  }

  // Picks a tool, or leaves it when it is the one in use.
  setTool(kind) {
    this.draft = null;
    this.tool = this.tool === kind ? null : kind;
    this.hint.hidden = !this.tool;
    this.hint.textContent = this.tool ? TOOLS[this.tool].hint : '';
    document.body.dataset.tool = this.tool || '';
    this.onChange({ redrawOnly: true });
  }

  cancel() {
    if (this.tool) this.setTool(this.tool);
  }

  // The measurements a file held, as shapes of their own.
  load(measurements) {
    for (const shape of measurements) this.add(shape.kind, shape.points, shape.name);
    this.onChange({ loaded: true });
  }

  removeLast() {
    if (this.shapes.length) this.remove(this.shapes[this.shapes.length - 1]);
  }

  remove(shape) {
    this.shapes = this.shapes.filter((s) => s !== shape);
    this.onChange({});
  }

  // What a shape measures, for its label and for the saved file.
  valueOf(shape) {
    const mpp = this.micronsPerPixel;
    if (shape.kind === 'ruler') {
      const pixels = polylineLength(shape.points);
      if (mpp > 0) return { text: formatLength(pixels * mpp), saved: { lengthMicrons: pixels * mpp } };
      return { text: `${formatPixels(pixels)} px`, saved: { lengthPixels: pixels } };
    }
    const pixels = polygonArea(shape.points);
    if (mpp > 0) {
      return { text: formatArea(pixels * mpp * mpp), saved: { areaSquareMicrons: pixels * mpp * mpp } };
    }
    return { text: `${formatPixels(pixels)} px\u00b2`, saved: { areaSquarePixels: pixels } };
  }

  // Shapes for the overlay, the one being drawn last.
  drawables() {
    const shapes = this.shapes.map((shape) => ({
      points: shape.points, closed: shape.kind !== 'ruler', colour: shape.colour,
      label: `${shape.name}: ${this.valueOf(shape).text}`,
    }));
    const draft = this.draft;
    if (draft) {
      const points = draft.kind === 'rectangle' ? corners(draft.points)
        : draft.hover ? [...draft.points, draft.hover] : draft.points;
      const shape = { kind: draft.kind, points };
      shapes.push({ points, closed: draft.kind !== 'ruler' && points.length > 2,
                    colour: TOOLS[draft.kind].colour,
                    label: points.length > 1 ? this.valueOf(shape).text : '' });
    }
    return shapes;
  }

  render() {
    this.list.replaceChildren(...this.shapes.map((shape) => {
      const item = document.createElement('li');
      item.dataset.kind = shape.kind;
      const name = document.createElement('span');
      name.className = 'shape-name';
      name.textContent = shape.name;
      const value = document.createElement('span');
      value.className = 'shape-value';
      value.textContent = this.valueOf(shape).text;
      const remove = document.createElement('button');
      remove.type = 'button';
      remove.className = 'remove';
      remove.title = `Delete ${shape.name}`;
      remove.textContent = '\u00d7';
      remove.addEventListener('click', () => this.remove(shape));
      item.append(name, ' ', value, ' ', remove);
      return item;
    }));
  }

  add(kind, points, name) {
    const noun = TOOLS[kind].noun;
    this.counts[noun] += 1;
    const shape = { kind, points, name: name || `${noun} ${this.counts[noun]}`, colour: TOOLS[kind].colour };
    this.shapes.push(shape);
    return shape;
  }

  finish() {
    const draft = this.draft;
    this.draft = null;
    const points = draft.kind === 'rectangle' ? corners(draft.points) : dropRepeats(draft.points);
    const usable = draft.kind === 'ruler' ? polylineLength(points) > 0 : polygonArea(points) > 0;
    if (usable) this.add(draft.kind, points);
    // One shape per pick of the tool: the mouse pans again afterwards.
    this.setTool(draft.kind);
    this.onChange({});
  }

  imagePoint(position) {
    const point = this.viewer.viewport.viewerElementToImageCoordinates(position);
    return [point.x, point.y];
  }

  screenDistance(imageA, imageB) {
    const viewport = this.viewer.viewport;
    const a = viewport.imageToViewerElementCoordinates(new OpenSeadragon.Point(...imageA));
    const b = viewport.imageToViewerElementCoordinates(new OpenSeadragon.Point(...imageB));
    return Math.hypot(a.x - b.x, a.y - b.y);
  }

  listen() {
    const viewer = this.viewer;
    const dragging = () => this.tool === 'ruler' || this.tool === 'rectangle';
    viewer.addHandler('canvas-press', (event) => {
      if (!dragging() || (this.draft && this.draft.mode === 'click')) return;
      const at = this.imagePoint(event.position);
      this.draft = { kind: this.tool, points: [at, at], mode: 'drag', pressed: event.position };
    });
    viewer.addHandler('canvas-drag', (event) => {
      if (!this.tool) return;
      if (!dragging()) return;  // a polygon is drawn by clicks; dragging pans meanwhile
      event.preventDefaultAction = true;
      if (this.draft && this.draft.mode === 'drag') {
        this.draft.points[1] = this.imagePoint(event.position);
        this.onChange({ redrawOnly: true });
      }
    });
    viewer.addHandler('canvas-drag-end', (event) => {
      if (dragging()) event.preventDefaultAction = true;
    });
    viewer.addHandler('canvas-release', (event) => {
      const draft = this.draft;
      if (!draft || draft.mode !== 'drag') return;
      const moved = Math.hypot(event.position.x - draft.pressed.x, event.position.y - draft.pressed.y);
      if (moved >= CLICK_SLOP) {
        draft.points[1] = this.imagePoint(event.position);
        this.finish();
      } else {
        // A click: the shape ends where the next click lands.
        draft.mode = 'click';
        draft.armed = false;
      }
    });
    viewer.addHandler('canvas-click', (event) => {
      if (!this.tool) return;
      event.preventDefaultAction = true;
      if (!event.quick) return;
      const at = this.imagePoint(event.position);
      const draft = this.draft;
      if (dragging()) {
        if (!draft || draft.mode !== 'click') return;
        if (!draft.armed) {
          draft.armed = true;  // the click that ended the first press
          return;
        }
        draft.points[1] = at;
        this.finish();
        return;
      }
      if (!draft) {
        this.draft = { kind: 'polygon', points: [at], hover: at, mode: 'polygon' };
      } else if (draft.points.length >= 3 && this.screenDistance(at, draft.points[0]) < CLOSE_DISTANCE) {
        this.finish();
        return;
      } else {
        draft.points.push(at);
      }
      this.onChange({ redrawOnly: true });
    });
    viewer.addHandler('canvas-double-click', (event) => {
      if (!this.tool) return;
      event.preventDefaultAction = true;
      if (this.draft && this.draft.kind === 'polygon' && dropRepeats(this.draft.points).length >= 3) {
        this.finish();
      }
    });
    viewer.element.addEventListener('pointermove', (event) => {
      const draft = this.draft;
      if (!draft || draft.mode === 'drag') return;
      const box = viewer.element.getBoundingClientRect();
      const at = this.imagePoint(new OpenSeadragon.Point(event.clientX - box.left, event.clientY - box.top));
      if (draft.mode === 'click') draft.points[1] = at; else draft.hover = at;
      this.onChange({ redrawOnly: true });
    });
  }

  // Enter closes a polygon being drawn.
  closePolygon() {
    if (this.draft && this.draft.kind === 'polygon' && dropRepeats(this.draft.points).length >= 3) {
      this.finish();
      return true;
    }
    return false;
  }
}

// The four corners of the rectangle that two opposite corners span.
function corners([[x0, y0], [x1, y1]]) {
  return [[x0, y0], [x1, y0], [x1, y1], [x0, y1]];
}

// Consecutive points that coincide (the two clicks of a double-click) count once.
function dropRepeats(points) {
  return points.filter((p, i) => i === 0 || p[0] !== points[i - 1][0] || p[1] !== points[i - 1][1]);
}
