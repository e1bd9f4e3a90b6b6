// The compiled part of the Python package litterpose.
#include <cerrno>
#include <limits>
#include <optional>
#include <string>

#include <cloud_file.h>
#include <fcntl.h>
#include <litterpose.h>
#include <litterpose_result.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bindings.h"

namespace litterpose_python {
namespace {

// The reader says what is wrong in its message; the exception's type tells a file that
// cannot be opened (OSError by its errno: FileNotFoundError, PermissionError,
// IsADirectoryError) from one whose contents are no cloud (ValueError).
[[noreturn]] void raiseReadError(const FilePath& path, const std::string& message) {
  int number = 0;
  const int fd = ::open(path.bytes.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    number = errno;
  } else {
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) number = EISDIR;
    ::close(fd);
  }
  // The message may quote bytes of the file that are no UTF-8.
  const std::string text =
      py::bytes(message).attr("decode")("utf-8", "backslashreplace").cast<std::string>();
  if (number == 0) throw py::value_error(text);
  py::object error = py::module_::import("builtins").attr("OSError")(number, text, path.name);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  throw py::error_already_set();
}

py::array_t<float> readCloud(const py::object& path_like) {
  const FilePath path = filePath(path_like);
  GrabPoseEstimate::Cloud cloud;
  std::optional<std::string> error;
  {
    py::gil_scoped_release released;
    error = litterpose_io::readCloud(path.bytes, cloud);
  }
  if (error) raiseReadError(path, *error);
  py::array_t<float> points({static_cast<py::ssize_t>(cloud.size()), py::ssize_t{3}});
  float* out = points.mutable_data();
  for (const pcl::PointXYZ& p : cloud) {
    *out++ = p.x;
    *out++ = p.y;
    *out++ = p.z;
  }
  return points;
}

std::string describeResult(const py::handle& code_argument, const py::object& entry) {
  const int code = intArgument(code_argument, "code");
  if (entry.is_none()) return litterpose::describeResult(code);
  const std::string name = py::str(entry);
  const auto named = litterpose::entryNamed(name);
  if (!named)
    throw py::value_error("entry must be 'main', 'common' or 'initial', not '" + name + "'");
  return litterpose::describeResult(code, *named);
}

}  // namespace

int intArgument(const py::handle& value, const char* name) {
  const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (number == -1 && PyErr_Occurred()) throw py::error_already_set();
  constexpr auto low = std::numeric_limits<int>::min(), high = std::numeric_limits<int>::max();
  if (overflow != 0 || number < low || number > high)
    throw py::value_error(std::string(name) + " must be an integer from " + std::to_string(low) +
                          " to " + std::to_string(high) + ", not " +
                          py::str(index).cast<std::string>());
  return static_cast<int>(number);
}

FilePath filePath(const py::object& path_like) {
  const py::module_ os = py::module_::import("os");
  FilePath path;
  path.bytes = os.attr("fsencode")(path_like).cast<std::string>();
  if (path.bytes.find('\0') != std::string::npos)
    throw py::value_error("the path holds a null byte: " +
                          py::repr(path_like).cast<std::string>());
  path.shown = py::bytes(path.bytes).attr("decode")("utf-8", "backslashreplace").cast<std::string>();
  path.name = os.attr("fsdecode")(path_like);
  return path;
}

void bindCloudFiles(py::module_& m) {
  m.def("read_cloud", &readCloud, py::arg("path"),
        R"(Reads a recorded cloud: a PLY or PCD file (told apart by their first bytes) whose
points carry x, y and z as floats or doubles.

Returns:
    An (N, 3) float32 array, points in file order, non-finite ones included.

Raises:
    OSError: the file cannot be opened (FileNotFoundError, PermissionError, ...).
    ValueError: the file holds no cloud that can be read; the message says why.
)");
}

}  // namespace litterpose_python

PYBIND11_MODULE(_litterpose, m) {
  namespace lp = litterpose_python;
  m.doc() = "Grasp pose estimation for litter seen by a depth camera (compiled part).";
  m.attr("__version__") = LITTERPOSE_VERSION;
  m.attr("ENTRIES") = pybind11::make_tuple("common", "main", "initial");
  lp::bindEstimator(m);
  lp::bindKinematics(m);
  lp::bindCloudFiles(m);
  m.def("describe_result", &lp::describeResult, pybind11::arg("code"),
        pybind11::arg("entry") = pybind11::none(),
        R"(The meaning of an estimate's result code: as the entry ('common', 'main' or
'initial') returns it, or with entry None every meaning the code has; "unknown result" for a
code the entry never returns.)");
}
