// The slide viewer page: OpenSeadragon over the server's Deep Zoom tiles,
// with a scale bar from the slide's resolution.
(function () {
  'use strict';
  var page = document.body.dataset;
  var micronsPerPixel = parseFloat(page.micronsPerPixel);
  var bar = document.getElementById('scale-bar');
  var barLength = document.getElementById('scale-bar-length');

  var viewer = OpenSeadragon({
    id: 'view',
    prefixUrl: '/static/openseadragon/images/',
    tileSources: page.dzi,
    // The 2D canvas drawer: the same pixels with or without a GPU.
    drawer: 'canvas',
    showNavigator: true,
    navigatorPosition: 'BOTTOM_RIGHT',
    maxZoomPixelRatio: 2,
    visibilityRatio: 0.5,
    timeout: 30000
  });
  // Tests and the console reach the viewer here.
  window.strataViewer = viewer;

  // The longest 1, 2 or 5 times a power of ten not above `limit`.
  function roundLength(limit) {
    var power = Math.pow(10, Math.floor(Math.log10(limit)));
    var steps = [5, 2, 1];
    for (var i = 0; i < steps.length; i++) {
      if (steps[i] * power <= limit) return steps[i] * power;
    }
    return power;
  }

  function describe(microns) {
    if (microns >= 1000) return (microns / 1000) + ' mm';
    if (microns >= 1) return microns + ' \u00b5m';
    return (microns * 1000) + ' nm';
  }

  function updateScaleBar() {
    if (!(micronsPerPixel > 0) || viewer.world.getItemCount() === 0) {
      bar.hidden = true;
      return;
    }
    // Screen pixels per slide pixel at the current zoom.
    var zoom = viewer.viewport.viewportToImageZoom(viewer.viewport.getZoom(true));
    if (!(zoom > 0)) return;
    var microns = roundLength(150 * micronsPerPixel / zoom);
    bar.hidden = false;
    bar.style.width = Math.round(microns * zoom / micronsPerPixel) + 'px';
    barLength.textContent = describe(microns);
  }

  viewer.addHandler('open', function () {
    var image = viewer.world.getItemAt(0);
    image.addHandler('fully-loaded-change', function (event) {
      document.body.dataset.fullyLoaded = event.fullyLoaded ? 'yes' : 'no';
    });
    updateScaleBar();
  });
  viewer.addHandler('open-failed', function () {
    document.body.dataset.openFailed = 'yes';
  });
  viewer.addHandler('animation', updateScaleBar);
  viewer.addHandler('resize', updateScaleBar);
})();
