// The few socket calls the tests' HTTP server needs, over BSD sockets or Winsock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace launcher::test::net {

using Socket = intptr_t;
constexpr Socket kNoSocket = -1;

// A socket listening on 127.0.0.1 at an ephemeral port (stored in `port`), or kNoSocket.
Socket ListenLoopback(uint16_t& port);
// True when `socket` has a connection or data to read within `timeout_ms`.
bool WaitReadable(Socket socket, int timeout_ms);
// The accepted connection gives up a send that has waited kSendTimeoutMs for the peer to read:
// a client that stops reading without closing (WinHTTP under Wine keeps a request's connection
// open after the request is closed) must not hold the server's thread, whose join would then
// never end.
Socket Accept(Socket listener);
constexpr int kSendTimeoutMs = 10000;
// Bytes received, 0 at the end of the stream, negative on failure.
long Receive(Socket socket, char* buffer, size_t size);
// Sends everything; false when the connection failed.
bool SendAll(Socket socket, const char* data, size_t size);
// Ends both directions, so that a thread blocked on the socket wakes up.
void Shutdown(Socket socket);
// Ends the sending direction: the peer sees the end of the stream.
void ShutdownSend(Socket socket);
void Close(Socket socket);

}  // namespace launcher::test::net
