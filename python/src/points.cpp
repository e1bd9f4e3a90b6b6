// Points from Python: a numpy array is read in place; anything else is copied into one
// first, while the GIL is held.
#include <optional>
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

// The attribute, or nothing when there is none; any other error is the caller's to see.
std::optional<py::object> attribute(const py::object& o, const char* name) {
  if (PyObject* held = PyObject_GetAttrString(o.ptr(), name))
    return py::reinterpret_steal<py::object>(held);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
  PyErr_Clear();
  return std::nullopt;
}

}  // namespace

PointsArgument pointsArgument(const py::handle& points) {
  py::object source = py::reinterpret_borrow<py::object>(points);
  const auto readable = [](const py::object& o) {
    return py::isinstance<py::array>(o) || PyObject_CheckBuffer(o.ptr());
  };
  // A cloud object of another library holds its points in .points (Open3D's PointCloud) or
  // in .point["positions"] (its tensor PointCloud); a tensor hands them over by .numpy().
  if (!readable(source)) {
    if (auto held = attribute(source, "points")) {
      source = *held;
    } else if (auto map = attribute(source, "point")) {
      try {
        source = (*map)["positions"];
      } catch (py::error_already_set& error) {
        throw py::value_error("points: the cloud's .point holds no \"positions\": " +
                              std::string(error.what()));
      }
    }
  }
  const bool numpy_array = py::isinstance<py::array>(source);
  if (!readable(source))
    if (auto to_numpy = attribute(source, "numpy")) source = (*to_numpy)();

  PointsArgument argument;
  if (numpy_array) {
    argument.array = py::reinterpret_borrow<py::array>(source);
  } else {
    // Copied: the estimate reads the points without the GIL, while another thread could
    // free the memory of an object that is no numpy array (assigning an Open3D cloud's
    // points replaces its buffer), or of the tensor a view from .numpy() shares.
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
