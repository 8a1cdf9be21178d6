#pragma once

#include <Python.h>

#include <string>
#include <string_view>

#include "bindings/py_ref.h"
#include "bindings/signature.h"

namespace velkor::bindings {

/// `path`: a circuit file named by a str, bytes or os.PathLike, read whole after every other
/// argument has been checked. A file that cannot be read raises the OSError subclass of its
/// errno (FileNotFoundError, IsADirectoryError, PermissionError, ...) with the path as its
/// filename; bytes that are not UTF-8 raise ValueError "circuit file {path!r} is not valid UTF-8
/// (invalid byte at offset {})".
struct CircuitFile {
  static constexpr Param kParam{"path", ParamKind::kPositional, true};
  PyRef path;  // os.fspath() of the argument
  std::string text;

  bool convert(PyObject* argument);
  bool resolve();
  std::string_view value() const { return text; }
};

}  // namespace velkor::bindings
