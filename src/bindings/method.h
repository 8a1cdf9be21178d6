#pragma once

#include <Python.h>

#include <array>
#include <exception>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bindings/claims.h"
#include "bindings/exceptions.h"
#include "bindings/fixed_string.h"
#include "bindings/forks.h"
#include "bindings/results.h"
#include "bindings/signature.h"

namespace velkor::bindings {

// The frame every Python method runs through: bind the arguments to the parameters, claim the
// object, convert and check every argument, detach from the interpreter, run the core call,
// re-attach, build the result or raise. A class is described by a traits type `Cls` with
// `Cls::kName` (the Python class name) and `Cls::Core` (the core value an object wraps); its
// method table lists one `method<...>()` per method.

/// The name and docstring of a method, kept in static storage for its table entry.
template <FixedString kSignature>
inline constexpr auto kMethodName = signature_name<kSignature>();
template <FixedString kSignature>
inline constexpr auto kDocstring = text_signature_doc<kSignature>();

/// The layout of a Python object that owns one core value, which draws from a random stream
/// core.rng() keyed as `stream` says.
template <class Core>
struct Wrapped {
  PyObject_HEAD Claims claims;
  StreamOrigin stream;
  Core core;
};

template <class Cls>
Wrapped<typename Cls::Core>& wrapped(PyObject* self) {
  return *reinterpret_cast<Wrapped<typename Cls::Core>*>(self);
}

/// Runs `work` with the calling thread detached from the interpreter; re-attached, returns its
/// result as a Python object (None for void) or raises what it threw.
template <class Work>
PyObject* run_detached(Work&& work) {
  using Result = std::invoke_result_t<Work&>;
  std::exception_ptr failure;
  if constexpr (std::is_void_v<Result>) {
    Py_BEGIN_ALLOW_THREADS try { work(); } catch (...) {
      failure = std::current_exception();
    }
    Py_END_ALLOW_THREADS if (failure) return raise_cpp_exception(failure);
    Py_RETURN_NONE;
  } else {
    std::optional<Result> result;
    Py_BEGIN_ALLOW_THREADS try { result.emplace(work()); } catch (...) {
      failure = std::current_exception();
    }
    Py_END_ALLOW_THREADS if (failure) return raise_cpp_exception(failure);
    return to_python(std::move(*result));
  }
}

/// Converts the bound arguments into `params`: every parameter's convert() (a failure gets the
/// note "while processing '{name}'") and validate() in signature order, then every resolve().
template <class... Params>
bool convert_arguments(const BoundArguments& bound, Params&... params) {
  size_t index = 0;
  // Both lambdas go unused by methods without parameters.
  [[maybe_unused]] auto convert = [&]<class P>(P& param) {
    bool converted;
    if constexpr (P::kParam.kind == ParamKind::kVarPositional) {
      converted = param.convert(bound.rest);
    } else {
      converted = param.convert(bound.values[index]);
    }
    ++index;
    if (!converted) {
      add_processing_note(P::kParam.name);
      return false;
    }
    if constexpr (requires { param.validate(); }) return param.validate();
    return true;
  };
  [[maybe_unused]] auto resolve = [&]<class P>(P& param) {
    if constexpr (requires { param.resolve(); }) return param.resolve();
    return true;
  };
  return (convert(params) && ...) && (resolve(params) && ...);
}

/// Binds and converts the arguments of a call of `function` into a tuple of parameters, taking
/// the claim on `claims` (if any) between binding and conversion; then calls
/// finish(params...). Null with a Python error set on any failure.
template <class... Params, class Finish>
PyObject* frame(FunctionName function, Claims* claims, Access access, PyObject* const* args,
                Py_ssize_t nargsf, PyObject* kwnames, Finish&& finish) noexcept {
  static_assert(sizeof...(Params) <= kMaxParams);
  static constexpr std::array<Param, sizeof...(Params)> kParams{Params::kParam...};
  static constexpr Signature kSignature{kParams};
  try {
    BoundArguments bound;
    size_t nargs = static_cast<size_t>(PyVectorcall_NARGS(nargsf));
    if (!bind_arguments(function, kSignature, args, nargs, kwnames, bound)) return nullptr;
    std::optional<ClaimGuard> claim;
    if (claims != nullptr && !claim.emplace(*claims, access)) return nullptr;
    std::tuple<Params...> params;
    auto convert = [&](Params&... p) { return convert_arguments(bound, p...); };
    if (!std::apply(convert, params)) return nullptr;
    return std::apply(finish, params);
  } catch (...) {
    return raise_cpp_exception(std::current_exception());
  }
}

/// A method whose core call `kBody(core, params.value()...)` runs detached. Shared methods get
/// the core value as const.
template <class Cls, FixedString kSignature, Access kAccess, auto kBody, class... Params>
PyObject* detached_method(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) noexcept {
  auto& object = wrapped<Cls>(self);
  return frame<Params...>(
      {Cls::kName, kMethodName<kSignature>.text}, &object.claims, kAccess, args, nargsf, kwnames,
      [&](Params&... p) {
        if constexpr (kAccess == Access::kShared) {
          return run_detached([&] { return kBody(std::as_const(object.core), p.value()...); });
        } else {
          object.stream.refresh(object.core.rng());
          return run_detached([&] { return kBody(object.core, p.value()...); });
        }
      });
}

/// A method whose short body `kBody(object, params.value()...)` runs attached and builds its
/// own Python result (copying or reading the record).
template <class Cls, FixedString kSignature, Access kAccess, auto kBody, class... Params>
PyObject* attached_method(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) noexcept {
  auto& object = wrapped<Cls>(self);
  return frame<Params...>({Cls::kName, kMethodName<kSignature>.text}, &object.claims, kAccess, args,
                          nargsf, kwnames, [&](Params&... p) {
                            if constexpr (kAccess == Access::kExclusive) {
                              object.stream.refresh(object.core.rng());
                            }
                            return kBody(object, p.value()...);
                          });
}

/// Builds a result from the class itself: `kBody(type, params.value()...)` runs attached, and
/// binding errors are reported under `function`.
template <auto kBody, class... Params>
PyObject* type_call(FunctionName function, PyObject* type, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames) noexcept {
  return frame<Params...>(
      function, nullptr, Access::kShared, args, nargsf, kwnames,
      [&](Params&... p) { return kBody(reinterpret_cast<PyTypeObject*>(type), p.value()...); });
}

/// The class's vectorcall constructor: `kBody(type, params.value()...)` builds the object.
template <class Cls, auto kBody, class... Params>
PyObject* constructor(PyObject* type, PyObject* const* args, size_t nargsf,
                      PyObject* kwnames) noexcept {
  return type_call<kBody, Params...>({Cls::kName, "__new__"}, type, args,
                                     static_cast<Py_ssize_t>(nargsf), kwnames);
}

/// A class method: `kBody(type, params.value()...)` builds its result.
template <class Cls, FixedString kSignature, auto kBody, class... Params>
PyObject* class_method(PyObject* type, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) noexcept {
  return type_call<kBody, Params...>({Cls::kName, kMethodName<kSignature>.text}, type, args, nargsf,
                                     kwnames);
}

template <auto kFunction>
PyMethodDef method_def(const char* name, const char* doc, int extra_flags = 0) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(kFunction)),
          METH_FASTCALL | METH_KEYWORDS | extra_flags, doc};
}

/// The method table entry of a method whose core call runs detached.
template <class Cls, FixedString kSignature, Access kAccess, auto kBody, class... Params>
PyMethodDef method() {
  return method_def<&detached_method<Cls, kSignature, kAccess, kBody, Params...>>(
      kMethodName<kSignature>.text, kDocstring<kSignature>.text);
}

/// The method table entry of a method whose body runs attached.
template <class Cls, FixedString kSignature, Access kAccess, auto kBody, class... Params>
PyMethodDef attached() {
  return method_def<&attached_method<Cls, kSignature, kAccess, kBody, Params...>>(
      kMethodName<kSignature>.text, kDocstring<kSignature>.text);
}

/// The method table entry of a class method.
template <class Cls, FixedString kSignature, auto kBody, class... Params>
PyMethodDef class_method_entry() {
  return method_def<&class_method<Cls, kSignature, kBody, Params...>>(
      kMethodName<kSignature>.text, kDocstring<kSignature>.text, METH_CLASS);
}

}  // namespace velkor::bindings
