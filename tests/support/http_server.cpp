#include "support/http_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <list>
#include <mutex>
#include <thread>

#include "support/socket.h"

namespace launcher::test {
namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kSendBlock = 1024 * 1024;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

// Reads the request line and headers; false when the client sent no complete request.
bool ReadRequest(net::Socket socket, Request& request) {
  std::string head;
  char buffer[4096];
  size_t end;
  while ((end = head.find("\r\n\r\n")) == std::string::npos) {
    if (head.size() > kMaxHead) return false;
    const long got = net::Receive(socket, buffer, sizeof(buffer));
    if (got <= 0) return false;
    head.append(buffer, static_cast<size_t>(got));
  }
  head.resize(end + 2);
  size_t line_end = head.find("\r\n");
  const std::string first = head.substr(0, line_end);
  const size_t space1 = first.find(' ');
  const size_t space2 = first.find(' ', space1 + 1);
  if (space1 == std::string::npos || space2 == std::string::npos) return false;
  request.method = first.substr(0, space1);
  request.target = first.substr(space1 + 1, space2 - space1 - 1);
  request.path = request.target.substr(0, request.target.find('?'));
  for (size_t start = line_end + 2; start < head.size(); start = line_end + 2) {
    line_end = head.find("\r\n", start);
    const std::string line = head.substr(start, line_end - start);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    request.headers[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
  }
  return true;
}

// "bytes=N-" or "bytes=N-M": false when the header is absent or not of that form.
bool ParseRange(const std::string& header, uint64_t& first, std::optional<uint64_t>& last) {
  const std::string prefix = "bytes=";
  if (header.compare(0, prefix.size(), prefix) != 0) return false;
  const size_t dash = header.find('-', prefix.size());
  if (dash == std::string::npos || dash == prefix.size()) return false;
  const std::string from = header.substr(prefix.size(), dash - prefix.size());
  const std::string to = header.substr(dash + 1);
  const auto digits = [](const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(from) || (!to.empty() && !digits(to))) return false;
  first = std::stoull(from);
  last.reset();
  if (!to.empty()) last = std::stoull(to);
  return true;
}

// The bytes of a reply's body, from memory or streamed from a file.
class BodySource {
 public:
  explicit BodySource(const Reply& reply) : text_(reply.body) {
    if (!reply.file.empty()) {
      in_.open(reply.file, std::ios::binary);
      std::error_code ec;
      const auto size = std::filesystem::file_size(reply.file, ec);
      size_ = ec ? 0 : size;
      from_file_ = true;
    } else {
      size_ = text_.size();
    }
  }
  uint64_t size() const { return size_; }

  // Sends `count` bytes from `offset` on; false when the connection failed.
  bool Send(net::Socket socket, uint64_t offset, uint64_t count) {
    if (!from_file_) {
      return net::SendAll(socket, text_.data() + offset, static_cast<size_t>(count));
    }
    if (buffer_.empty()) buffer_.resize(kSendBlock);
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    while (count > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(count, buffer_.size()));
      in_.read(buffer_.data(), static_cast<std::streamsize>(want));
      const size_t got = static_cast<size_t>(in_.gcount());
      if (got == 0) return false;
      if (!net::SendAll(socket, buffer_.data(), got)) return false;
      count -= got;
    }
    return true;
  }

 private:
  const std::string& text_;
  std::ifstream in_;
  std::vector<char> buffer_;
  uint64_t size_ = 0;
  bool from_file_ = false;
};

}  // namespace

std::string Request::Header(std::string_view name) const {
  const auto it = headers.find(Lower(std::string(name)));
  return it == headers.end() ? "" : it->second;
}

struct HttpServer::State {
  struct Connection {
    net::Socket socket = net::kNoSocket;
    std::thread thread;
    bool done = false;
  };

  mutable std::mutex mutex;
  std::condition_variable stall_wake;
  std::map<std::string, Handler> routes;
  std::map<std::string, std::vector<Request>> records;
  int total = 0;
  bool stopping = false;
  bool released = false;
  std::list<Connection> connections;
  net::Socket listener = net::kNoSocket;
  uint16_t port = 0;
  std::thread acceptor;

