#include "platform/win32/WinTcp.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/win32/WinPlatform.h"
#include "platform/win32/WinTls.h"

namespace raid::win32 {
namespace {

using Clock = std::chrono::steady_clock;

std::string errorText(int code) { return systemErrorText(static_cast<unsigned long>(code)); }

// Winsock is started once for the whole program and left running until it ends.
bool winsockStarted() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// getaddrinfo() has no time limit of its own. It runs on a detached thread; if the
// deadline passes first, the thread frees its result itself when it finally returns.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    int rc = 0;
    addrinfo* result = nullptr;
};

struct AddrInfoFree {
    void operator()(addrinfo* list) const {
        if (list) ::freeaddrinfo(list);
    }
};
using AddrList = std::unique_ptr<addrinfo, AddrInfoFree>;

AddrList resolve(const std::string& host, std::uint16_t port, TcpDeadline deadline, std::string& error,
                 int extraFlags = 0) {
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, service = std::to_string(port), extraFlags] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        // No AI_ADDRCONFIG: Windows does not count the loopback interface for it, so a
        // machine without a network could not reach a server on itself by name. An
        // address family the machine has no route for fails at once and the next is tried.
        hints.ai_flags = AI_NUMERICSERV | extraFlags;
        addrinfo* result = nullptr;
        const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
        std::lock_guard<std::mutex> lock(lookup->mutex);
        if (lookup->abandoned) {
            if (rc == 0) ::freeaddrinfo(result);
        } else {
            lookup->rc = rc;
            lookup->result = rc == 0 ? result : nullptr;
        }
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        lookup->abandoned = true;
        error = timedOutText();
        return nullptr;
    }
    // getaddrinfo answers with a Winsock error code, which the system has words for.
    if (lookup->rc != 0) {
        error = errorText(lookup->rc);
        return nullptr;
    }
    if (!lookup->result) error = errorText(WSAHOST_NOT_FOUND);
    return AddrList(lookup->result);
}

class WinTcpConnection final : public TcpConnection {
public:
    explicit WinTcpConnection(SOCKET socket) { link_.socket = socket; }
    ~WinTcpConnection() override { close(); }
    WinTcpConnection(const WinTcpConnection&) = delete;
    WinTcpConnection& operator=(const WinTcpConnection&) = delete;

    bool send(std::string_view bytes, TcpDeadline deadline, std::string& error) override {
        if (!usable(error)) return false;
        while (tls_ && !bytes.empty()) {
            std::size_t written = 0;
            std::string why;
            const TlsSession::Io io = tls_->write(bytes.data(), bytes.size(), written, deadline, why);
            if (io == TlsSession::Io::done) {
                bytes.remove_prefix(written);
                continue;
            }
            return fail(io == TlsSession::Io::closed ? errorText(WSAECONNRESET) : why, error);
        }
        while (!bytes.empty()) {
            if (link_.aborted) return fail(errorText(WSAEINTR), error);
            const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
            const int n = ::send(link_.socket, bytes.data(), chunk, 0);
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            const int code = ::WSAGetLastError();
            if (n == SOCKET_ERROR && code == WSAEWOULDBLOCK) {
                std::string why;
                if (waitForSocket(link_, true, deadline, why) == WaitResult::ready) continue;
                return fail(why, error);
            }
            return fail(errorText(n == SOCKET_ERROR ? code : WSAECONNRESET), error);
        }
        return true;
    }

    bool receiveLine(std::string& line, TcpDeadline deadline, std::string& error) override {
        if (!usable(error)) return false;
        for (;;) {
            const std::size_t lf = buffer_.find('\n', scanned_);
            if (lf != std::string::npos) {
                std::size_t end = lf;
                if (end > 0 && buffer_[end - 1] == '\r') --end;
                if (end > kTcpMaxLineBytes) return fail(tooLongText(), error);
                line.assign(buffer_, 0, end);
                buffer_.erase(0, lf + 1);
                scanned_ = 0;
                return true;
            }
            scanned_ = buffer_.size();
            // One byte of slack for the CR that may still come before the LF.
            if (buffer_.size() > kTcpMaxLineBytes + 1) return fail(tooLongText(), error);

            char chunk[4096];
            if (tls_) {
                // Schannel may hold decrypted bytes the socket no longer shows, so it
                // is asked first and says itself when it has to wait.
                std::size_t got = 0;
                std::string why;
                const TlsSession::Io io = tls_->read(chunk, sizeof chunk, got, deadline, why);
                if (io == TlsSession::Io::closed) return fail("Connection closed by the peer", error);
                if (io == TlsSession::Io::failed) return fail(why, error);
                buffer_.append(chunk, got);
                continue;
            }
            std::string why;
            if (waitForSocket(link_, false, deadline, why) != WaitResult::ready) return fail(why, error);
            if (link_.aborted) return fail(errorText(WSAEINTR), error);
            const int n = ::recv(link_.socket, chunk, sizeof chunk, 0);
            if (n > 0) {
                buffer_.append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0) {
                return fail("Connection closed by the peer", error);
            } else if (const int code = ::WSAGetLastError(); code != WSAEWOULDBLOCK) {
                return fail(errorText(code), error);
            }
        }
    }

    bool startTls(const std::string& hostName, TcpDeadline deadline, std::string& error) override {
        if (!usable(error)) return false;
        if (tls_) return fail("TLS is already on", error);
        if (!buffer_.empty())
            return fail("The server sent data in clear text before the TLS handshake", error);
        auto session = std::make_unique<TlsSession>(link_);
        if (!session->handshake(hostName, deadline, error)) return fail(error, error);
        tls_ = std::move(session);
        return true;
    }

