#pragma once

namespace velkor {

/// One visitor from several lambdas, for std::visit over an instruction or mode variant.
template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace velkor
