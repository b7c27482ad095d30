// The exception hierarchy. Every failure travels as an exception whose message is ANSI text.
#pragma once

#include <exception>
#include <initializer_list>
#include <utility>

#include "support/Strings.h"

class Exception : public std::exception {
 public:
  explicit Exception(AnsiString message) : message_(std::move(message)) {}
  const AnsiString& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  AnsiString message_;
};

// The silent exception: reported nowhere.
class EAbort : public Exception {
 public:
  using Exception::Exception;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFileStreamError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
};
class EFOpenError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// A failure of an operating-system call, with its error code.
class EOSError : public Exception {
 public:
  EOSError(AnsiString message, unsigned code) : Exception(std::move(message)), code_(code) {}
  unsigned ErrorCode() const noexcept { return code_; }

 private:
  unsigned code_;
};

class EThread : public Exception {
 public:
  using Exception::Exception;
};
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// Fills the "%s" and "%d" holes of a message pattern, in order, with the given texts.
AnsiString FormatMessageText(const AnsiString& pattern, std::initializer_list<AnsiString> args);
