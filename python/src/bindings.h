// The Python module litterpose: what its source files share. The module converts between
// Python's objects and the libraries' types; every decision is the libraries'.
#ifndef LITTERPOSE_PYTHON_BINDINGS_H
#define LITTERPOSE_PYTHON_BINDINGS_H

#include <functional>
#include <string>
#include <string_view>

#include <litterpose_points.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

namespace litterpose_python {

namespace py = pybind11;

void bindEstimator(py::module_& module);
void bindKinematics(py::module_& module);
void bindCloudFiles(py::module_& module);

// Where console lines go, as a Python caller names it: None or False (nowhere), True or
// "stdout" (the process's standard output, as C++ hosts print them), "logging" (debug
// records of the logger named logger_name), a logging.Logger or LoggerAdapter (its debug
// records), or any callable taking one str. Loggers and callables receive each line
// without its colour codes; empty lines are left out. Raises ValueError for anything else.
struct ConsoleChoice {
  enum class Kind { none, standard_output, lines };
  Kind kind = Kind::none;
  // For Kind::lines: hands one line to the Python side, holding the GIL only meanwhile;
  // it may be copied and destroyed on any thread.
  std::function<void(std::string_view)> lines;
};
ConsoleChoice consoleChoice(const py::object& console, const char* logger_name);

// Points handed to estimate(): an (N, 3) float32 or float64 array of any strides, anything
// numpy.asarray makes one of without a copy where the layout allows (an Open3D vector), or
// an object holding such points in its attribute points (an Open3D PointCloud). The view
// reads the array's memory where it lies, for as long as array lives. Raises ValueError
// naming what is wrong.
struct PointsArgument {
  py::array array;
  litterpose::PointsView view;
};
PointsArgument pointsArgument(const py::handle& points);

// A float64 array of the given shape, filled by the caller.
py::array_t<double> doubles(std::initializer_list<py::ssize_t> shape);

}  // namespace litterpose_python

#endif
