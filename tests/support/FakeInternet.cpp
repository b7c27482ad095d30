#include "tests/support/FakeInternet.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

namespace {

thread_local std::uint32_t fakeLastError = 0;

std::u16string Text(const char16_t* s) { return s != nullptr ? std::u16string(s) : u""; }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Text answers of HttpQueryInfoW as WinInet gives them: UTF-16, the length in bytes without the
// terminating zero, or the size needed with it when the buffer is too small.
bool ReturnText(const std::string& text, void* buffer, std::uint32_t* length) {
  std::u16string wide(text.begin(), text.end());
  auto bytes = static_cast<std::uint32_t>(wide.size() * 2);
  if (buffer == nullptr || *length < bytes + 2) {
    *length = bytes + 2;
    fakeLastError = os::ERROR_INSUFFICIENT_BUFFER_CODE;
    return false;
  }
  std::memcpy(buffer, wide.c_str(), bytes + 2);
  *length = bytes;
  return true;
}

bool ReturnNumber(std::uint32_t value, void* buffer, std::uint32_t* length) {
  if (buffer == nullptr || *length < 4) {
    *length = 4;
    fakeLastError = os::ERROR_INSUFFICIENT_BUFFER_CODE;
    return false;
  }
  std::memcpy(buffer, &value, 4);
  *length = 4;
  return true;
}

}  // namespace

void FakeInternet::Script(Call call, std::vector<Outcome> outcomes) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& queue = scripts_[call];
  queue.insert(queue.end(), outcomes.begin(), outcomes.end());
}

std::vector<FakeInternet::Record> FakeInternet::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<FakeInternet::Record> FakeInternet::CallsOf(Call call) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Record> result;
  for (const Record& r : calls_) {
    if (r.call == call) result.push_back(r);
  }
  return result;
}

int FakeInternet::CloseCount(os::HINTERNET handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = closes_.find(handle);
  return it == closes_.end() ? 0 : it->second;
}

std::vector<os::HINTERNET> FakeInternet::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

FakeInternet::Outcome FakeInternet::Next(Call call) {
  Outcome outcome;
  auto& queue = scripts_[call];
  if (!queue.empty()) {
    outcome = queue.front();
    queue.pop_front();
  }
  fakeLastError = outcome.lastError;
  return outcome;
}

os::HINTERNET FakeInternet::NewHandle() {
  nextHandle_ += 0x10;
  auto handle = reinterpret_cast<os::HINTERNET>(nextHandle_);
  open_.push_back(handle);
  return handle;
}

os::HINTERNET FakeInternet::InternetOpenW(const char16_t* agent, std::uint32_t accessType,
                                          const char16_t*, const char16_t*, std::uint32_t) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record r{Call::InternetOpen};
  r.text = Text(agent);
  r.flags = accessType;
  if (Next(Call::InternetOpen).succeed) r.result = NewHandle();
  calls_.push_back(r);
  return r.result;
}

os::HINTERNET FakeInternet::InternetConnectW(os::HINTERNET session, const char16_t* serverName,
                                             std::uint16_t serverPort, const char16_t* userName,
                                             const char16_t* password, std::uint32_t service,
                                             std::uint32_t, std::uintptr_t) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record r{Call::InternetConnect};
  r.handle = session;
  r.text = Text(serverName);
  r.port = serverPort;
  r.user = Text(userName);
  r.password = Text(password);
  r.value = service;
  if (Next(Call::InternetConnect).succeed) r.result = NewHandle();
  calls_.push_back(r);
  return r.result;
}

os::HINTERNET FakeInternet::HttpOpenRequestW(os::HINTERNET connection, const char16_t* verb,
                                             const char16_t* objectName, const char16_t* version,
                                             const char16_t*, const char16_t**, std::uint32_t flags,
                                             std::uintptr_t) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record r{Call::HttpOpenRequest};
  r.handle = connection;
  r.text = Text(verb);
  r.path = Text(objectName);
  r.version = Text(version);
  r.flags = flags;
  if (Next(Call::HttpOpenRequest).succeed) {
    r.result = NewHandle();
    securityFlags_[r.result] = 0;
  }
  calls_.push_back(r);
  return r.result;
}

bool FakeInternet::HttpSendRequestW(os::HINTERNET request, const char16_t* headers,
                                    std::uint32_t headersLength, const void* optional,
                                    std::uint32_t optionalLength) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record r{Call::HttpSendRequest};
  r.handle = request;
  if (headers != nullptr) {
    r.text = headersLength == 0xFFFFFFFFu ? std::u16string(headers)
                                          : std::u16string(headers, headersLength);
  }
  r.value = headersLength;
  if (optional != nullptr) r.body.assign(static_cast<const char*>(optional), optionalLength);
  auto it = securityFlags_.find(request);
  r.flags = it != securityFlags_.end() ? it->second : 0;  // the security flags at the send
  calls_.push_back(r);
  return Next(Call::HttpSendRequest).succeed;
}