  void AcceptLoop();
  void Serve(Connection* connection);
  void Answer(net::Socket socket, const Request& request, const Reply& reply);
  bool SendBody(net::Socket socket, BodySource& source, uint64_t offset, uint64_t count,
                const Reply& reply);
  void JoinFinished();
};

void HttpServer::State::AcceptLoop() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) return;
    }
    JoinFinished();
    if (!net::WaitReadable(listener, 50)) continue;
    const net::Socket socket = net::Accept(listener);
    if (socket == net::kNoSocket) continue;
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping) {
      net::Close(socket);
      return;
    }
    connections.emplace_back();
    Connection* connection = &connections.back();
    connection->socket = socket;
    connection->thread = std::thread([this, connection] { Serve(connection); });
  }
}

void HttpServer::State::JoinFinished() {
  std::list<Connection> finished;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = connections.begin(); it != connections.end();) {
      auto next = std::next(it);
      if (it->done) finished.splice(finished.end(), connections, it);
      it = next;
    }
  }
  for (Connection& connection : finished) connection.thread.join();
}

void HttpServer::State::Serve(Connection* connection) {
  const net::Socket socket = connection->socket;
  // A client ended the moment it connected may leave the connection neither speaking nor
  // closed (Wine keeps such a connection open): wait for the request only until the server
  // stops, so that it can always stop.
  bool asked = true;
  while (asked && !net::WaitReadable(socket, 100)) {
    std::lock_guard<std::mutex> lock(mutex);
    asked = !stopping;
  }
  Request request;
  if (asked && ReadRequest(socket, request)) {
    Handler handler;
    {
      std::lock_guard<std::mutex> lock(mutex);
      records[request.path].push_back(request);
      ++total;
      const auto it = routes.find(request.path);
      if (it != routes.end()) handler = it->second;
    }
    Reply reply;
    if (handler) {
      reply = handler(request);
    } else {
      reply.status = 404;
      reply.body = "not found";
    }
    Answer(socket, request, reply);
  }
  // End our side, then read until the client closes (briefly), so that closing the socket never
  // turns into a reset that could cost the client bytes it has not read yet.
  net::ShutdownSend(socket);
  char sink[4096];
  while (net::WaitReadable(socket, 200) && net::Receive(socket, sink, sizeof(sink)) > 0) {
  }
  std::lock_guard<std::mutex> lock(mutex);
  net::Close(socket);
  connection->socket = net::kNoSocket;
  connection->done = true;
}

void HttpServer::State::Answer(net::Socket socket, const Request& request, const Reply& reply) {
  if (reply.silent) {
    std::unique_lock<std::mutex> lock(mutex);
    stall_wake.wait(lock, [this] { return stopping; });
    return;
  }
  BodySource source(reply);
  const uint64_t size = source.size();
  int status = reply.status;
  uint64_t offset = 0;
  uint64_t count = size;
  std::string extra;

  uint64_t first = 0;
  std::optional<uint64_t> last;
  if (status == 200 && reply.ranges && ParseRange(request.Header("range"), first, last)) {
    if (first >= size) {
      status = 416;
      count = 0;
      extra = "Content-Range: bytes */" + std::to_string(size) + "\r\n";
    } else {
      const uint64_t end = std::min<uint64_t>(last.value_or(size - 1), size - 1);
      status = 206;
      offset = first;
      count = end >= first ? end - first + 1 : 0;
      extra = "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(end) + "/" +
              std::to_string(size) + "\r\n";
    }
  }

  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
  if (reply.content_length) {
    head += "Content-Length: " + std::to_string(reply.announced_length.value_or(count)) + "\r\n";
  }
  head += "Connection: close\r\n" + extra;
  for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
  head += "\r\n";
  if (!net::SendAll(socket, head.data(), head.size())) return;
  if (request.method == "HEAD") return;
  SendBody(socket, source, offset, count, reply);
}

