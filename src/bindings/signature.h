#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>

namespace velkor::bindings {

/// How a parameter may be passed, as in a Python `def`.
enum class ParamKind {
  kPositional,     // positional or by keyword
  kKeywordOnly,    // after `*` or `*targets`: by keyword only
  kVarPositional,  // `*targets`: every remaining positional argument
};

/// One parameter of a method's signature. Parameters are listed in signature order.
struct Param {
  const char* name;
  ParamKind kind;
  bool required;  // false when the parameter has a default (or is `*targets`)
};

/// The name a binding error is reported under: "{owner}.{name}()".
struct FunctionName {
  const char* owner;
  const char* name;
};

inline constexpr size_t kMaxParams = 6;

/// A parameter list with the counts the binder needs, computed at compile time.
struct Signature {
  std::span<const Param> params;
  size_t positional = 0;           // parameters that positional arguments fill
  size_t required_positional = 0;  // of those, the ones without a default
  bool var_positional = false;     // a `*targets` parameter takes the remaining ones
  bool required_keyword_only = false;

  constexpr explicit Signature(std::span<const Param> list) : params(list) {
    for (const Param& p : list) {
      positional += p.kind == ParamKind::kPositional;
      required_positional += p.kind == ParamKind::kPositional && p.required;
      var_positional |= p.kind == ParamKind::kVarPositional;
      required_keyword_only |= p.kind == ParamKind::kKeywordOnly && p.required;
    }
  }
};

/// The arguments of one call, matched to the parameters.
struct BoundArguments {
  /// The argument given for each parameter (borrowed), or null when it was not given.
  std::array<PyObject*, kMaxParams> values{};
  /// The positional arguments collected by a `*targets` parameter.
  std::span<PyObject* const> rest;
};

/// Matches a vectorcall's arguments (`nargs` positional ones, then one per name in `kwnames`) to
/// the parameters of `signature` by the rules of a Python function with the same signature. On
/// failure raises TypeError in the interpreter's wording ("{}() got an unexpected keyword argument
/// '{}'", "{}() got multiple values for argument '{}'", "{}() takes {} positional arguments but {}
/// {} given",
/// "{}() missing {} required {} {}: {}") and returns false. Allocates nothing on success.
bool bind_arguments(FunctionName function, const Signature& signature, PyObject* const* args,
                    size_t nargs, PyObject* kwnames, BoundArguments& out);

}  // namespace velkor::bindings
