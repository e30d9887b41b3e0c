// TLS for the Linux TCP connection (OpenSSL), and the socket wait both share.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/TcpPort.h"

namespace raid::linuxport {

// The system's text for an errno value.
std::string socketErrorText(int code);
// poll() `fd` for `events` until `deadline`: 1 ready, 0 time is up, -1 error (errno set).
int waitForSocket(int fd, short events, TcpDeadline deadline);

// One client TLS session over a connected non-blocking socket it does not own.
// Every OpenSSL call that has to wait for the socket waits with poll() until the
// caller's deadline, so a peer that stops in the middle of a record or of the
// handshake is bounded like a plain one. Shutting the socket down (abort) ends
// such a wait: the next read sees the end of the stream.
class TlsSession {
public:
    explicit TlsSession(int fd);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Handshake with the peer, which must prove to be `hostName`.
    bool handshake(const std::string& hostName, TcpDeadline deadline, std::string& error);

    enum class Io { done, closed, failed };
    // Writes some of `bytes` (at least one), `written` says how many.
    Io write(const char* bytes, std::size_t size, std::size_t& written, TcpDeadline deadline, std::string& error);
    // Reads what has arrived (at least one byte), `got` says how many.
    Io read(char* buffer, std::size_t size, std::size_t& got, TcpDeadline deadline, std::string& error);
    // Tells the peer the session ends, without waiting for anything.
    void closeNotify();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace raid::linuxport
