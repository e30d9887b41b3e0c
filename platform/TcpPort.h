// The TCP socket port: one outgoing stream connection at a time, line by line.
//
// The mail client is its only user. Every wait carries a deadline, so a peer that
// accepts the connection and then says nothing cannot hold the engine thread, and a
// peer that sends one endless line cannot make us buffer without bound. Errors come
// back as the system's own text ("Connection refused", "Name or service not known"),
// which is what a user or an administrator can act on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace raid {

// Socket waits are real time whatever clock the engine runs on: a peer does not
// follow a virtual clock.
using TcpDeadline = std::chrono::steady_clock::time_point;

// The longest line receiveLine() takes, terminator not counted. A text protocol's
// reply line is a few hundred bytes; anything near this is a broken or hostile peer.
constexpr std::size_t kTcpMaxLineBytes = 64 * 1024;

class TcpConnection {
public:
    virtual ~TcpConnection() = default;

    // Writes all of `bytes`, waiting for room until `deadline`. false: nothing more
    // can be relied on, `error` says why.
    virtual bool send(std::string_view bytes, TcpDeadline deadline, std::string& error) = 0;
    // The next line the peer sent, without its LF and without a CR right before the
    // LF. Waits until `deadline` for the whole line. false: `error` says why (time
    // ran out, the peer closed the connection, the line grew past kTcpMaxLineBytes,
    // a socket error); a connection that failed this way should only be closed.
    virtual bool receiveLine(std::string& line, TcpDeadline deadline, std::string& error) = 0;
    // Closes the connection (idempotent); later calls fail.
    virtual void close() = 0;
    // From any thread: ends a wait in send or receiveLine at once (they fail), for a
    // program that is closing while its peer says nothing.
    virtual void abort() {}
    virtual bool isOpen() const = 0;
    // This end's address as numeric text ("192.0.2.1", "2001:db8::1"); "" when
    // unknown. A peer that wants a name we do not have takes it as a literal.
    virtual std::string localAddress() const { return {}; }

    // Switches the stream to TLS as a client, before the first byte (port 465 style)
    // or after a protocol's own "start TLS" exchange. The peer's certificate must
    // chain to a trusted authority (the system's, or SSL_CERT_FILE / SSL_CERT_DIR)
    // and name `hostName` (a host name, or an address for an address literal).
    // The handshake waits until `deadline`; abort() ends it like any other wait.
    // Bytes the peer sent in clear that are still unread when the switch is asked
    // for fail it: they came from outside the protected stream and could pose as
    // its first reply. false: `error` says why; the connection should only be closed.
    virtual bool startTls(const std::string& hostName, TcpDeadline deadline, std::string& error) {
        (void)hostName;
        (void)deadline;
        error = "TLS is not available";
        return false;
    }
    // Whether the stream is protected by TLS now.
    virtual bool isTls() const { return false; }
};

class TcpPort {
public:
    virtual ~TcpPort() = default;

    // Resolves `host` and connects to `port`, trying each address the name has, all
    // within `timeout`. nullptr when no address took the connection; `error` holds
    // the reason of the last attempt.
    virtual std::unique_ptr<TcpConnection> connect(const std::string& host, std::uint16_t port,
                                                   std::chrono::milliseconds timeout, std::string& error) = 0;
    // This machine's name as it introduces itself to a peer: the fully qualified one
    // when the machine has one, else the bare name ("" when unknown).
    virtual std::string localHostName() = 0;
};

}  // namespace raid
