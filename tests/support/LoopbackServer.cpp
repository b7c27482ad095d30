#include "tests/support/LoopbackServer.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s) { closesocket(s); }
constexpr int kShutBoth = SD_BOTH;
constexpr int kSendFlags = 0;

// Winsock must be started once per process before the first socket.
void StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("LoopbackServer: WSAStartup failed");
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void CloseSocket(Socket s) { close(s); }
constexpr int kShutBoth = SHUT_RDWR;
void StartSockets() {}
// A client that went away must not end the test process with SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

Socket ToSocket(std::intptr_t s) { return static_cast<Socket>(s); }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  std::size_t end = s.find_last_not_of(" \t");
  return s.substr(begin, end - begin + 1);
}

bool SendAll(Socket s, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), kSendFlags);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// True when the peer has closed its side (or the socket failed): a readable socket with nothing
// to read. Used while stalled, so that a stall ends when the client goes away.
bool PeerGone(Socket s) {
#ifdef _WIN32
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval zero{0, 0};
  if (select(0, &set, nullptr, nullptr, &zero) <= 0) return false;
#else
  pollfd p{s, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
#endif
  char c;
  return recv(s, &c, 1, MSG_PEEK) <= 0;
}

}  // namespace

struct LoopbackServer::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  // Shared with the connections that answer from them, so a large body is never copied.
  std::map<std::string, std::shared_ptr<const Response>> scripts;
  std::vector<Request> requests;
  std::set<std::intptr_t> open;  // connection sockets being served
  // Connection threads by number; a thread that has answered leaves its number in `finished`
  // and is joined when the next connection arrives, so a long run keeps no dead threads.
  std::map<std::uint64_t, std::thread> connections;
  std::vector<std::uint64_t> finished;
  std::uint64_t nextConnection = 0;
  bool released = false;
  bool stopping = false;
  int stalled = 0;  // responses that reached their stall
};

LoopbackServer::Response LoopbackServer::Response::Text(std::string body, std::string statusLine) {
  Response r;
  r.statusLine = std::move(statusLine);
  r.body.push_back({std::move(body)});
  return r;
}

std::string LoopbackServer::Request::Header(const std::string& name) const {
  std::string wanted = Lower(name) + ":";
  for (const std::string& line : headers) {
    if (Lower(line.substr(0, wanted.size())) == wanted) return Trim(line.substr(wanted.size()));
  }
  return {};
}

bool LoopbackServer::Request::HasHeader(const std::string& name) const {
  std::string wanted = Lower(name) + ":";
  return std::any_of(headers.begin(), headers.end(), [&](const std::string& line) {
    return Lower(line.substr(0, wanted.size())) == wanted;
  });
}

LoopbackServer::LoopbackServer(std::uint16_t port) : shared_(std::make_shared<Shared>()) {
  StartSockets();
  Socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kNoSocket) throw std::runtime_error("LoopbackServer: no socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
#ifndef _WIN32
  // A fixed port must be free again at once after the previous test's server closed it.
  const int reuse = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
#endif
  socklen_t length = sizeof(address);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(s, 64) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    CloseSocket(s);
    throw std::runtime_error("LoopbackServer: cannot listen on 127.0.0.1");
  }
  listener_ = static_cast<std::intptr_t>(s);
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stopping = true;
    shared_->released = true;
    // Unblocks connection threads that are sending to a client that stopped reading.
    for (std::intptr_t s : shared_->open) shutdown(ToSocket(s), kShutBoth);
  }
  shared_->changed.notify_all();
  // The acceptor blocks in accept(): a connection of our own wakes it to see `stopping`.
  Socket wake = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port_);
  connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  acceptor_.join();
  CloseSocket(wake);
  CloseSocket(ToSocket(listener_));
  std::map<std::uint64_t, std::thread> connections;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    connections.swap(shared_->connections);
  }
  for (auto& [number, thread] : connections) thread.join();
}

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::u16string LoopbackServer::WideUrl(const std::string& path) const {
  std::string narrow = Url(path);
  return std::u16string(narrow.begin(), narrow.end());
}

void LoopbackServer::On(const std::string& path, Response response) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->scripts[path] = std::make_shared<const Response>(std::move(response));
}

void LoopbackServer::Release() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->released = true;
  }
  shared_->changed.notify_all();
}

bool LoopbackServer::WaitForStall(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  return shared_->changed.wait_for(lock, bound, [&] { return shared_->stalled > 0; });
}

bool LoopbackServer::WaitForRequests(std::size_t count, std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  return shared_->changed.wait_for(lock, bound, [&] { return shared_->requests.size() >= count; });
}

std::vector<LoopbackServer::Request> LoopbackServer::Requests() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->requests;
}

