// The compiled half of the `strata` package: the slide façade as
// `_strata.Slide`, pixels handed to numpy without a copy, the interpreter
// lock released around every read, failures raised with their reasons.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <memory>
#include <utility>

#include "python/native_slide.h"
#include "strata/slide.h"
#include "strata/strata.h"

namespace py = pybind11;
using strata::Image;
using strata::Status;
using strata::python::NativeSlide;

namespace {

struct SlideErrorTag {};
struct UnsupportedFormatTag {};

py::object& SlideErrorType() {
  static py::object type;
  return type;
}

py::object& UnsupportedFormatType() {
  static py::object type;
  return type;
}

// Text from the library as Python text: messages may quote file names,
// which are bytes in no particular encoding.
py::str Text(const std::string& text) {
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

// A file name as Python gives it back for bytes it cannot decode.
py::object FileName(const std::string& path) {
  return py::reinterpret_steal<py::object>(
      PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
}

// Raises the Python exception that fits a failed status.
[[noreturn]] void Raise(const Status& status, const std::string& path = "") {
  PyObject* type = SlideErrorType().ptr();
  switch (status.code()) {
    case Status::Code::kNotFound:
      if (!path.empty()) {
        PyErr_SetObject(PyExc_FileNotFoundError,
                        py::make_tuple(ENOENT, Text(status.message()), FileName(path)).ptr());
        throw py::error_already_set();
      }
      break;
    case Status::Code::kIsDirectory:
      PyErr_SetObject(PyExc_IsADirectoryError,
                      py::make_tuple(EISDIR, Text(status.message()), FileName(path)).ptr());
      throw py::error_already_set();
    case Status::Code::kUnsupportedFormat:
      type = UnsupportedFormatType().ptr();
      break;
    case Status::Code::kInvalidArgument:
    case Status::Code::kOutOfRange:
      type = PyExc_ValueError;
      break;
    default:
      break;
  }
  PyErr_SetObject(type, Text(status.message()).ptr());
  throw py::error_already_set();
}

// The array owns the pixels through a capsule: no copy, and nothing the
// library may later change.
py::array ToArray(Image image) {
  auto* owned = new Image(std::move(image));
  py::capsule release(owned, [](void* p) { delete static_cast<Image*>(p); });
  return py::array_t<std::uint8_t>({static_cast<py::ssize_t>(owned->height),
                                    static_cast<py::ssize_t>(owned->width),
                                    static_cast<py::ssize_t>(owned->channels)},
                                   owned->pixels.data(), release);
}

// Runs `read` on the slide without the interpreter lock and hands the image
// to numpy; a failure raises.
template <typename Read>
py::array ReadImage(const NativeSlide& slide, Read&& read) {
  Image image;
  Status status;
  {
    py::gil_scoped_release unlocked;
    status = slide.WithSlide([&](const strata::Slide& s) { return read(s, &image); });
  }
  if (!status.ok()) Raise(status);
  return ToArray(std::move(image));
}

py::dict FactsDict(const strata::SlideFacts& f) {
  py::dict d;
  d["format"] = f.format;
  d["width"] = f.width;
  d["height"] = f.height;
  d["objective_power"] = f.objectivePower;
  d["mpp_x"] = f.micronsPerPixelX;
  d["mpp_y"] = f.micronsPerPixelY;
  d["scan_time"] = f.hasScanTime ? py::object(py::int_(f.scanTime)) : py::object(py::none());
  d["scan_duration"] = f.scanDurationSeconds;
  d["version"] = f.version;
  return d;
}

const char* EncodingName(strata::TileEncoding encoding) {
  switch (encoding) {
    case strata::TileEncoding::kJpeg:
      return "jpeg";
    case strata::TileEncoding::kBmp:
      return "bmp";
    case strata::TileEncoding::kRgb:
      return "rgb";
  }
  return "rgb";
}

}  // namespace

PYBIND11_MODULE(_strata, m) {
  m.doc() = "Compiled core of the strata package; use strata.open_slide instead.";
  SlideErrorType() = py::reinterpret_borrow<py::object>(
      py::exception<SlideErrorTag>(m, "SlideError").ptr());
  UnsupportedFormatType() = py::reinterpret_borrow<py::object>(
      py::exception<UnsupportedFormatTag>(m, "UnsupportedFormatError", SlideErrorType().ptr())
          .ptr());
  m.attr("READ_BUDGET_BYTES") = strata::Slide::ReadBudgetBytes();
  m.def("library_version", [] { return GetDllVersionFunc(nullptr); });
  m.def(
      "detect_format",
      [](const std::string& path) -> py::object {
        std::string format;
        {
          py::gil_scoped_release unlocked;
          format = strata::Slide::DetectFormat(path);
        }
        if (format.empty()) return py::none();
        return py::str(format);
      },
      py::arg("path"));

  py::class_<strata::TileCache, std::shared_ptr<strata::TileCache>>(m, "TileCache")
      .def(py::init<std::size_t>(), py::arg("capacity_bytes"))
      .def_property_readonly("capacity_bytes", &strata::TileCache::CapacityBytes)
      .def_property_readonly("used_bytes", &strata::TileCache::UsedBytes);

  py::class_<NativeSlide>(m, "Slide")
      .def(py::init([](const std::string& path) {
             std::unique_ptr<NativeSlide> slide;
             Status opened;
             {
               py::gil_scoped_release unlocked;
               opened = NativeSlide::Open(path, &slide);
             }
             if (!opened.ok()) Raise(opened, path);
             return slide;
           }),
           py::arg("path"))
      .def("close",
           [](NativeSlide& s) {
             py::gil_scoped_release unlocked;
             s.Close();
           })
      .def_property_readonly("closed", &NativeSlide::Closed)
      .def_property_readonly("path", &NativeSlide::Path)
      .def_property_readonly("facts",
                             [](const NativeSlide& s) {
                               py::dict facts;
                               const Status status = s.WithSlide([&](const strata::Slide& slide) {
                                 facts = FactsDict(slide.Facts());
                                 return Status::Ok();
                               });
                               if (!status.ok()) Raise(status);
                               return facts;
                             })
      .def_property_readonly(
          "levels",
          [](const NativeSlide& s) {
            py::list levels;
            const Status status = s.WithSlide([&](const strata::Slide& slide) {
              for (const strata::SlideLevel& l : slide.Levels()) {
                levels.append(
                    py::make_tuple(l.width, l.height, l.downsample, l.tileWidth, l.tileHeight));
              }
              return Status::Ok();
            });
            if (!status.ok()) Raise(status);
            return levels;
          })
      .def_property_readonly("properties",
                             [](const NativeSlide& s) {
                               py::dict properties;
                               const Status status = s.WithSlide([&](const strata::Slide& slide) {
                                 for (const auto& [key, value] : slide.Properties()) {
                                   properties[Text(key)] = Text(value);
                                 }
                                 return Status::Ok();
                               });
                               if (!status.ok()) Raise(status);
                               return properties;
                             })
      .def_property_readonly("associated_image_names",
                             [](const NativeSlide& s) {
                               py::list names;
                               const Status status = s.WithSlide([&](const strata::Slide& slide) {
                                 for (const std::string& name : slide.AssociatedImageNames()) {
                                   names.append(Text(name));
                                 }
                                 return Status::Ok();
                               });
                               if (!status.ok()) Raise(status);
                               return names;
                             })
      .def_property_readonly("icc_profile",
                             [](const NativeSlide& s) -> py::object {
                               std::string profile;
                               const Status status = s.WithSlide([&](const strata::Slide& slide) {
                                 profile = slide.IccProfile();
                                 return Status::Ok();
                               });
                               if (!status.ok()) Raise(status);
                               if (profile.empty()) return py::none();
                               return py::bytes(profile);
                             })
      .def("set_cache",
           [](NativeSlide& s, std::shared_ptr<strata::TileCache> cache) {
             const Status status = s.WithSlide([&](const strata::Slide& slide) {
               const_cast<strata::Slide&>(slide).SetCache(std::move(cache));
               return Status::Ok();
             });
             if (!status.ok()) Raise(status);
           })
      .def("read_region",
           [](const NativeSlide& s, int level, std::int64_t x, std::int64_t y, int w, int h) {
             return ReadImage(s, [&](const strata::Slide& slide, Image* image) {
               return slide.ReadRegion(level, x, y, w, h, image);
             });
           })
      .def("read_scaled",
           [](const NativeSlide& s, double scale, std::int64_t x, std::int64_t y, int w, int h) {
             return ReadImage(s, [&](const strata::Slide& slide, Image* image) {
               return slide.ReadScaled(scale, x, y, w, h, image);
             });
           })
      .def("read_tile",
           [](const NativeSlide& s, int level, std::int64_t column, std::int64_t row)
               -> py::object {
             Image image;
             Status status;
             {
               py::gil_scoped_release unlocked;
               status = s.WithSlide([&](const strata::Slide& slide) {
                 return slide.ReadTilePixels(level, column, row, &image);
               });
             }
             if (status.code() == Status::Code::kNotFound) return py::none();
             if (!status.ok()) Raise(status);
             return ToArray(std::move(image));
           })
      .def("read_tile_stream",
           [](const NativeSlide& s, int level, std::int64_t column, std::int64_t row)
               -> py::object {
             strata::Tile tile;
             Status status;
             {
               py::gil_scoped_release unlocked;
               status = s.WithSlide([&](const strata::Slide& slide) {
                 return slide.ReadTile(level, column, row, &tile);
               });
             }
             if (status.code() == Status::Code::kNotFound) return py::none();
             if (!status.ok()) Raise(status);
             return py::make_tuple(EncodingName(tile.encoding),
                                   py::bytes(reinterpret_cast<const char*>(tile.bytes.data()),
                                             tile.bytes.size()),
                                   tile.width, tile.height);
           })
      .def("associated_image", [](const NativeSlide& s, const std::string& name) {
        return ReadImage(s, [&](const strata::Slide& slide, Image* image) {
          return slide.ReadAssociatedImage(name, image);
        });
      });
}
