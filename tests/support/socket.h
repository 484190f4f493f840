// TCP sockets for the tests' servers on 127.0.0.1, the same calls on every system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testing_support {

using SocketHandle = std::uintptr_t;
const SocketHandle kNoSocket = ~SocketHandle(0);

// A socket listening on 127.0.0.1 on a free port, which goes to `port`; kNoSocket on failure.
SocketHandle listenOnLoopback(int& port);

// A socket bound to a free port on 127.0.0.1 that does not listen, so that connecting to
// `port` is refused for as long as it lives.
SocketHandle bindWithoutListening(int& port);

// A connection to `port` on 127.0.0.1; kNoSocket when it cannot be made.
SocketHandle connectToLoopback(int port);

// The next connection on `listener`; kNoSocket when none could be taken.
SocketHandle acceptConnection(SocketHandle listener);

// True when `socket` has something to read (or has been closed) within `timeoutMs`.
bool waitReadable(SocketHandle socket, int timeoutMs);

// recv and send; the byte count, or 0 or less when the connection is gone. A send to a
// closed connection fails instead of raising SIGPIPE.
long receiveSome(SocketHandle socket, char* buffer, size_t size);
long sendSome(SocketHandle socket, const char* data, size_t size);

void closeSocket(SocketHandle socket);

}  // namespace testing_support
