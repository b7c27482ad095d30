// An HTTP server on 127.0.0.1 for integration tests, scripted per request path.
//
//   LoopbackServer server;                        // listens on a free port, own thread
//   LoopbackServer::Response r;
//   r.headers = {"Set-Cookie: a=1", "Set-Cookie: b=2"};
//   r.body = {{"hello "}, {"world", std::chrono::milliseconds(50)}};  // two chunks, paced
//   server.On("/file", r);
//   ... fetch server.Url(u"/file") ...
//   server.Requests()[0].Header("User-Agent")     // what went on the wire
//
// A response can leave out Content-Length (the body then ends when the server closes), stall
// before answering or after its headers until Release() or until the client goes away
// (WaitForStall() tells the test the server got there), or reset the connection after its body
// chunks. Paths without a script get a 404 with a short body. Every connection is answered on
// its own thread and closed after one response.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
 public:
  struct Chunk {
    std::string bytes;
    std::chrono::milliseconds delayBefore{0};  // pause before this chunk is sent
  };

  enum class Stall { None, BeforeAnswer, AfterHeaders };

  struct Response {
    std::string statusLine = "HTTP/1.1 200 OK";
    std::vector<std::string> headers;  // whole lines without CR LF, e.g. "Content-Type: x/y"
    std::vector<Chunk> body;
    bool contentLength = true;  // add "Content-Length" for the whole body
    Stall stall = Stall::None;
    // A stall ends by itself after this long, so a client that never gives up cannot hang a test.
    std::chrono::milliseconds stallLimit{30000};
    bool resetAfterBody = false;  // abort the connection (RST) after the body chunks

    // A response with one body chunk.
    static Response Text(std::string body, std::string statusLine = "HTTP/1.1 200 OK");
  };

  // One request as it arrived.
  struct Request {
    std::string requestLine;  // "GET /path HTTP/1.0"
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::string> headers;  // the header lines without CR LF, in order
    std::string body;

    // The value of the first header of that name (case-insensitive), trimmed; empty when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
  };

  // Listens on `port`, or on a free port when it is 0.
  explicit LoopbackServer(std::uint16_t port = 0);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t Port() const { return port_; }
  // "http://127.0.0.1:PORT" followed by the path.
  std::string Url(const std::string& path) const;
  std::u16string WideUrl(const std::string& path) const;

  // Scripts the response for requests whose target (without the query) is `path`.
  void On(const std::string& path, Response response);

  // Lets every stalled response go on (and every later one pass its stall).
  void Release();
  // Waits until a response is stalled; false when none got there within the bound.
  bool WaitForStall(std::chrono::milliseconds bound = std::chrono::seconds(10));
  // Waits until `count` requests have arrived; false when they did not within the bound.
  bool WaitForRequests(std::size_t count,
                       std::chrono::milliseconds bound = std::chrono::seconds(10));

  std::vector<Request> Requests() const;

  // The gzip form of the bytes (for scripting compressed bodies).
  static std::string Gzip(const std::string& bytes);

 private:
  struct Shared;

  void AcceptLoop();
  void Serve(std::intptr_t socket);

  std::shared_ptr<Shared> shared_;
  std::intptr_t listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread acceptor_;
};
