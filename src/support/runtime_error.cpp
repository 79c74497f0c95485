#include "support/runtime_error.h"

#include <cerrno>

namespace kelvane {

std::string runtimeDescription(int number) {
  switch (number) {
    case rt::InvalidProcedureCall: return "Invalid procedure call or argument";
    case rt::Overflow: return "Overflow";
    case rt::OutOfMemory: return "Out of memory";
    case rt::SubscriptOutOfRange: return "Subscript out of range";
    case rt::DivisionByZero: return "Division by zero";
    case rt::TypeMismatch: return "Type mismatch";
    case rt::BadFileName: return "Bad file name or number";
    case rt::FileNotFound: return "File not found";
    case rt::DeviceIOError: return "Device I/O error";
    case rt::DiskFull: return "Disk full";
    case rt::PermissionDenied: return "Permission denied";
    case rt::PathFileAccessError: return "Path/File access error";
    case rt::PathNotFound: return "Path not found";
    case rt::InvalidPropertyValue: return "Invalid property value";
    case rt::CantCreateAutoRedrawImage: return "Can't create AutoRedraw image";
    default: return {};
  }
}

RuntimeError::RuntimeError(int number) : number_(number), description_(runtimeDescription(number)) {}

RuntimeError::RuntimeError(int number, std::string description)
    : number_(number), description_(std::move(description)) {}

RuntimeError fileError(int err) {
  switch (err) {
    case ENOENT: return RuntimeError(rt::PathNotFound);
    case ENOTDIR: return RuntimeError(rt::PathNotFound);
    case EACCES:
    case EPERM:
    case EROFS: return RuntimeError(rt::PermissionDenied);
    case ENOSPC: return RuntimeError(rt::DiskFull);
#ifdef EDQUOT
    case EDQUOT: return RuntimeError(rt::DiskFull);
#endif
    case ENAMETOOLONG:
    case EINVAL: return RuntimeError(rt::BadFileName);
    case EIO: return RuntimeError(rt::DeviceIOError);
    case ENOMEM: return RuntimeError(rt::OutOfMemory);
    default: return RuntimeError(rt::PathFileAccessError);
  }
}

}  // namespace kelvane
