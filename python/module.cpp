// The compiled half of the `strata` package: NativeSlide as `_strata.Slide`,
// pixels handed to numpy without a copy, the interpreter lock released
// around every read.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <utility>

#include "python/native_slide.h"

namespace py = pybind11;
using strata::python::HeaderFacts;
using strata::python::Level;
using strata::python::NativeSlide;
using strata::python::Pixels;

namespace {

// The array owns the pixel vector through a capsule: no copy, and nothing the
// library may later change.
py::array ToArray(Pixels pixels) {
  auto* owned = new Pixels(std::move(pixels));
  py::capsule release(owned, [](void* p) { delete static_cast<Pixels*>(p); });
  const py::ssize_t channels = owned->channels > 0 ? owned->channels : 3;
  return py::array_t<std::uint8_t>(
      {static_cast<py::ssize_t>(owned->height), static_cast<py::ssize_t>(owned->width), channels},
      owned->bytes.data(), release);
}

template <typename Read>
py::array ReadReleased(Read&& read) {
  Pixels pixels;
  {
    py::gil_scoped_release unlocked;
    pixels = read();
  }
  return ToArray(std::move(pixels));
}

py::dict FactsDict(const HeaderFacts& f) {
  py::dict d;
  d["width"] = f.width;
  d["height"] = f.height;
  d["scan_scale"] = f.scanScale;
  d["block_size"] = f.blockSize;
  d["capture_resolution"] = f.captureResolution;
  d["scan_time"] = f.scanTime;
  d["spend_time_ms"] = f.spendTime;
  d["version"] = f.version;
  d["serial"] = f.serial;
  d["channel_count"] = f.channelCount;
  d["channels"] = f.channels;
  if (f.hasDuration) {
    d["scan_moment"] = py::make_tuple(f.duration[0], f.duration[1], f.duration[2], f.duration[3],
                                      f.duration[4], f.duration[5]);
    d["scan_duration"] = py::make_tuple(f.duration[6], f.duration[7], f.duration[8]);
  }
  return d;
}

}  // namespace

PYBIND11_MODULE(_strata, m) {
  m.doc() = "Compiled core of the strata package; use strata.open_slide instead.";
  // std::invalid_argument (bad arguments) arrives as ValueError by itself.
  py::register_exception<strata::python::SlideFailure>(m, "SlideError");
  m.attr("READ_BUDGET_BYTES") = strata::python::kReadBudgetBytes;
  m.def("library_version", [] { return CImageOperationManager::GetDllVersion(); });

  py::class_<NativeSlide>(m, "Slide")
      .def(py::init([](const std::string& path) {
             py::gil_scoped_release unlocked;
             return std::make_unique<NativeSlide>(path);
           }),
           py::arg("path"))
      .def("close",
           [](NativeSlide& s) {
             py::gil_scoped_release unlocked;
             s.Close();
           })
      .def_property_readonly("closed", &NativeSlide::Closed)
      .def_property_readonly("path", &NativeSlide::Path)
      .def_property_readonly("facts", [](const NativeSlide& s) { return FactsDict(s.Facts()); })
      .def_property_readonly(
          "levels",
          [](const NativeSlide& s) {
            py::list levels;
            for (const Level& l : s.Levels()) {
              levels.append(py::make_tuple(l.scale, l.width, l.height, l.tileWidth, l.tileHeight));
            }
            return levels;
          })
      .def("items",
           [](const NativeSlide& s) {
             py::list items;
             for (const auto& item : s.Items()) {
               items.append(py::make_tuple(item.identifier, py::bytes(item.value)));
             }
             return items;
           })
      .def("read_region",
           [](const NativeSlide& s, int level, std::int64_t x, std::int64_t y, int w, int h) {
             return ReadReleased([&] { return s.ReadRegion(level, x, y, w, h); });
           })
      .def("read_scaled",
           [](const NativeSlide& s, int x, int y, int w, int h, double scale) {
             return ReadReleased([&] { return s.ReadScaled(x, y, w, h, scale); });
           })
      .def("read_tile",
           [](const NativeSlide& s, int level, int column, int row) -> py::object {
             Pixels tile;
             {
               py::gil_scoped_release unlocked;
               tile = s.ReadTile(level, column, row);
             }
             if (tile.bytes.empty()) return py::none();
             return ToArray(std::move(tile));
           })
      .def("read_tile_stream",
           [](const NativeSlide& s, int level, int column, int row) {
             std::string stream;
             {
               py::gil_scoped_release unlocked;
               stream = s.ReadTileStream(level, column, row);
             }
             return py::bytes(stream);
           })
      .def("associated_image", [](const NativeSlide& s, const std::string& name) {
        std::string stream;
        {
          py::gil_scoped_release unlocked;
          stream = s.AssociatedImage(name);
        }
        return py::bytes(stream);
      });
}
