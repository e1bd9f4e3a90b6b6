// Console lines of the estimator and the arm model, on their way to Python.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <utility>

#include <litterpose_console.h>

#include "bindings.h"

namespace litterpose_python {
namespace {

// The C++ side copies and destroys its callbacks on threads that may not hold the GIL
// (an estimate runs without it); the Python object is released holding it.
std::shared_ptr<py::object> holdWithGil(py::object object) {
  return std::shared_ptr<py::object>(new py::object(std::move(object)), [](py::object* held) {
    py::gil_scoped_acquire gil;
    delete held;
  });
}

void sendLinesTo(py::object target, ConsoleChoice& choice) {
  auto held = holdWithGil(std::move(target));
  choice.kind = ConsoleChoice::Kind::lines;
  choice.target = held;
  choice.lines = [held](std::string_view line) {
    const std::string text = litterpose::stripColours(line);
    if (text.empty()) return;
    py::gil_scoped_acquire gil;
    // The lines are UTF-8 (many are Chinese); a broken byte must not lose the line.
    auto str = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()), "replace"));
    if (!str) throw py::error_already_set();
    (*held)(str);
  };
}

}  // namespace

ConsoleChoice consoleChoice(const py::object& console, const char* logger_name) {
  ConsoleChoice choice;
  if (console.is_none()) return choice;
  if (py::isinstance<py::bool_>(console)) {
    if (console.cast<bool>()) choice.kind = ConsoleChoice::Kind::standard_output;
    return choice;
  }
  if (py::isinstance<py::str>(console)) {
    const std::string name = console.cast<std::string>();
    if (name == "stdout") {
      choice.kind = ConsoleChoice::Kind::standard_output;
      return choice;
    }
    if (name == "logging") {
      sendLinesTo(py::module_::import("logging").attr("getLogger")(logger_name).attr("debug"),
                  choice);
      return choice;
    }
    throw py::value_error("console must be None, True, 'stdout', 'logging', a logger or a "
                          "callable, not '" + name + "'");
  }
  const auto logging = py::module_::import("logging");
  if (py::isinstance(console, logging.attr("Logger")) ||
      py::isinstance(console, logging.attr("LoggerAdapter"))) {
    sendLinesTo(console.attr("debug"), choice);
    return choice;
  }
  if (PyCallable_Check(console.ptr())) {
    sendLinesTo(console, choice);
    return choice;
  }
  throw py::value_error("console must be None, True, 'stdout', 'logging', a logger or a "
                        "callable, not " + py::repr(console).cast<std::string>());
}

PrintingOnStandardOutput::PrintingOnStandardOutput(bool prints) : prints_(prints) {
  if (!prints_) return;
  PyObject* out = PySys_GetObject("stdout");  // borrowed; None without a console
  if (out == nullptr || out == Py_None) return;
  PyObject* done = PyObject_CallMethod(out, "flush", nullptr);
  if (done == nullptr)
    PyErr_Clear();
  else
    Py_DECREF(done);
}

PrintingOnStandardOutput::~PrintingOnStandardOutput() {
  if (!prints_) return;
  std::cout.flush();
  std::fflush(stdout);
}

int visitConsole(const py::object& console, const std::shared_ptr<py::object>& target,
                 visitproc visit, void* arg) {
  Py_VISIT(console.ptr());
  if (target) Py_VISIT(target->ptr());
  return 0;
}

}  // namespace litterpose_python
