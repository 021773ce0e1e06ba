#pragma once

#include <optional>
#include <string>
#include <utility>

namespace platform {

// The outcome of an operation that can fail for a reason the user should hear about.
// An error carries a message that says what failed and where.
class [[nodiscard]] Status {
 public:
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message)); }

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const std::string& message() const {
    static const std::string kEmpty;
    return error_ ? *error_ : kEmpty;
  }

 private:
  Status() = default;
  explicit Status(std::string message) : error_(std::move(message)) {}
  std::optional<std::string> error_;
};

// A value or the reason there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  static Result Error(std::string message) { return Result(std::move(message), 0); }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  const std::string& message() const { return error_; }
  Status status() const { return ok() ? Status::Ok() : Status::Error(error_); }

 private:
  Result(std::string message, int) : error_(std::move(message)) {}
  std::optional<T> value_;
  std::string error_;
};

}  // namespace platform