bool FakeInternet::HttpQueryInfoW(os::HINTERNET request, std::uint32_t infoLevel, void* buffer,
                                  std::uint32_t* bufferLength, std::uint32_t* index) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record r{Call::HttpQueryInfo};
  r.handle = request;
  r.flags = infoLevel;
  r.value = index != nullptr ? *index : 0;
  calls_.push_back(r);
  if (!Next(Call::HttpQueryInfo).succeed) return false;
  std::uint32_t level = infoLevel & 0x0FFFFFFFu;
  bool number = (infoLevel & os::HTTP_QUERY_FLAG_NUMBER) != 0;
  if (level == os::HTTP_QUERY_RAW_HEADERS_CRLF) {
    std::string text;
    for (const std::string& line : response.headers) text += line + "\r\n";
    return ReturnText(text + "\r\n", buffer, bufferLength);
  }
  std::string name = level == os::HTTP_QUERY_CONTENT_LENGTH ? "content-length:"
                     : level == os::HTTP_QUERY_SET_COOKIE   ? "set-cookie:"
                                                            : "";
  std::uint32_t wanted = index != nullptr ? *index : 0;
  std::uint32_t seen = 0;
  for (std::size_t i = 1; !name.empty() && i < response.headers.size(); ++i) {
    const std::string& line = response.headers[i];
    if (Lower(line.substr(0, name.size())) != name || seen++ != wanted) continue;
    std::string value = line.substr(name.size());
    value.erase(0, value.find_first_not_of(' '));
    bool ok =
        number ? ReturnNumber(static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10)),
                              buffer, bufferLength)
               : ReturnText(value, buffer, bufferLength);
    if (ok && index != nullptr) ++*index;
    return ok;
  }
  fakeLastError = os::ERROR_HTTP_HEADER_NOT_FOUND;
  return false;
}

bool FakeInternet::InternetReadFile(os::HINTERNET file, void* buffer, std::uint32_t bytesToRead,
                                    std::uint32_t* bytesRead) {
  if (beforeRead) beforeRead();
  std::lock_guard<std::mutex> lock(mutex_);
  if (bytesRead != nullptr) *bytesRead = 0;
  Record r{Call::InternetReadFile};
  r.handle = file;
  r.flags = bytesToRead;
  calls_.push_back(r);
  const Outcome outcome = Next(Call::InternetReadFile);
  if (outcome.outOfMemory) throw std::bad_alloc();
  if (!outcome.succeed) return false;
  if (chunk_ >= response.body.size() || bytesRead == nullptr) return true;
  const std::string& chunk = response.body[chunk_];
  std::size_t n = std::min<std::size_t>(bytesToRead, chunk.size() - chunkOffset_);
  std::memcpy(buffer, chunk.data() + chunkOffset_, n);
  chunkOffset_ += n;
  if (chunkOffset_ == chunk.size()) {
    ++chunk_;
    chunkOffset_ = 0;
  }
  *bytesRead = static_cast<std::uint32_t>(n);
  calls_.back().value = *bytesRead;
  return true;
}

bool FakeInternet::InternetCloseHandle(os::HINTERNET handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record r{Call::InternetCloseHandle};
  r.handle = handle;
  calls_.push_back(r);
  ++closes_[handle];
  auto it = std::find(open_.begin(), open_.end(), handle);
  if (it == open_.end()) {
    fakeLastError = 6;  // ERROR_INVALID_HANDLE
    return false;
  }
  open_.erase(it);
  return Next(Call::InternetCloseHandle).succeed;
}

bool FakeInternet::InternetCrackUrlW(const char16_t* url, std::uint32_t urlLength,
                                     std::uint32_t flags, os::URL_COMPONENTSW* components) {
  // URL splitting needs no network: the platform's own is used.
  os::InternetLibrary& real = os::DefaultInternet();
  bool ok = real.InternetCrackUrlW(url, urlLength, flags, components);
  fakeLastError = real.GetLastError();
  return ok;
}

bool FakeInternet::InternetQueryOptionW(os::HINTERNET handle, std::uint32_t option, void* buffer,
                                        std::uint32_t* bufferLength) {
  if (handle == nullptr) {
    // Process-wide options are the platform's.
    os::InternetLibrary& real = os::DefaultInternet();
    bool ok = real.InternetQueryOptionW(nullptr, option, buffer, bufferLength);
    fakeLastError = real.GetLastError();
    return ok;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  Record r{Call::InternetQueryOption};
  r.handle = handle;
  r.flags = option;
  calls_.push_back(r);
  if (!Next(Call::InternetQueryOption).succeed) return false;
  return ReturnNumber(securityFlags_[handle], buffer, bufferLength);
}

bool FakeInternet::InternetSetOptionW(os::HINTERNET handle, std::uint32_t option,
                                      const void* buffer, std::uint32_t bufferLength) {
  if (handle == nullptr) {
    os::InternetLibrary& real = os::DefaultInternet();
    bool ok = real.InternetSetOptionW(nullptr, option, buffer, bufferLength);
    fakeLastError = real.GetLastError();
    return ok;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  Record r{Call::InternetSetOption};
  r.handle = handle;
  r.flags = option;
  if (buffer != nullptr && bufferLength >= 4) std::memcpy(&r.value, buffer, 4);
  calls_.push_back(r);
  if (!Next(Call::InternetSetOption).succeed) return false;
  if (option == os::INTERNET_OPTION_SECURITY_FLAGS) securityFlags_[handle] = r.value;
  return true;
}

std::uint32_t FakeInternet::GetLastError() { return fakeLastError; }

void FakeInternet::SetLastError(std::uint32_t code) { fakeLastError = code; }

std::string FakeInternet::ErrorMessage(std::uint32_t code) {
  return "fake error " + std::to_string(code);
}
