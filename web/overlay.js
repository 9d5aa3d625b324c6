// The layer over the slide: annotations and measurements, kept in level-0
// pixels and drawn on a canvas that follows every pan, zoom and rotation
// of the viewer (it is redrawn on each frame the viewer draws).

const ANNOTATION_LINE = 2.5;  // screen pixels
const POINT_RADIUS = 4;
const LABEL_FONT = '600 12px system-ui, sans-serif';
// Names are drawn only where they cannot bury the slide.
const MAX_NAMED_ANNOTATIONS = 300;
const MIN_NAMED_SIZE = 60;

function rgb([r, g, b], alpha = 1) {
  return `rgba(${r}, ${g}, ${b}, ${alpha})`;
}

export class Overlay {
  constructor(viewer, canvas) {
    this.viewer = viewer;
    this.canvas = canvas;
    this.annotations = [];
    this.showAnnotations = true;
    this.measurements = () => [];
    this.pending = false;
    viewer.addHandler('update-viewport', () => this.draw());
    viewer.addHandler('resize', () => this.requestDraw());
  }

  setAnnotations(annotations) {
    this.annotations = annotations;
    this.requestDraw();
  }

  setShowAnnotations(show) {
    this.showAnnotations = show;
    this.requestDraw();
  }

  // `source` returns the shapes to draw: [{points, closed, colour, label}].
  setMeasurements(source) {
    this.measurements = source;
    this.requestDraw();
  }

  requestDraw() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.draw();
    });
  }

  // Level-0 pixels to canvas pixels: an affine map taken from the viewer,
  // so that rotation comes with it.
  transform() {
    const viewport = this.viewer.viewport;
    const at = (x, y) => viewport.imageToViewerElementCoordinates(new OpenSeadragon.Point(x, y));
    const origin = at(0, 0);
    const span = 1 << 20;
    const right = at(span, 0);
    const down = at(0, span);
    const a = (right.x - origin.x) / span;
    const b = (right.y - origin.y) / span;
    const c = (down.x - origin.x) / span;
    const d = (down.y - origin.y) / span;
    return {
      map: ([x, y]) => [a * x + c * y + origin.x, b * x + d * y + origin.y],
      scale: Math.hypot(a, b),
    };
  }

  // The part of the slide in view, in level-0 pixels, as [left, top, right, bottom].
  visibleBounds(width, height) {
    const viewport = this.viewer.viewport;
    const corners = [[0, 0], [width, 0], [0, height], [width, height]].map(([x, y]) =>
      viewport.viewerElementToImageCoordinates(new OpenSeadragon.Point(x, y)));
    const xs = corners.map((p) => p.x);
    const ys = corners.map((p) => p.y);
    return [Math.min(...xs), Math.min(...ys), Math.max(...xs), Math.max(...ys)];
  }

  draw() {
    const width = this.canvas.clientWidth;
    const height = this.canvas.clientHeight;
    const ratio = window.devicePixelRatio || 1;
    if (this.canvas.width !== Math.round(width * ratio) ||
        this.canvas.height !== Math.round(height * ratio)) {
      this.canvas.width = Math.round(width * ratio);
      this.canvas.height = Math.round(height * ratio);
    }
    const context = this.canvas.getContext('2d');
    context.setTransform(ratio, 0, 0, ratio, 0, 0);
    context.clearRect(0, 0, width, height);
    if (this.viewer.world.getItemCount() === 0 || width === 0) return;
    const view = this.transform();
    if (this.showAnnotations && this.annotations.length) {
      const bounds = this.visibleBounds(width, height);
      const named = this.annotations.length <= MAX_NAMED_ANNOTATIONS;
      for (const annotation of this.annotations) {
        const box = annotation.bounds;
        if (box[2] < bounds[0] || box[0] > bounds[2] || box[3] < bounds[1] || box[1] > bounds[3]) {
          continue;
        }
        this.drawAnnotation(context, view, annotation, named);
      }
    }
    for (const shape of this.measurements()) this.drawMeasurement(context, view, shape);
  }

  drawAnnotation(context, view, annotation, named) {
    const colour = annotation.colour;
    context.lineJoin = 'round';
    for (const part of annotation.parts) {
      if (part.kind === 'point') {
        context.fillStyle = rgb(colour);
        context.strokeStyle = 'rgba(0, 0, 0, 0.7)';
        context.lineWidth = 1;
        for (const point of part.points) {
          const [x, y] = view.map(point);
          context.beginPath();
          context.arc(x, y, POINT_RADIUS, 0, 2 * Math.PI);
          context.fill();
          context.stroke();
        }
        continue;
      }
      context.beginPath();
      for (const ring of part.rings) {
        ring.forEach((point, i) => {
          const [x, y] = view.map(point);
          if (i === 0) context.moveTo(x, y); else context.lineTo(x, y);
        });
        if (part.kind === 'polygon') context.closePath();
      }
      if (part.kind === 'polygon') {
        context.fillStyle = rgb(colour, 0.15);
        context.fill('evenodd');
      }
      context.strokeStyle = rgb(colour);
      context.lineWidth = ANNOTATION_LINE;
      context.stroke();
    }
    if (!named || !annotation.name) return;
    const box = annotation.bounds;
    const [left, top] = view.map([box[0], box[1]]);
    if ((box[2] - box[0]) * view.scale >= MIN_NAMED_SIZE) {
      this.drawLabel(context, left, top - 4, annotation.name, colour);
    }
  }

  drawMeasurement(context, view, shape) {
    if (shape.points.length === 0) return;
    const points = shape.points.map(view.map);
    const trace = () => {
      context.beginPath();
      points.forEach(([x, y], i) => (i === 0 ? context.moveTo(x, y) : context.lineTo(x, y)));
      if (shape.closed) context.closePath();
    };
    context.lineJoin = 'round';
    trace();
    if (shape.closed) {
      context.fillStyle = rgb(shape.colour, 0.12);
      context.fill();
    }
    // A white edge keeps the line visible on dark stains.
    context.strokeStyle = 'rgba(255, 255, 255, 0.9)';
    context.lineWidth = 4;
    context.stroke();
    context.strokeStyle = rgb(shape.colour);
    context.lineWidth = 2;
    context.stroke();
    context.fillStyle = rgb(shape.colour);
    for (const [x, y] of points) {
      context.beginPath();
      context.arc(x, y, 3, 0, 2 * Math.PI);
      context.fill();
    }
    if (shape.label) {
      const [x, y] = points[points.length - 1];
      this.drawLabel(context, x + 8, y - 8, shape.label, shape.colour);
    }
  }

  drawLabel(context, x, y, text, colour) {
    context.font = LABEL_FONT;
    const width = context.measureText(text).width;
    context.fillStyle = 'rgba(255, 255, 255, 0.85)';
    context.fillRect(x - 3, y - 13, width + 6, 17);
    context.fillStyle = rgb(colour.map((v) => Math.round(v * 0.6)));
    context.fillText(text, x, y);
  }
}
