// The Python module litterpose: what its source files share. The module converts between
// Python's objects and the libraries' types; every decision is the libraries'.
#ifndef LITTERPOSE_PYTHON_BINDINGS_H
#define LITTERPOSE_PYTHON_BINDINGS_H

#include <functional>
#include <memory>
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
  // The Python object that lines calls, for the garbage collector to see (a console
  // callback that refers back to its estimator makes a cycle through C++).
  std::shared_ptr<py::object> target;
};
ConsoleChoice consoleChoice(const py::object& console, const char* logger_name);

// Made holding the GIL around a call whose console may print on the process's standard
// output, so that its lines keep their place among Python's own output, whether that is a
// terminal, a file or a pipe: Python's sys.stdout is flushed before the call (one that cannot
// flush is left as it is), and the C library's buffer of standard output, which holds whole
// blocks when it is not a terminal, after.
class PrintingOnStandardOutput {
public:
  explicit PrintingOnStandardOutput(bool prints);
  ~PrintingOnStandardOutput();
  PrintingOnStandardOutput(const PrintingOnStandardOutput&) = delete;
  PrintingOnStandardOutput& operator=(const PrintingOnStandardOutput&) = delete;

private:
  bool prints_;
};

// The Python objects a console holds, for tp_traverse; and its release, for tp_clear.
int visitConsole(const py::object& console, const std::shared_ptr<py::object>& target,
                 visitproc visit, void* arg);

// An integer argument named `name`: any object Python can index with (int, numpy's
// integers), within C's int. Another type raises TypeError; an integer out of range,
// ValueError naming the argument and the range.
int intArgument(const py::handle& value, const char* name);

// A file path as Python names it (str, bytes or os.PathLike): its bytes for the system,
// printable text for messages, and the name as os.fsdecode gives it. Raises ValueError for
// a null byte inside, as open() does.
struct FilePath {
  std::string bytes;
  std::string shown;
  py::object name;
};
FilePath filePath(const py::object& path_like);

// Points handed to estimate(): an (N, 3) float32 or float64 array of any strides, read
// in place for as long as array lives; anything numpy.array makes one of (an Open3D vector,
// a list), copied; or an object holding such points in its attribute points (an Open3D
// PointCloud). Raises ValueError naming what is wrong.
struct PointsArgument {
  py::array array;
  litterpose::PointsView view;
};
PointsArgument pointsArgument(const py::handle& points);

// The instance's C++ object, or null before __init__ made it.
template <typename T>
T* constructed(PyObject* self) {
  auto* instance = reinterpret_cast<py::detail::instance*>(self);
  const py::detail::value_and_holder held = instance->get_value_and_holder(nullptr, false);
  return held && held.holder_constructed() ? held.value_ptr<T>() : nullptr;
}

// The instance's C++ object; TypeError while its __init__ has not made it (for special
// methods, which the interpreter calls past the refusal of refuseUnmade).
template <typename T>
const T& made(const py::handle& self) {
  const T* object = constructed<T>(self.ptr());
  if (object == nullptr)
    throw py::type_error(std::string(Py_TYPE(self.ptr())->tp_name) + ".__init__() was not called");
  return *object;
}

// A py::custom_type_setup for a class whose objects hold Python objects through C++ (a
// console callback): the garbage collector sees them through T::traverse and breaks a
// cycle (a callback that refers back to its owner) through T::clear.
template <typename T>
void collectable(PyHeapTypeObject* heap_type) {
  PyTypeObject* type = &heap_type->ht_type;
  type->tp_flags |= Py_TPFLAGS_HAVE_GC;
  type->tp_traverse = [](PyObject* self, visitproc visit, void* arg) -> int {
    Py_VISIT(Py_TYPE(self));
    const T* object = constructed<T>(self);
    return object != nullptr ? object->traverse(visit, arg) : 0;
  };
  type->tp_clear = [](PyObject* self) -> int {
    if (T* object = constructed<T>(self)) object->clear();
    return 0;
  };
}

// Every attribute refused, with a TypeError, while the instance has no C++ object: made by
// T.__new__ alone, its __init__ never ran, and a method would run on unmade memory.
// Special names stay (the interpreter's own, and __init__).
template <typename T>
void refuseUnmade(PyHeapTypeObject* heap_type) {
  PyTypeObject* type = &heap_type->ht_type;
  static const auto unmade = [](PyObject* self, PyObject* name) {
    if (constructed<T>(self) != nullptr) return false;
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name, &length);
    if (text == nullptr) {
      PyErr_Clear();
      return true;
    }
    if (length > 4 && text[0] == '_' && text[1] == '_' && text[length - 1] == '_' &&
        text[length - 2] == '_')
      return false;
    PyErr_Format(PyExc_TypeError, "%s.__init__() was not called", Py_TYPE(self)->tp_name);
    return true;
  };
  type->tp_getattro = [](PyObject* self, PyObject* name) -> PyObject* {
    return unmade(self, name) ? nullptr : PyObject_GenericGetAttr(self, name);
  };
  type->tp_setattro = [](PyObject* self, PyObject* name, PyObject* value) -> int {
    return unmade(self, name) ? -1 : PyObject_GenericSetAttr(self, name, value);
  };
}

// What a class made by its __init__ needs: collected, and refused before __init__.
template <typename T>
void madeByInit(PyHeapTypeObject* heap_type) {
  collectable<T>(heap_type);
  refuseUnmade<T>(heap_type);
}

// A float64 array of the given shape, filled by the caller.
py::array_t<double> doubles(std::initializer_list<py::ssize_t> shape);

}  // namespace litterpose_python

#endif
