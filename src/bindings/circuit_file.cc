#include "bindings/circuit_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <optional>
#include <stdexcept>

#include "text/utf8.h"

namespace velkor::bindings {
namespace {

/// Appends the whole file `name` to `out`; 0, or the errno of the first failure (ENOMEM when
/// the text does not fit in memory).
int read_file(const char* name, std::string& out) {
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int failure = 0;
  try {
    constexpr size_t kBlock = size_t{1} << 16;
    for (;;) {
      size_t used = out.size();
      out.resize(used + kBlock);
      ssize_t got = read(fd, out.data() + used, kBlock);
      out.resize(used + static_cast<size_t>(got > 0 ? got : 0));
      if (got == 0) break;
      if (got < 0 && errno != EINTR) {
        failure = errno;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    failure = ENOMEM;
  } catch (const std::length_error&) {
    failure = ENOMEM;
  }
  close(fd);
  return failure;
}

}  // namespace

bool CircuitFile::convert(PyObject* argument) {
  path = PyRef::steal(PyOS_FSPath(argument));
  return static_cast<bool>(path);
}

bool CircuitFile::resolve() {
  PyObject* encoded = nullptr;  // the path as bytes in the file system encoding
  if (!PyUnicode_FSConverter(path.get(), &encoded)) return false;
  PyRef name = PyRef::steal(encoded);
  PyThreadState* state = PyEval_SaveThread();
  int failure = read_file(PyBytes_AS_STRING(name.get()), text);
  PyEval_RestoreThread(state);
  if (failure == ENOMEM) {
    PyErr_NoMemory();
    return false;
  }
  if (failure != 0) {
    errno = failure;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.get());
    return false;
  }
  if (std::optional<size_t> bad = first_invalid_utf8(text)) {
    PyErr_Format(PyExc_ValueError,
                 "circuit file %R is not valid UTF-8 (invalid byte at offset %zu)", path.get(),
                 *bad);
    return false;
  }
  return true;
}

}  // namespace velkor::bindings
