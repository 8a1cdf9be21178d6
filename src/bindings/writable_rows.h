#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "bindings/fixed_string.h"
#include "bindings/signature.h"

namespace velkor::bindings {

/// A writable, C-contiguous, two-dimensional buffer (a NumPy array, or a slice of its rows) that
/// a call fills with rows; held, so that it can be neither freed nor resized, until the call's
/// parameters are destroyed.
class WritableRows {
 public:
  WritableRows() = default;
  WritableRows(const WritableRows&) = delete;
  WritableRows& operator=(const WritableRows&) = delete;
  ~WritableRows();

  /// TypeError or BufferError from the buffer protocol for anything else; ValueError
  /// "must be two-dimensional" for another number of dimensions.
  bool convert(PyObject* argument);

  /// ValueError "{name} must have {width} columns of {item}s" unless the buffer's items are of
  /// the struct format `format` ("?", "B", "d") and it has `width` columns.
  bool check(const char* name, const char* format, const char* item, size_t width) const;

  /// False when the argument was None and None is allowed.
  bool given() const { return held_; }
  size_t rows() const { return static_cast<size_t>(view_.shape[0]); }
  uint8_t* data() const { return static_cast<uint8_t*>(view_.buf); }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

/// `{kName}`: rows to fill, positional; with `kNoneAllowed`, None says the rows are not wanted.
template <FixedString kName, bool kNoneAllowed = false>
struct RowsParam {
  static constexpr Param kParam{kName.text, ParamKind::kPositional, true};
  WritableRows rows;

  bool convert(PyObject* argument) {
    return (kNoneAllowed && argument == Py_None) || rows.convert(argument);
  }
  const WritableRows& value() const { return rows; }
};

}  // namespace velkor::bindings
