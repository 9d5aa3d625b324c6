// Python binding of lumora::reader: module _ztxReader and its shadow module
// ztxReader with the class `reader`. Pixel results come back as flat uint8
// numpy arrays (BGR) that keep their memory alive through a base object.
%module ztxReader

%{
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include <numpy/arrayobject.h>
#include <opencv2/core.hpp>

#include "ztxreader/ztx_reader.h"

namespace {

const char kSharedPixelsName[] = "ztxReader.SharedPixels";
const char kImagePixelsName[] = "ztxReader.ImagePixels";

void ReleaseSharedPixels(PyObject* capsule) {
  delete static_cast<lumora::reader::SharedPixels*>(
      PyCapsule_GetPointer(capsule, kSharedPixelsName));
}

void ReleaseImagePixels(PyObject* capsule) {
  lumora::reader::releaseImage(
      static_cast<unsigned char*>(PyCapsule_GetPointer(capsule, kImagePixelsName)));
}

// A one-dimensional, C-contiguous uint8 array of `length` bytes over `data`,
// which `owner` keeps alive as the array's base object. Takes over the
// reference to `owner` in every case.
PyObject* PixelArray(unsigned char* data, int length, PyObject* owner) {
  npy_intp dimension = length;
  PyObject* array = PyArray_New(&PyArray_Type, 1, &dimension, NPY_UBYTE, nullptr, data, 0,
                                NPY_ARRAY_CARRAY, nullptr);
  if (array == nullptr) {
    Py_DECREF(owner);
    return nullptr;
  }
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array), owner) < 0) {
    Py_DECREF(array);
    return nullptr;
  }
  return array;
}

PyObject* EmptyPixelArray() {
  npy_intp dimension = 0;
  return PyArray_SimpleNew(1, &dimension, NPY_UBYTE);
}

// The array shares the reader's result buffer: the reader writes its next
// result elsewhere while the array lives, and the array outlives the reader.
PyObject* RegionArray(const lumora::reader& owner, unsigned char* data, int length) {
  if (data == nullptr || length <= 0) return EmptyPixelArray();
  auto* shared = new lumora::reader::SharedPixels(owner.sharedResult());
  if (shared->get() != data) {
    delete shared;
    PyErr_SetString(PyExc_RuntimeError, "ReadRoi: result buffer is no longer held by the reader");
    return nullptr;
  }
  PyObject* capsule = PyCapsule_New(shared, kSharedPixelsName, ReleaseSharedPixels);
  if (capsule == nullptr) {
    delete shared;
    return nullptr;
  }
  return PixelArray(data, length, capsule);
}

// The array owns a decoded preview or label and releases it when collected.
PyObject* ImageArray(unsigned char* data, int length) {
  if (data == nullptr) return EmptyPixelArray();
  PyObject* capsule = PyCapsule_New(data, kImagePixelsName, ReleaseImagePixels);
  if (capsule == nullptr) {
    lumora::reader::releaseImage(data);
    return nullptr;
  }
  return PixelArray(data, length, capsule);
}

}  // namespace
%}

%include "std_string.i"

// C++ exceptions from the reader become Python exceptions.
%exception {
  try {
    $action
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    SWIG_fail;
  } catch (const std::invalid_argument& error) {
    PyErr_SetString(PyExc_ValueError, error.what());
    SWIG_fail;
  } catch (const std::length_error& error) {
    PyErr_SetString(PyExc_ValueError, error.what());
    SWIG_fail;
  } catch (const cv::Exception& error) {
    PyErr_SetString(error.code == cv::Error::StsNoMem ? PyExc_MemoryError : PyExc_RuntimeError,
                    error.what());
    SWIG_fail;
  } catch (const std::bad_function_call&) {
    PyErr_SetString(PyExc_RuntimeError,
                    "the Strata library is not loaded or lacks a function the reader needs");
    SWIG_fail;
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_RuntimeError, error.what());
    SWIG_fail;
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unknown C++ exception in the reader");
    SWIG_fail;
  }
}

// None is no reader: every method but the destructor refuses it.
%typemap(check) lumora::reader* self, lumora::reader const* self {
  if ($1 == nullptr && std::strcmp("$symname", "delete_reader") != 0) {
    SWIG_exception_fail(SWIG_TypeError, "in method '" "$symname" "', argument " "$argnum" " of type '" "$1_type" "'");
  }
}

// ReadRoi: one array over the reader's result buffer.
%typemap(in, numinputs=0) (unsigned char** roi, int* roiSize)
    (unsigned char* pixels = nullptr, int bytes = 0) {
  $1 = &pixels;
  $2 = &bytes;
}
%typemap(argout) (unsigned char** roi, int* roiSize) {
  PyObject* array = RegionArray(*arg1, *$1, *$2);
  if (array == nullptr) SWIG_fail;
  Py_DECREF($result);
  $result = array;
}

// ReadPreview and readLabelImage: [width, array].
%typemap(in, numinputs=0) (unsigned char** image, int* imageSize)
    (unsigned char* pixels = nullptr, int bytes = 0) {
  $1 = &pixels;
  $2 = &bytes;
}
%typemap(argout) (unsigned char** image, int* imageSize) {
  PyObject* array = ImageArray(*$1, *$2);
  if (array == nullptr) SWIG_fail;
  PyObject* pair = PyList_New(2);
  if (pair == nullptr) {
    Py_DECREF(array);
    SWIG_fail;
  }
  PyList_SET_ITEM(pair, 0, $result);
  PyList_SET_ITEM(pair, 1, array);
  $result = pair;
}

%init %{
  import_array();
%}

namespace lumora {

class reader {
 public:
  reader();
  ~reader();
  bool ReadInfo(const std::string& path, const double scale, bool readAll);
  bool ReadInfo(const std::string& path, const double scale);
  bool ReadInfo(const std::string& path);
  void ReadRoi(int x, int y, int w, int h, double scale, unsigned char** roi, int* roiSize);
  int ReadPreview(unsigned char** image, int* imageSize);
  int getWidth() const;
  int getHeight() const;
  int getReadScale();
  void setReadScale(float scale);
  int readLabelImage(unsigned char** image, int* imageSize);
  int clear();
};

}  // namespace lumora

%include "ztx_version.i"
