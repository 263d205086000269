// One way to carry a failure and its reason inside the program.
//
// An Outcome<Reason, T> holds either what an operation made (a T; Done when
// it makes nothing) or a failure: a reason from the operation's own enum
// class, and an int detail whose meaning that domain gives (an errno, an exit
// code, a signal, a curl code; 0 when it has none).
//
// Contract:
// - Ok(), and the explicit bool, are true when a value is held.
// - Value() is only to be called when Ok(); Reason() and Detail() only when
//   not. Anything else is a fault of the caller, and throws
//   std::logic_error.
// - A failure is made with Fail(reason, detail): it becomes an Outcome of
//   that Reason and any T. A value of a type T can be made from becomes an
//   Outcome holding that T; a default-made Outcome holds T{}. T is to be
//   default-constructible (a failure holds a T{} it never shows).
// - Outcomes are plain values: they copy and move as their T does. One that
//   a call returns is to be looked at ([[nodiscard]]).
//
// Failures stay reasons inside the program; they become what the outside is
// told (result codes, the pages' texts) only where it is told.
#pragma once

#include <stdexcept>
#include <type_traits>
#include <utility>

namespace zb {

// The value of an operation that makes nothing but may fail.
struct Done {};

// A failure on its way to an Outcome: made by Fail().
template <typename Reason>
struct Failure {
  Reason reason;
  int detail = 0;
};

template <typename Reason>
constexpr Failure<Reason> Fail(Reason reason, int detail = 0) {
  return Failure<Reason>{reason, detail};
}

template <typename Reason, typename T = Done>
class Outcome;

// What an Outcome<Reason, T> may be made from as its value.
template <typename U, typename Reason, typename T>
concept OutcomeValue = std::is_constructible_v<T, U&&> &&
                       !std::is_same_v<std::remove_cvref_t<U>, Outcome<Reason, T>> &&
                       !std::is_same_v<std::remove_cvref_t<U>, Failure<Reason>>;

template <typename ReasonEnum, typename T>
class [[nodiscard]] Outcome {
  static_assert(std::is_enum_v<ReasonEnum>, "a failure's reason is an enum of its domain");

 public:
  Outcome() = default;
  template <OutcomeValue<ReasonEnum, T> U = T>
  explicit(!std::is_convertible_v<U&&, T>) Outcome(U&& value) : m_value(std::forward<U>(value)) {}
  Outcome(Failure<ReasonEnum> failure) : m_failure(failure), m_failed(true) {}

  bool Ok() const { return !m_failed; }
  explicit operator bool() const { return Ok(); }

  const T& Value() const& {
    Expect(true);
    return m_value;
  }
  T& Value() & {
    Expect(true);
    return m_value;
  }
  T&& Value() && {
    Expect(true);
    return std::move(m_value);
  }

  ReasonEnum Reason() const {
    Expect(false);
    return m_failure.reason;
  }
  int Detail() const {
    Expect(false);
    return m_failure.detail;
  }

 private:
  // Throws when the caller asks for what is not held.
  void Expect(bool value) const {
    if (value != Ok()) throw std::logic_error(value ? "value of a failure" : "reason of a value");
  }

  T m_value{};
  Failure<ReasonEnum> m_failure{};
  bool m_failed = false;
};

}  // namespace zb
