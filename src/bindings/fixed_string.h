#pragma once

#include <cstddef>

namespace velkor::bindings {

/// A string literal usable as a template argument, so that a method's name, signature and
/// docstring are fixed at compile time.
template <size_t N>
struct FixedString {
  char text[N]{};

  constexpr FixedString(const char (&literal)[N]) {
    for (size_t i = 0; i < N; ++i) text[i] = literal[i];
  }
  constexpr FixedString() = default;
};

/// "{signature}\n--\n\n": the docstring form CPython reads a text signature from.
template <FixedString kSignature>
constexpr auto text_signature_doc() {
  constexpr char kSuffix[] = "\n--\n\n";
  constexpr size_t n = sizeof(kSignature.text) - 1;
  FixedString<n + sizeof(kSuffix)> doc;
  for (size_t i = 0; i < n; ++i) doc.text[i] = kSignature.text[i];
  for (size_t i = 0; i < sizeof(kSuffix); ++i) doc.text[n + i] = kSuffix[i];
  return doc;
}

/// The function name a text signature starts with: "x" of "x($self, *targets)".
template <FixedString kSignature>
constexpr auto signature_name() {
  FixedString<sizeof(kSignature.text)> name;
  for (size_t i = 0; kSignature.text[i] != '(' && kSignature.text[i] != '\0'; ++i) {
    name.text[i] = kSignature.text[i];
  }
  return name;
}

}  // namespace velkor::bindings
