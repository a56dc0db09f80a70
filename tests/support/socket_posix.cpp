#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "support/socket.h"

namespace launcher::test::net {

Socket ListenLoopback(uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(fd, 64) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return fd;
}

bool WaitReadable(Socket socket, int timeout_ms) {
  pollfd entry{static_cast<int>(socket), POLLIN, 0};
  return poll(&entry, 1, timeout_ms) > 0;
}

Socket Accept(Socket listener) {
  const int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return kNoSocket;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  const timeval send_timeout{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof(send_timeout));
  return fd;
}

long Receive(Socket socket, char* buffer, size_t size) {
  for (;;) {
    const ssize_t got = recv(static_cast<int>(socket), buffer, size, 0);
    if (got < 0 && errno == EINTR) continue;
    return static_cast<long>(got);
  }
}

bool SendAll(Socket socket, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

void Shutdown(Socket socket) { shutdown(static_cast<int>(socket), SHUT_RDWR); }
void ShutdownSend(Socket socket) { shutdown(static_cast<int>(socket), SHUT_WR); }
void Close(Socket socket) { close(static_cast<int>(socket)); }

}  // namespace launcher::test::net
