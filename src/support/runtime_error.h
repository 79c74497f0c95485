#pragma once
// Unexpected failures carry the classic run-time number and its wording, so a
// copied error report reads the same as it always has.
#include <exception>
#include <string>

namespace kelvane {

namespace rt {
inline constexpr int InvalidProcedureCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int OutOfMemory = 7;
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int DivisionByZero = 11;
inline constexpr int TypeMismatch = 13;
inline constexpr int BadFileName = 52;
inline constexpr int FileNotFound = 53;
inline constexpr int DeviceIOError = 57;
inline constexpr int DiskFull = 61;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccessError = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int CantCreateAutoRedrawImage = 480;
}  // namespace rt

// The run-time library's description of a failure number ("" when unknown).
std::string runtimeDescription(int number);

class RuntimeError : public std::exception {
 public:
  explicit RuntimeError(int number);
  RuntimeError(int number, std::string description);
  int number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int number_;
  std::string description_;
};

// Maps a file-system errno to the run-time failure a file operation reports.
RuntimeError fileError(int err);

}  // namespace kelvane
