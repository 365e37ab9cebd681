#pragma once
// The class library's root object and exceptions.
#include <cstdint>
#include <stdexcept>
#include <string>

// The root of every class of the system that is created and freed by its owner.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

 protected:
  TObject(TObject&&) noexcept = default;
};

// Errors raised inside the system carry a message for the user.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// An operating-system call failed; carries the system's error code.
class EOSError : public Exception {
 public:
  EOSError(uint32_t code, const std::string& message) : Exception(message), ErrorCode(code) {}
  uint32_t ErrorCode;
};

// Raises EOSError for the calling thread's last system error.
[[noreturn]] void RaiseLastOSError();

// Rounds to the nearest integer, halves to the even neighbour; values out of
// range give the nearest end of the range, not-a-number gives 0.
int32_t RoundHalfEven(long double v);
