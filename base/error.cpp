#include "base/error.h"

#include <cerrno>
#include <cstring>
#include <string_view>

namespace qv {

Error Error::user(std::string text) {
  return Error("user error (" + text + ")");
}

Error Error::program(std::string text) {
  return Error(std::move(text));
}

Error Error::io(std::string path, std::string operation, int errnum, std::string description) {
  const std::string_view parts[] = {
      path,
      ": ",
      operation,
      ": ",
      ioKindPhrase(errnum),
      " (",
      description.empty() ? std::string_view(std::strerror(errnum)) : description,
      ")"};
  std::string message;
  for (const std::string_view part : parts) message.append(part);
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
