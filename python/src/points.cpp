// Points from Python: a numpy array is read in place; anything else is copied into one
// first, while the GIL is held.
#include <string>

#include "bindings.h"

namespace litterpose_python {
namespace {

std::string shapeText(const py::array& array) {
  std::string text = "(";
  for (py::ssize_t axis = 0; axis < array.ndim(); ++axis)
    text += (axis ? ", " : "") + std::to_string(array.shape(axis));
  return text + (array.ndim() == 1 ? ",)" : ")");
}

}  // namespace

PointsArgument pointsArgument(const py::handle& points) {
  py::object source = py::reinterpret_borrow<py::object>(points);
  // A cloud object of another library (Open3D's PointCloud) holds its points in .points;
  // an error other than its absence is the caller's to see.
  if (!py::isinstance<py::array>(source) && !PyObject_CheckBuffer(source.ptr())) {
    if (PyObject* held = PyObject_GetAttrString(source.ptr(), "points")) {
      source = py::reinterpret_steal<py::object>(held);
    } else if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
      PyErr_Clear();
    } else {
      throw py::error_already_set();
    }
  }

  PointsArgument argument;
  if (py::isinstance<py::array>(source)) {
    argument.array = py::reinterpret_borrow<py::array>(source);
  } else {
    // Copied: the estimate reads the points without the GIL, while another thread could
    // free the memory of an object that is no numpy array (assigning an Open3D cloud's
    // points replaces its buffer).
    try {
      argument.array = py::module_::import("numpy").attr("array")(source);
    } catch (py::error_already_set& error) {
      throw py::value_error("points must be an (N, 3) array of float32 or float64: " +
                            std::string(error.what()));
    }
  }
  const py::array& array = argument.array;
  if (array.ndim() != 2 || array.shape(1) != 3)
    throw py::value_error("points must be an (N, 3) array, not one of shape " + shapeText(array));
  const py::dtype dtype = array.dtype();
  const bool real = dtype.kind() == 'f' && (dtype.itemsize() == 4 || dtype.itemsize() == 8);
  if (!real || !dtype.attr("isnative").cast<bool>())
    throw py::value_error("points must be float32 or float64 in this machine's byte order, not " +
                          std::string(py::str(static_cast<const py::handle&>(dtype))));

  litterpose::PointsView& view = argument.view;
  view.data = array.data();
  view.count = static_cast<std::size_t>(array.shape(0));
  view.scalar = dtype.itemsize() == 8 ? litterpose::PointsView::Scalar::float64
                                      : litterpose::PointsView::Scalar::float32;
  view.point_stride = array.strides(0);
  view.coordinate_stride = array.strides(1);
  return argument;
}

py::array_t<double> doubles(std::initializer_list<py::ssize_t> shape) {
  return py::array_t<double>(std::vector<py::ssize_t>(shape));
}

}  // namespace litterpose_python
