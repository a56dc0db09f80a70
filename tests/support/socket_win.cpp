#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "support/socket.h"

namespace launcher::test::net {
namespace {

void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

SOCKET Native(Socket socket) { return static_cast<SOCKET>(socket); }

}  // namespace

Socket ListenLoopback(uint16_t& port) {
  StartWinsock();
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  // Keep another program from binding the same port while the tests use it.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof(exclusive));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof(address);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(s, 64) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return static_cast<Socket>(s);
}

bool WaitReadable(Socket socket, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Native(socket), &set);
  timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &timeout) > 0;
}

Socket Accept(Socket listener) {
  const SOCKET s = accept(Native(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  const DWORD send_timeout = kSendTimeoutMs;
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send_timeout),
             sizeof(send_timeout));
  return static_cast<Socket>(s);
}

long Receive(Socket socket, char* buffer, size_t size) {
  const int want = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
  return recv(Native(socket), buffer, want, 0);
}

bool SendAll(Socket socket, const char* data, size_t size) {
  while (size > 0) {
    const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
    const int sent = send(Native(socket), data, chunk, 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

void Shutdown(Socket socket) { shutdown(Native(socket), SD_BOTH); }
void ShutdownSend(Socket socket) { shutdown(Native(socket), SD_SEND); }
void Close(Socket socket) { closesocket(Native(socket)); }

}  // namespace launcher::test::net