std::string LoopbackServer::Gzip(const std::string& bytes) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("LoopbackServer: deflateInit2 failed");
  }
  std::string out(deflateBound(&z, static_cast<uLong>(bytes.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("LoopbackServer: deflate failed");
  return out;
}

void LoopbackServer::AcceptLoop() {
  for (;;) {
    Socket client = accept(ToSocket(listener_), nullptr, nullptr);
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->stopping) {
      if (client != kNoSocket) CloseSocket(client);
      return;
    }
    if (client == kNoSocket) continue;
    // A finished thread has nothing left to do but return, so joining it here is short.
    for (std::uint64_t number : shared_->finished) {
      auto done = shared_->connections.find(number);
      done->second.join();
      shared_->connections.erase(done);
    }
    shared_->finished.clear();
    auto handle = static_cast<std::intptr_t>(client);
    const std::uint64_t number = shared_->nextConnection++;
    try {
      shared_->connections.emplace(number, std::thread([this, handle, number] {
                                     Serve(handle);
                                     std::lock_guard<std::mutex> done(shared_->mutex);
                                     shared_->finished.push_back(number);
                                   }));
      shared_->open.insert(handle);
    } catch (const std::system_error&) {
      // No thread for this connection: the client sees it closed instead of the server ending.
      CloseSocket(client);
    }
  }
}

void LoopbackServer::Serve(std::intptr_t handle) {
  Socket s = ToSocket(handle);
  Shared& shared = *shared_;
  bool reset = false;

  // Returns false when the stall ended because the client went away or the server stops.
  auto stall = [&](std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(shared.mutex);
    ++shared.stalled;
    shared.changed.notify_all();
    auto until = std::chrono::steady_clock::now() + limit;
    while (!shared.released && std::chrono::steady_clock::now() < until) {
      lock.unlock();
      bool gone = PeerGone(s);
      lock.lock();
      if (gone) return false;
      shared.changed.wait_for(lock, std::chrono::milliseconds(20));
    }
    return !shared.stopping;
  };

  [&] {
    // The request head, then as much body as Content-Length says.
    std::string data;
    std::size_t headEnd;
    char buffer[16384];
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
      int n = recv(s, buffer, sizeof(buffer), 0);
      if (n <= 0) return;
      data.append(buffer, static_cast<std::size_t>(n));
    }
    Request request;
    std::string head = data.substr(0, headEnd);
    std::size_t lineEnd = head.find("\r\n");
    request.requestLine = head.substr(0, lineEnd);
    std::size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
      std::size_t next = head.find("\r\n", pos);
      if (next == std::string::npos) next = head.size();
      request.headers.push_back(head.substr(pos, next - pos));
      pos = next + 2;
    }
    std::size_t sp1 = request.requestLine.find(' ');
    std::size_t sp2 = request.requestLine.rfind(' ');
    if (sp1 != std::string::npos && sp2 > sp1) {
      request.method = request.requestLine.substr(0, sp1);
      request.target = request.requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
      request.version = request.requestLine.substr(sp2 + 1);
    }
    std::size_t bodyLength = 0;
    std::string declared = request.Header("Content-Length");
    if (!declared.empty()) bodyLength = std::stoul(declared);
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < bodyLength) {
      int n = recv(s, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      request.body.append(buffer, static_cast<std::size_t>(n));
    }

    std::string path = request.target.substr(0, request.target.find('?'));
    std::shared_ptr<const Response> scripted;
    {
      std::lock_guard<std::mutex> lock(shared.mutex);
      auto script = shared.scripts.find(path);
      if (script != shared.scripts.end()) scripted = script->second;
      shared.requests.push_back(std::move(request));
    }
    if (!scripted) {
      scripted =
          std::make_shared<const Response>(Response::Text("not found", "HTTP/1.1 404 Not Found"));
    }
    const Response& response = *scripted;
    shared.changed.notify_all();

    if (response.stall == Stall::BeforeAnswer && !stall(response.stallLimit)) return;
    std::string head2 = response.statusLine + "\r\n";
    for (const std::string& line : response.headers) head2 += line + "\r\n";
    if (response.contentLength) {
      std::size_t total = 0;
      for (const Chunk& c : response.body) total += c.bytes.size();
      head2 += "Content-Length: " + std::to_string(total) + "\r\n";
    }
    head2 += "Connection: close\r\n\r\n";
    if (!SendAll(s, head2)) return;
    if (response.stall == Stall::AfterHeaders && !stall(response.stallLimit)) return;
    for (const Chunk& chunk : response.body) {
      if (chunk.delayBefore.count() > 0) {
        // Pacing only: a stopping server cuts the pause short.
        std::unique_lock<std::mutex> lock(shared.mutex);
        if (shared.changed.wait_for(lock, chunk.delayBefore, [&] { return shared.stopping; })) {
          return;
        }
      }
      if (!SendAll(s, chunk.bytes)) return;
    }
    reset = response.resetAfterBody;
  }();

  if (reset) {
    // A zero linger time makes closing send RST instead of FIN.
    linger abort{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
  } else {
    shutdown(s, kShutBoth);
  }
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.open.erase(handle);
  }
  CloseSocket(s);
}
