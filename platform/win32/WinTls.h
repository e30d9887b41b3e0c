// TLS for the Windows TCP connection (Schannel), and the socket waits both share.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/TcpPort.h"

namespace raid::win32 {

// The system's text for a Winsock, Win32 or security status code, without the line
// end FormatMessage appends.
std::string systemErrorText(unsigned long code);

// A connected non-blocking socket and the flag abort() raises. Waits look at the flag
// between short select() slices, so an abort from any thread ends them at once even
// where shutting the socket down does not wake a select() of another thread.
struct SocketLink {
    SOCKET socket = INVALID_SOCKET;
    std::atomic<bool> aborted{false};
};

enum class WaitResult { ready, timedOut, failed };
// Waits until `link`'s socket can be read (or written, `forWrite`) or `deadline`
// passes; `error` is set unless the socket is ready.
WaitResult waitForSocket(const SocketLink& link, bool forWrite, TcpDeadline deadline, std::string& error);
// The text of a wait that ran out of time.
std::string timedOutText();

// One client TLS session over a socket it does not own. Every step that needs the
// peer waits with waitForSocket() until the caller's deadline, so a peer that stops in
// the middle of a record or of the handshake is bounded like a plain one.
class TlsSession {
public:
    explicit TlsSession(SocketLink& link);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Handshake with the peer, whose certificate must chain to a trusted authority and
    // name `hostName`.
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

}  // namespace raid::win32
