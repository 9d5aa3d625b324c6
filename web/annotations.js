// The slide's annotations: a GeoJSON FeatureCollection in level-0 pixels
// (polygons, lines, points; properties `name` and `classification` with its
// `name` and `color` as [r, g, b]), read from the server and saved back to
// it together with the measurements drawn in the viewer. Features that the
// viewer's own tools made carry `properties.measurement.tool` and come back
// as measurements; every other feature is kept as it was read.

export const DEFAULT_COLOUR = [255, 196, 0];
export const MEASUREMENT_TOOLS = ['ruler', 'polygon', 'rectangle'];

function isRgb(colour) {
  return Array.isArray(colour) && colour.length === 3 &&
      colour.every((v) => Number.isFinite(v) && v >= 0 && v <= 255);
}

export function colourOf(properties) {
  const classification = properties && properties.classification;
  if (classification && isRgb(classification.color)) return classification.color.map(Math.round);
  return DEFAULT_COLOUR;
}

function classNameOf(properties) {
  const classification = properties && properties.classification;
  if (classification && typeof classification.name === 'string' && classification.name) {
    return classification.name;
  }
  return 'Unclassified';
}

// Drawable parts of a geometry: polygons (rings), lines and points.
function partsOf(geometry, parts) {
  if (!geometry || typeof geometry !== 'object') return parts;
  const c = geometry.coordinates;
  switch (geometry.type) {
    case 'Point': parts.push({ kind: 'point', points: [c] }); break;
    case 'MultiPoint': parts.push({ kind: 'point', points: c }); break;
    case 'LineString': parts.push({ kind: 'line', rings: [c] }); break;
    case 'MultiLineString': parts.push({ kind: 'line', rings: c }); break;
    case 'Polygon': parts.push({ kind: 'polygon', rings: c }); break;
    case 'MultiPolygon': for (const rings of c) parts.push({ kind: 'polygon', rings }); break;
    case 'GeometryCollection':
      for (const member of geometry.geometries || []) partsOf(member, parts);
      break;
    default: break;
  }
  return parts;
}

function boundsOf(parts) {
  const box = [Infinity, Infinity, -Infinity, -Infinity];
  const add = ([x, y]) => {
    box[0] = Math.min(box[0], x); box[1] = Math.min(box[1], y);
    box[2] = Math.max(box[2], x); box[3] = Math.max(box[3], y);
  };
  for (const part of parts) {
    if (part.points) part.points.forEach(add);
    if (part.rings) part.rings.forEach((ring) => ring.forEach(add));
  }
  return box;
}

function measurementOf(feature) {
  const properties = feature.properties || {};
  const measurement = properties.measurement;
  if (!measurement || !MEASUREMENT_TOOLS.includes(measurement.tool)) return null;
  const geometry = feature.geometry || {};
  let points = null;
  if (geometry.type === 'LineString') points = geometry.coordinates;
  if (geometry.type === 'Polygon' && geometry.coordinates.length) {
    points = geometry.coordinates[0].slice(0, -1);  // the ring closes on its first point
  }
  if (!points || points.length < 2) return null;
  return { kind: measurement.tool, points: points.map(([x, y]) => [x, y]),
           name: typeof properties.name === 'string' ? properties.name : '' };
}

// Splits a FeatureCollection into annotations to draw and measurements.
// Throws an Error that says what is wrong when it is no FeatureCollection.
export function readCollection(collection) {
  if (!collection || collection.type !== 'FeatureCollection' || !Array.isArray(collection.features)) {
    throw new Error('not a GeoJSON FeatureCollection');
  }
  const annotations = [];
  const measurements = [];
  for (const feature of collection.features) {
    if (!feature || typeof feature !== 'object') continue;
    const measurement = measurementOf(feature);
    if (measurement) {
      measurements.push(measurement);
      continue;
    }
    const parts = partsOf(feature.geometry, []);
    const properties = feature.properties || {};
    annotations.push({
      feature,
      parts,
      bounds: boundsOf(parts),
      colour: colourOf(properties),
      className: classNameOf(properties),
      name: typeof properties.name === 'string' ? properties.name : '',
    });
  }
  return { annotations, measurements };
}

// Reads the annotations at `url`: {annotations, measurements, file}, or
// {error} with the server's reason; none at all when the slide has none.
export async function loadAnnotations(url) {
  let response;
  try {
    response = await fetch(url, { cache: 'no-cache' });
  } catch (error) {
    return { error: `annotations could not be fetched (${error.message})` };
  }
  if (response.status === 404) return { annotations: [], measurements: [] };
  const text = await response.text();
  if (!response.ok) return { error: text.trim() || `annotations: HTTP ${response.status}` };
  try {
    return readCollection(JSON.parse(text));
  } catch (error) {
    return { error: `annotations: ${error.message}` };
  }
}

// The feature a measurement is saved as.
export function measurementFeature(shape, value) {
  const closed = shape.kind !== 'ruler';
  const coordinates = shape.points.map(([x, y]) => [x, y]);
  return {
    type: 'Feature',
    geometry: closed
      ? { type: 'Polygon', coordinates: [[...coordinates, coordinates[0]]] }
      : { type: 'LineString', coordinates },
    properties: {
      name: shape.name,
      classification: { name: 'Measurement', color: shape.colour },
      measurement: { tool: shape.kind, ...value },
    },
  };
}

// Posts the collection; resolves to {saved: file} or {error}.
export async function saveCollection(url, collection) {
  let response;
  try {
    response = await fetch(url, {
      method: 'POST',
      headers: { 'Content-Type': 'application/geo+json' },
      body: JSON.stringify(collection),
    });
  } catch (error) {
    return { error: `not saved (${error.message})` };
  }
  const text = await response.text();
  if (!response.ok) return { error: text.trim() || `not saved: HTTP ${response.status}` };
  try {
    return JSON.parse(text);
  } catch {
    return { saved: '' };
  }
}
