#include "circuit/target_readers.h"

#include <algorithm>
#include <unordered_set>

#include "text/quoted.h"

namespace velkor {
namespace {

std::string invalid_qubit(std::string_view text) { return "invalid qubit target " + quoted(text); }

// `text` without one leading "+", when it has one.
std::string_view unsigned_part(std::string_view text) {
  return text.starts_with('+') ? text.substr(1) : text;
}

// Whether `qubit` appears among the first `count` factors; switches to a hash set for long
// products so that checking stays linear.
class SeenQubits {
 public:
  bool insert(const std::vector<std::pair<uint64_t, Pauli>>& factors, uint64_t qubit) {
    static constexpr size_t kLinearLimit = 16;
    if (factors.size() < kLinearLimit) {
      return std::none_of(factors.begin(), factors.end(),
                          [&](const auto& f) { return f.first == qubit; });
    }
    if (set_.empty()) {
      for (const auto& f : factors) set_.insert(f.first);
    }
    return set_.insert(qubit).second;
  }

 private:
  std::unordered_set<uint64_t> set_;
};

}  // namespace

std::optional<uint64_t> decimal_u64(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  // Up to 19 digits cannot overflow.
  size_t safe = std::min<size_t>(digits.size(), 19);
  for (size_t k = 0; k < safe; ++k) {
    unsigned d = static_cast<unsigned char>(digits[k]) - '0';
    if (d > 9) return std::nullopt;
    value = value * 10 + d;
  }
  for (char c : digits.substr(safe)) {
    if (c < '0' || c > '9') return std::nullopt;
    if (__builtin_mul_overflow(value, 10, &value) ||
        __builtin_add_overflow(value, static_cast<uint64_t>(c - '0'), &value)) {
      return std::nullopt;
    }
  }
  return value;
}

Expected<MeasuredQubit, std::string> qubit_target(std::string_view text, bool allow_inverted) {
  if (text.empty()) return unexpected(invalid_qubit(text));
  std::string_view rest = text;
  bool inverted = false;
  if (rest.starts_with('!')) {
    if (!allow_inverted) {
      return unexpected("inverted target " + quoted(text) + " is only valid for measurements");
    }
    inverted = true;
    rest.remove_prefix(1);
  }
  if ((rest.size() >= 4 && rest.starts_with("rec[")) ||
      (rest.size() >= 6 && rest.starts_with("sweep["))) {
    return unexpected("measurement feedback target " + quoted(text) + " is unsupported");
  }
  std::optional<uint64_t> qubit = decimal_u64(unsigned_part(rest));
  if (!qubit) return unexpected(invalid_qubit(text));
  return MeasuredQubit{*qubit, inverted};
}

Expected<Qubits, std::string> qubits(std::span<const std::string_view> targets) {
  Qubits out;
  out.reserve(targets.size());
  for (std::string_view t : targets) {
    auto q = qubit_target(t, false);
    if (!q) return unexpected(std::move(q.error()));
    out.push_back(q->qubit);
  }
  return out;
}

Expected<MeasuredQubits, std::string> measured_qubits(std::span<const std::string_view> targets) {
  MeasuredQubits out;
  out.reserve(targets.size());
  for (std::string_view t : targets) {
    auto q = qubit_target(t, true);
    if (!q) return unexpected(std::move(q.error()));
    out.push_back(*q);
  }
  return out;
}

Expected<QubitPairs, std::string> paired_qubits(const AstInstruction& instruction) {
  auto all = qubits(instruction.targets);
  if (!all) return unexpected(std::move(all.error()));
  if (all->size() % 2 != 0) {
    return unexpected(instruction.name + " requires an even number of targets");
  }
  QubitPairs out;
  out.reserve(all->size() / 2);
  for (size_t k = 0; k < all->size(); k += 2) {
    uint64_t a = (*all)[k], b = (*all)[k + 1];
    if (a == b) {
      return unexpected(instruction.name + " pair endpoints must be different (both were " +
                        std::to_string(a) + ")");
    }
    out.push_back({a, b});
  }
  return out;
}

Expected<QubitTriples, std::string> tripled_qubits(const AstInstruction& instruction) {
  auto all = qubits(instruction.targets);
  if (!all) return unexpected(std::move(all.error()));
  if (all->size() % 3 != 0) {
    return unexpected(instruction.name + " requires a multiple of three targets");
  }
  QubitTriples out;
  out.reserve(all->size() / 3);
  for (size_t k = 0; k < all->size(); k += 3) {
    uint64_t a = (*all)[k], b = (*all)[k + 1], c = (*all)[k + 2];
    if (a == b || a == c || b == c) {
      return unexpected(instruction.name + " triple endpoints must be different (got " +
                        std::to_string(a) + ", " + std::to_string(b) + ", " + std::to_string(c) +
                        ")");
    }
    out.push_back({a, b, c});
  }
  return out;
}

Expected<PauliProduct, std::string> pauli_product(std::string_view text, std::string_view name) {
  if (text.empty()) return unexpected(std::string(name) + " product cannot be empty");
  auto invalid_factor = [&](std::string_view piece) {
    return unexpected("invalid " + std::string(name) + " Pauli factor " + quoted(piece));
  };
  PauliProduct product;
  SeenQubits seen;
  size_t start = 0;
  for (;;) {
    size_t star = std::min(text.find('*', start), text.size());
    std::string_view piece = text.substr(start, star - start);
    if (piece.empty()) {
      return unexpected("malformed " + std::string(name) + " product " + quoted(text));
    }
    std::string_view factor = piece;
    if (factor.starts_with('!')) {
      product.negated = !product.negated;
      factor.remove_prefix(1);
    }
    if (factor.empty() || (factor[0] != 'X' && factor[0] != 'Y' && factor[0] != 'Z')) {
      return invalid_factor(piece);
    }
    Pauli pauli = factor[0] == 'X' ? Pauli::X : factor[0] == 'Y' ? Pauli::Y : Pauli::Z;
    std::string_view digits = factor.substr(1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
      return invalid_factor(piece);
    }
    std::optional<uint64_t> qubit = decimal_u64(digits);
    if (!qubit) {
      return unexpected("invalid " + std::string(name) + " qubit index in " + quoted(piece));
    }
    if (!seen.insert(product.factors, *qubit)) {
      return unexpected(std::string(name) + " product " + quoted(text) + " contains qubit " +
                        std::to_string(*qubit) + " more than once");
    }
    product.factors.emplace_back(*qubit, pauli);
    product.span = std::max(product.span, *qubit == UINT64_MAX ? *qubit : *qubit + 1);
    if (star == text.size()) return product;
    start = star + 1;
  }
}

Expected<uint64_t, std::string> record_lookback(std::string_view text) {
  std::optional<uint64_t> k;
  if (text.size() >= 5 && text.starts_with("rec[-") && text.ends_with(']')) {
    k = decimal_u64(unsigned_part(text.substr(5, text.size() - 6)));
  }
  if (!k) return unexpected("invalid measurement record target " + quoted(text));
  if (*k == 0) return unexpected(std::string("measurement record lookback must be positive"));
  return *k;
}

Expected<Lookbacks, std::string> record_lookbacks(std::span<const std::string_view> targets) {
  Lookbacks out;
  out.reserve(targets.size());
  for (std::string_view t : targets) {
    auto k = record_lookback(t);
    if (!k) return unexpected(std::move(k.error()));
    out.push_back(*k);
  }
  return out;
}

}  // namespace velkor
