#include "bindings/writable_rows.h"

#include <cstring>
#include <string>

#include "bindings/exceptions.h"

namespace velkor::bindings {

WritableRows::~WritableRows() {
  if (held_) PyBuffer_Release(&view_);
}

bool WritableRows::convert(PyObject* argument) {
  if (PyObject_GetBuffer(argument, &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) <
      0) {
    return false;
  }
  held_ = true;
  if (view_.ndim == 2) return true;
  raise_error(PyExc_ValueError, "must be two-dimensional");
  return false;
}

bool WritableRows::check(const char* name, const char* format, const char* item,
                         size_t width) const {
  // NumPy gives native formats without a byte-order prefix; "=" and "<" say the same here.
  const char* given = view_.format;
  if (given[0] == '=' || given[0] == '<') ++given;
  if (std::strcmp(given, format) == 0 && static_cast<size_t>(view_.shape[1]) == width) return true;
  raise_error(PyExc_ValueError, std::string(name) + " must have " + std::to_string(width) +
                                    " columns of " + item + "s");
  return false;
}

}  // namespace velkor::bindings
