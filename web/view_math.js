// Numbers of the viewer that need no page: magnification, lengths and areas
// in slide units, and the view as it is written in the address.

// Scanners resolve about 10 µm per pixel divided by the objective power;
// the same rule turns a resolution into a magnification when the slide
// records no objective power.
const MICRONS_AT_ONE_TIMES = 10;

// The magnifications a microscope's turret offers.
export const PRESET_MAGNIFICATIONS = [1, 2, 5, 10, 20, 40];

// Magnification of one slide pixel drawn on one screen pixel: the objective
// power, else what the resolution implies, else null.
export function baseMagnification(objectivePower, micronsPerPixel) {
  if (objectivePower > 0) return objectivePower;
  if (micronsPerPixel > 0) return MICRONS_AT_ONE_TIMES / micronsPerPixel;
  return null;
}

// The presets a slide of base magnification `base` reaches (up to its own).
export function presetsFor(base) {
  if (!(base > 0)) return [];
  return PRESET_MAGNIFICATIONS.filter((m) => m <= base * 1.001);
}

function significant(value, digits) {
  return Number(value.toPrecision(digits)).toString();
}

export function formatMagnification(magnification) {
  if (!(magnification > 0)) return '–';
  const digits = magnification >= 10 ? 3 : 2;
  return significant(magnification, digits) + '\u00d7';
}

// A length in micrometres as µm below a millimetre, else mm; 4 digits.
export function formatLength(microns) {
  if (microns >= 1000) return significant(microns / 1000, 4) + ' mm';
  return significant(microns, 4) + ' \u00b5m';
}

export function formatArea(squareMicrons) {
  return significant(squareMicrons / 1e6, 4) + ' mm\u00b2';
}

export function formatPixels(value) {
  return Math.round(value).toLocaleString('en-US');
}

// Euclidean length of a polyline of [x, y] points.
export function polylineLength(points) {
  let length = 0;
  for (let i = 1; i < points.length; i++) {
    length += Math.hypot(points[i][0] - points[i - 1][0], points[i][1] - points[i - 1][1]);
  }
  return length;
}

// Area of a simple polygon (the shoelace formula), without sign.
export function polygonArea(points) {
  let twice = 0;
  for (let i = 0; i < points.length; i++) {
    const [x1, y1] = points[i];
    const [x2, y2] = points[(i + 1) % points.length];
    twice += x1 * y2 - x2 * y1;
  }
  return Math.abs(twice) / 2;
}

// The view in the address's fragment: "#x=…&y=…&mag=…&rot=…" (centre in
// level-0 pixels, magnification, rotation in degrees); "z" stands for the
// screen pixels per slide pixel where the slide has no magnification.
export function formatViewState(state) {
  const parts = [`x=${Math.round(state.x)}`, `y=${Math.round(state.y)}`];
  if (state.magnification > 0) {
    parts.push(`mag=${significant(state.magnification, 4)}`);
  } else {
    parts.push(`z=${significant(state.imageZoom, 4)}`);
  }
  const rotation = ((Math.round(state.rotation) % 360) + 360) % 360;
  if (rotation !== 0) parts.push(`rot=${rotation}`);
  return '#' + parts.join('&');
}

// The view a fragment names, or null when it names none.
export function parseViewState(hash) {
  const fields = new URLSearchParams((hash || '').replace(/^#/, ''));
  const number = (name) => {
    if (!fields.has(name)) return null;
    const value = Number(fields.get(name));
    return Number.isFinite(value) ? value : null;
  };
  const x = number('x');
  const y = number('y');
  if (x === null || y === null) return null;
  const magnification = number('mag');
  const imageZoom = number('z');
  return {
    x,
    y,
    magnification: magnification > 0 ? magnification : null,
    imageZoom: imageZoom > 0 ? imageZoom : null,
    rotation: number('rot') || 0,
  };
}
