#include "base/error.h"

#include <cerrno>
#include <cstring>

namespace qv {

Error Error::user(std::string text) {
  return Error("user error (" + text + ")");
}

Error Error::program(std::string text) {
  return Error(std::move(text));
}

Error Error::io(std::string path, std::string operation, int errnum, std::string description) {
  std::string message = std::move(path);
  message += ": ";
  message += operation;
  message += ": ";
  message += ioKindPhrase(errnum);
  message += " (";
  message += description.empty() ? std::strerror(errnum) : description;
  message += ")";
  return Error(std::move(message));
}

const char* ioKindPhrase(int errnum) {
  switch (errnum) {
    case ENOENT:
    case ENOTDIR:
      return "does not exist";
    case EACCES:
    case EPERM:
    case EROFS:
      return "permission denied";
    case EISDIR:
      return "inappropriate type";
#ifdef EDQUOT
    // Not every C library has a "disk quota exceeded".
    case EDQUOT:
#endif
    case ENOSPC:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
      return "resource exhausted";
    case EEXIST:
      return "already exists";
    case EBUSY:
    case ETXTBSY:
      return "resource busy";
    case EINTR:
      return "interrupted";
    case EINVAL:
      return "invalid argument";
    case EIO:
      return "hardware fault";
    default:
      return "failed";
  }
}

}  // namespace qv
