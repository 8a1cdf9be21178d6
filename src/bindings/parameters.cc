#include "bindings/parameters.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "bindings/exceptions.h"
#include "bindings/numpy_array.h"
#include "bindings/py_ref.h"
#include "text/plain_decimal.h"
#include "text/quoted.h"

namespace velkor::bindings {
namespace {

// `text` (a Python str) in the quoted form of messages. Goes character by character so that a
// lone surrogate, which has no UTF-8 form, still shows as \u{hex}.
std::string quoted_python_text(PyObject* text) {
  std::string out = "\"";
  Py_ssize_t length = PyUnicode_GET_LENGTH(text);
  for (Py_ssize_t i = 0; i < length; ++i) {
    Py_UCS4 c = PyUnicode_READ_CHAR(text, i);
    if (c >= 0xD800 && c <= 0xDFFF) {
      char escaped[16];
      std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned>(c));
      out += escaped;
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\'') {
      out += '\'';
    } else {
      std::string one = quoted_char(c);  // the escaped character between single quotes
      out.append(one, 1, one.size() - 2);
    }
  }
  out += '"';
  return out;
}

bool value_error(const std::string& message) {
  raise_error(PyExc_ValueError, message);
  return false;
}

bool check_str(PyObject* object) {
  if (PyUnicode_Check(object)) return true;
  PyErr_Format(PyExc_TypeError, "must be str, not %s", Py_TYPE(object)->tp_name);
  return false;
}

}  // namespace

bool to_bool(PyObject* object, bool& value) {
  if (PyBool_Check(object) || is_numpy_bool(object)) {
    int truth = PyObject_IsTrue(object);
    if (truth < 0) return false;
    value = truth != 0;
    return true;
  }
  PyErr_Format(PyExc_TypeError, "must be bool, not %s", Py_TYPE(object)->tp_name);
  return false;
}

bool check_target_groups(const QubitList& targets, unsigned arity, const char* gate,
                         PairWording wording) {
  auto name = [&] { return std::string(gate); };
  if (arity == 2 && targets.size() % 2 != 0) {
    return value_error(name() + " requires an even number of targets");
  }
  if (arity == 3 && targets.size() % 3 != 0) {
    return value_error(name() + " requires a multiple of three targets");
  }
  if (!targets.check_indices()) return false;
  for (size_t i = 0; arity == 2 && i < targets.size(); i += 2) {
    if (targets[i] != targets[i + 1]) continue;
    const char* what = wording == PairWording::kControlTarget
                           ? " control and target must be different qubits (both were "
                           : " pair endpoints must be different qubits (both were ";
    return value_error(name() + what + std::to_string(targets[i]) + ")");
  }
  for (size_t i = 0; arity == 3 && i < targets.size(); i += 3) {
    size_t a = targets[i], b = targets[i + 1], c = targets[i + 2];
    if (a != b && a != c && b != c) continue;
    return value_error(name() + " triple endpoints must be different (got " + std::to_string(a) +
                       ", " + std::to_string(b) + ", " + std::to_string(c) + ")");
  }
  return true;
}

bool EndianOption::convert(PyObject* argument) {
  if (argument == nullptr) return true;
  if (!check_str(argument)) return false;
  text = argument;
  return true;
}

bool EndianOption::validate() {
  if (text == nullptr || PyUnicode_CompareWithASCIIString(text, "little") == 0) return true;
  if (PyUnicode_CompareWithASCIIString(text, "big") == 0) {
    order = Endian::kBig;
    return true;
  }
  return value_error("endian must be 'little' or 'big', but got " + quoted_python_text(text));
}

bool SeedOption::convert(PyObject* argument) {
  if (argument == nullptr || argument == Py_None) return true;
  PyRef index = PyRef::steal(PyNumber_Index(argument));
  if (!index) return false;
  unsigned long long converted = PyLong_AsUnsignedLongLong(index.get());
  if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  seed = converted;
  return true;
}

bool to_double(PyObject* object, double& value) {
  double converted = PyFloat_AsDouble(object);
  if (converted == -1.0 && PyErr_Occurred()) return false;
  value = converted;
  return true;
}

bool check_probability(double p) {
  if (p >= 0.0 && p <= 1.0) return true;  // false for NaN
  return value_error("probability must be between 0 and 1, but got " + plain_decimal(p));
}

bool Observable::convert(PyObject* argument) {
  if (!check_str(argument)) return false;
  text = argument;
  return true;
}

bool Observable::resolve() {
  Py_ssize_t size = 0;
  // Fails (UnicodeEncodeError, a ValueError) only for a text holding a lone surrogate.
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  if (utf8 == nullptr) return false;
  Expected<PauliProduct, std::string> parsed =
      from_compact(std::string_view(utf8, static_cast<size_t>(size)));
  if (!parsed) return value_error(parsed.error());
  product = std::move(parsed.value());
  return true;
}

}  // namespace velkor::bindings