bool HttpServer::State::SendBody(net::Socket socket, BodySource& source, uint64_t offset,
                                 uint64_t count, const Reply& reply) {
  uint64_t sent = 0;
  if (reply.stall_after && *reply.stall_after < count) {
    const uint64_t before = *reply.stall_after;
    if (!source.Send(socket, offset, before)) return false;
    sent = before;
    std::unique_lock<std::mutex> lock(mutex);
    stall_wake.wait(lock, [this] { return stopping || released; });
    if (stopping) return false;
  }
  uint64_t end = count;
  if (reply.drop_after) end = std::min(end, *reply.drop_after);
  if (end > sent && !source.Send(socket, offset + sent, end - sent)) return false;
  return true;
}

HttpServer::HttpServer() : state_(std::make_unique<State>()) {
  state_->listener = net::ListenLoopback(state_->port);
  if (state_->listener == net::kNoSocket) {
    ADD_FAILURE() << "the test HTTP server cannot listen on 127.0.0.1";
    return;
  }
  state_->acceptor = std::thread([state = state_.get()] { state->AcceptLoop(); });
}

HttpServer::~HttpServer() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
    for (const State::Connection& connection : state_->connections) {
      if (connection.socket != net::kNoSocket) net::Shutdown(connection.socket);
    }
  }
  state_->stall_wake.notify_all();
  if (state_->acceptor.joinable()) state_->acceptor.join();
  for (State::Connection& connection : state_->connections) connection.thread.join();
  if (state_->listener != net::kNoSocket) net::Close(state_->listener);
}

uint16_t HttpServer::port() const { return state_->port; }

std::string HttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + std::string(path);
}

void HttpServer::Route(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->routes[path] = std::move(handler);
}

void HttpServer::Route(const std::string& path, Reply reply) {
  Route(path, Handler([reply = std::move(reply)](const Request&) { return reply; }));
}

void HttpServer::Serve(const std::string& path, std::string body) {
  Reply reply;
  reply.body = std::move(body);
  Route(path, std::move(reply));
}

void HttpServer::ServeFile(const std::string& path, const std::filesystem::path& file) {
  Reply reply;
  reply.file = file;
  Route(path, std::move(reply));
}

void HttpServer::Status(const std::string& path, int status, std::string body) {
  Reply reply;
  reply.status = status;
  reply.body = std::move(body);
  Route(path, std::move(reply));
}

void HttpServer::Redirect(const std::string& path, const std::string& target_path, int status) {
  Reply reply;
  reply.status = status;
  reply.headers.emplace_back("Location", Url(target_path));
  Route(path, std::move(reply));
}

void HttpServer::Remove(const std::string& path) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->routes.erase(path);
}

int HttpServer::Count(const std::string& path) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const auto it = state_->records.find(path);
  return it == state_->records.end() ? 0 : static_cast<int>(it->second.size());
}

int HttpServer::TotalCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->total;
}

std::vector<std::string> HttpServer::Ranges(const std::string& path) const {
  std::vector<std::string> ranges;
  for (const Request& request : Requests(path)) ranges.push_back(request.Header("range"));
  return ranges;
}

std::vector<Request> HttpServer::Requests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const auto it = state_->records.find(path);
  return it == state_->records.end() ? std::vector<Request>{} : it->second;
}

void HttpServer::ClearRecords() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->records.clear();
  state_->total = 0;
}

std::vector<Misbehaviour> Misbehaviours(const std::string& body) {
  constexpr uint64_t kMiB = 1024 * 1024;
  std::vector<Misbehaviour> cases(5);
  cases[0] = {"never answers", Reply(), true};
  cases[0].reply.silent = true;
  cases[1] = {"stalls after the first MiB", Reply(), true};
  cases[1].reply.body = body;
  cases[1].reply.stall_after = kMiB;
  cases[2] = {"closes after the first MiB", Reply(), false};
  cases[2].reply.body = body;
  cases[2].reply.drop_after = kMiB;
  cases[3] = {"answers 500", Reply(), false};
  cases[3].reply.status = 500;
  cases[3].reply.body = "server fault";
  cases[4] = {"answers 404", Reply(), false};
  cases[4].reply.status = 404;
  cases[4].reply.body = "not found";
  return cases;
}

void HttpServer::ReleaseStalls() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->released = true;
  }
  state_->stall_wake.notify_all();
}

}  // namespace launcher::test
