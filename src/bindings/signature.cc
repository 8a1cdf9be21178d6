#include "bindings/signature.h"

#include <cstring>
#include <string>

namespace velkor::bindings {
namespace {

bool keyword_is(PyObject* keyword, const char* name) {
  if (!PyUnicode_IS_ASCII(keyword)) return false;
  size_t length = static_cast<size_t>(PyUnicode_GET_LENGTH(keyword));
  return length == std::strlen(name) &&
         std::memcmp(PyUnicode_1BYTE_DATA(keyword), name, length) == 0;
}

std::string prefix(FunctionName function) {
  return std::string(function.owner) + "." + function.name + "()";
}

bool too_many_positional(FunctionName function, const Signature& signature, size_t nargs) {
  size_t positional = signature.positional, required = signature.required_positional;
  std::string takes = required == positional ? std::to_string(positional)
                                             : "from " + std::to_string(required) + " to " +
                                                   std::to_string(positional);
  std::string message = prefix(function) + " takes " + takes + " positional arguments but " +
                        std::to_string(nargs) + (nargs == 1 ? " was" : " were") + " given";
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return false;
}

// "{}() missing {} required {} {}: 'a', 'b', and 'c'" for the absent required parameters of
// `kind`; returns false when there are none.
bool report_missing(FunctionName function, std::span<const Param> params, const BoundArguments& out,
                    ParamKind kind, const char* kind_text) {
  std::string names;
  size_t count = 0, total = 0;
  for (size_t i = 0; i < params.size(); ++i) {
    total += params[i].kind == kind && params[i].required && out.values[i] == nullptr;
  }
  if (total == 0) return false;
  for (size_t i = 0; i < params.size(); ++i) {
    if (params[i].kind != kind || !params[i].required || out.values[i] != nullptr) continue;
    ++count;
    if (count > 1) names += total == 2 ? " and " : count == total ? ", and " : ", ";
    names += std::string("'") + params[i].name + "'";
  }
  std::string message = prefix(function) + " missing " + std::to_string(total) + " required " +
                        kind_text + (total == 1 ? " argument: " : " arguments: ") + names;
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return true;
}

}  // namespace

bool bind_arguments(FunctionName function, const Signature& signature, PyObject* const* args,
                    size_t nargs, PyObject* kwnames, BoundArguments& out) {
  std::span<const Param> params = signature.params;
  // Positional arguments fill the leading positional parameters; `*targets` takes the rest.
  size_t filled = nargs < signature.positional ? nargs : signature.positional;
  for (size_t i = 0; i < filled; ++i) out.values[i] = args[i];
  if (signature.var_positional) out.rest = {args + filled, nargs - filled};

  if (kwnames != nullptr) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
      size_t i = 0;
      while (i < params.size() && (params[i].kind == ParamKind::kVarPositional ||
                                   !keyword_is(keyword, params[i].name))) {
        ++i;
      }
      if (i == params.size()) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                     prefix(function).c_str(), keyword);
        return false;
      }
      if (out.values[i] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'",
                     prefix(function).c_str(), params[i].name);
        return false;
      }
      out.values[i] = args[nargs + k];
    }
  }

  if (nargs > signature.positional && !signature.var_positional) {
    return too_many_positional(function, signature, nargs);
  }
  if (nargs < signature.required_positional || signature.required_keyword_only) {
    if (report_missing(function, params, out, ParamKind::kPositional, "positional")) return false;
    if (report_missing(function, params, out, ParamKind::kKeywordOnly, "keyword-only"))
      return false;
  }
  return true;
}

}  // namespace velkor::bindings