    bool isTls() const override { return tls_ != nullptr; }

    void close() override {
        if (tls_) {
            // A goodbye in TLS when the stream is still sound; never a wait for it.
            if (link_.socket != INVALID_SOCKET && broken_.empty()) tls_->closeNotify();
            tls_.reset();
        }
        {
            std::lock_guard<std::mutex> lock(socketMu_);
            if (link_.socket != INVALID_SOCKET) ::closesocket(link_.socket);
            link_.socket = INVALID_SOCKET;
        }
        buffer_.clear();
        scanned_ = 0;
    }

    void abort() override {
        // The flag ends a wait within one select() slice; shutting the socket down
        // also tells the peer at once. The socket stays ours until the owner closes
        // it, so it can never be another connection's by then.
        link_.aborted = true;
        std::lock_guard<std::mutex> lock(socketMu_);
        if (link_.socket != INVALID_SOCKET) ::shutdown(link_.socket, SD_BOTH);
    }

    bool isOpen() const override { return link_.socket != INVALID_SOCKET; }

    std::string localAddress() const override {
        sockaddr_storage local{};
        int size = sizeof local;
        if (link_.socket == INVALID_SOCKET ||
            ::getsockname(link_.socket, reinterpret_cast<sockaddr*>(&local), &size) != 0)
            return {};
        char text[INET6_ADDRSTRLEN] = {};
        if (local.ss_family == AF_INET) {
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(&local);
            if (!::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text)) return {};
        } else if (local.ss_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&local);
            if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
                if (!::inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text)) return {};
            } else if (!::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) {
                return {};
            }
        } else {
            return {};
        }
        return text;
    }

private:
    static std::string tooLongText() {
        return "Line longer than " + std::to_string(kTcpMaxLineBytes) + " bytes";
    }

    bool usable(std::string& error) const {
        if (link_.socket == INVALID_SOCKET) {
            error = errorText(WSAENOTCONN);
            return false;
        }
        if (!broken_.empty()) {
            error = broken_;
            return false;
        }
        return true;
    }

    // A failed read or write leaves the stream at an unknown place: nothing after it
    // may be taken for the peer's next line.
    bool fail(std::string text, std::string& error) {
        broken_ = text;
        buffer_.clear();
        scanned_ = 0;
        error = std::move(text);
        return false;
    }

    SocketLink link_;
    std::mutex socketMu_;  // close() against abort() from another thread
    std::string buffer_;
    std::size_t scanned_ = 0;  // bytes of buffer_ known to hold no LF
    std::string broken_;
    std::unique_ptr<TlsSession> tls_;  // set once the handshake succeeded
};

}  // namespace

WinTcpPort::WinTcpPort() { winsockStarted(); }

std::unique_ptr<TcpConnection> WinTcpPort::connect(const std::string& host, std::uint16_t port,
                                                   std::chrono::milliseconds timeout, std::string& error) {
    const TcpDeadline deadline = Clock::now() + timeout;
    if (!winsockStarted()) {
        error = errorText(WSANOTINITIALISED);
        return nullptr;
    }
    if (host.empty() || host.find('\0') != std::string::npos) {
        error = errorText(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    AddrList addresses = resolve(host, port, deadline, error);
    if (!addresses) return nullptr;

    error = errorText(WSAECONNREFUSED);
    for (const addrinfo* a = addresses.get(); a; a = a->ai_next) {
        // Not inherited: a program this one starts must not hold the connection open.
        const SOCKET s = ::WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0,
                                      WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
        if (s == INVALID_SOCKET) {
            error = errorText(::WSAGetLastError());
            continue;
        }
        u_long nonBlocking = 1;
        if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
            error = errorText(::WSAGetLastError());
            ::closesocket(s);
            continue;
        }
        int code = 0;
        if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            code = ::WSAGetLastError();
            if (code == WSAEWOULDBLOCK) {
                SocketLink link;
                link.socket = s;
                std::string why;
                const WaitResult ready = waitForSocket(link, true, deadline, why);
                if (ready != WaitResult::ready) {
                    error = why;
                    ::closesocket(s);
                    if (ready == WaitResult::timedOut) return nullptr;  // no time left for another address
                    continue;
                }
                int soError = 0;
                int length = sizeof soError;
                if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0)
                    soError = ::WSAGetLastError();
                code = soError;
            }
        }
        if (code == 0) {
            error.clear();
            return std::make_unique<WinTcpConnection>(s);
        }
        error = errorText(code);
        ::closesocket(s);
    }
    return nullptr;
}

std::string WinTcpPort::localHostName() {
    char name[256] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size) || size == 0) {
        size = sizeof name;
        if (!::GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return {};
    }
    const std::string bare(name, size);
    if (bare.empty() || bare.find('.') != std::string::npos || !winsockStarted()) return bare;
    // A machine outside a domain may still have a full name in the DNS. The lookup is
    // bounded: a resolver that does not answer leaves the bare name.
    std::string error;
    const AddrList list = resolve(bare, 0, Clock::now() + std::chrono::seconds(3), error, AI_CANONNAME);
    if (list && list->ai_canonname && std::strchr(list->ai_canonname, '.')) return list->ai_canonname;
    return bare;
}

std::unique_ptr<TcpPort> makeTcpPort() { return std::make_unique<WinTcpPort>(); }

}  // namespace raid::win32
