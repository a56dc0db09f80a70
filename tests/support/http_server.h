// A small HTTP/1.1 server for tests, listening on 127.0.0.1 only (an ephemeral port), with its own
// threads; it runs on Linux and on Windows (also under Wine).
//
// Usage:
//   launcher::test::HttpServer server;                      // listening once constructed
//   server.Serve("/file.bin", bytes);                       // 200, or 206 for "Range: bytes=N-"
//   server.ServeFile("/big.bin", path_on_disk);             // the same, streamed from disk
//   server.Status("/missing", 404);                         // any status with a short body
//   server.Redirect("/latest", "/file.bin");                // 302 with Location: <Url(target)>
//   Reply odd; odd.body = bytes; odd.drop_after = 100;      // any behaviour, see Reply
//   server.Route("/odd", odd);
//   server.Route("/dyn", [](const Request& r) { Reply a; a.body = r.Header("user-agent");
//                                               return a; });
//   http.Get(server.Url("/file.bin"), ...);                 // "http://127.0.0.1:PORT/file.bin"
//   server.Count("/file.bin");                              // requests seen for that path
//   server.Ranges("/file.bin");                             // their Range headers ("" for none)
//   server.Requests("/file.bin");                           // the whole requests, in order
//
// Every request is recorded (and counted) before its answer is sent, so once a client call
// returns, the counts include it. Paths are matched without their query ("?..."), exactly;
// an unknown path answers 404. Each answer carries "Connection: close" and the connection is
// closed after it, which also ends a body sent without Content-Length.
//
// Range: a 200 reply with `ranges` set answers a "Range: bytes=N-" (or "bytes=N-M") request
// with 206 and "Content-Range: bytes N-M/SIZE" and the bytes from N on; with N at or past the
// end it answers 416 ("Content-Range: bytes */SIZE"). Clear `ranges` for a server that ignores
// the Range header (a 200 with the whole body).
//
// Misbehaviour, all counted in body bytes of this answer (after the range is applied):
//   drop_after   sends that many bytes, then closes the connection (a transfer cut halfway);
//   stall_after  sends that many bytes, then waits until ReleaseStalls() or the server stops,
//                then sends the rest (stop the client through its sink: its own time-out is long;
//                once released, no answer of this server stalls any more);
//   silent       records the request, then sends nothing at all until the server stops (a
//                server that accepts and never answers);
//   content_length = false   no Content-Length, the body ends when the connection closes;
//   announced_length         the Content-Length to send instead of the true one (for example
//                            fewer bytes than the body has: the whole body is sent anyway).
//
// Routes may be changed while the server runs (from the test's thread); the destructor stops
// the server, wakes stalled answers and joins every thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace launcher::test {

struct Request {
  std::string method;  // "GET"
  std::string target;  // as sent: path and query
  std::string path;    // target without its query
  std::map<std::string, std::string> headers;  // names in lower case

  // The value of a header (name in any case), "" when absent.
  std::string Header(std::string_view name) const;
};

struct Reply {
  int status = 200;
  std::string body;
  std::filesystem::path file;  // when not empty, the body is this file's bytes, streamed
  std::vector<std::pair<std::string, std::string>> headers;  // extra headers, sent as given
  bool ranges = true;                       // answer Range requests of a 200 with 206/416
  bool content_length = true;               // false: close-delimited body
  std::optional<uint64_t> announced_length;  // Content-Length to announce instead of the size
  std::optional<uint64_t> drop_after;        // close after this many body bytes
  std::optional<uint64_t> stall_after;       // wait after this many body bytes
  bool silent = false;                       // never answer
};

using Handler = std::function<Reply(const Request&)>;

class HttpServer {
 public:
  HttpServer();   // binds 127.0.0.1:0 and starts accepting; aborts the test when it cannot
  ~HttpServer();  // stops and joins everything
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  uint16_t port() const;
  // "http://127.0.0.1:PORT" + path (path starts with '/').
  std::string Url(std::string_view path) const;

  void Route(const std::string& path, Reply reply);
  void Route(const std::string& path, Handler handler);
  void Serve(const std::string& path, std::string body);  // 200 with ranges
  void ServeFile(const std::string& path, const std::filesystem::path& file);
  void Status(const std::string& path, int status, std::string body = "");
  void Redirect(const std::string& path, const std::string& target_path, int status = 302);
  void Remove(const std::string& path);

  int Count(const std::string& path) const;
  int TotalCount() const;
  std::vector<std::string> Ranges(const std::string& path) const;
  std::vector<Request> Requests(const std::string& path) const;
  void ClearRecords();

  // Lets every stalled answer carry on; from now on stall_after is ignored.
  void ReleaseStalls();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The ways a server misbehaves, for tables of tests; `hangs` when the answer never ends by itself,
// so that only a stop ends the client's call.
struct Misbehaviour {
  const char* name;
  Reply reply;
  bool hangs;
};

// Accepts and never answers; stalls after the first MiB of `body`; closes after the first MiB;
// answers 500; answers 404. `body` should be longer than 1 MiB.
std::vector<Misbehaviour> Misbehaviours(const std::string& body);

}  // namespace launcher::test
