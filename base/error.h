// base/: what every stage uses and no system decides: the error type, Flag, the
// buffered output, threads and the lines of a text.
//
// Error: the one failure type of the program. Nothing handles a failure where it
// happens; it travels up to the driver, which reports message() once and exits 1.
#pragma once

#include <exception>
#include <string>

namespace qv {

class Error : public std::exception {
 public:
  // A command-line failure; the text is usually a usage message.
  static Error user(std::string text);
  // A fatal error of a computation; its text is reported unchanged.
  static Error program(std::string text);
  // A failed system call on path: operation is "openFile", "readFile", "writeFile"
  // or "closeFile", errnum the errno it set, or 0 where the system's error has none;
  // description is the system's own words for it (empty: the C library's for errnum).
  static Error io(std::string path, std::string operation, int errnum,
                  std::string description = {});

  // The text after "PROGRAM: " in the report.
  const std::string& message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  explicit Error(std::string message) : message_(std::move(message)) {}
  std::string message_;
};

// The fixed phrase for the kind of an I/O failure ("does not exist", ...); "failed"
// for an errno it has no phrase for, and for 0.
const char* ioKindPhrase(int errnum);

}  // namespace qv
