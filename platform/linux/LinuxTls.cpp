#include "platform/linux/LinuxTls.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

namespace raid::linuxport {

std::string socketErrorText(int code) {
    char buffer[256] = {};
    // The GNU strerror_r returns the text, which may or may not live in `buffer`.
    return ::strerror_r(code, buffer, sizeof buffer);
}

int waitForSocket(int fd, short events, TcpDeadline deadline) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return 0;
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (rc > 0) return 1;
        if (rc < 0 && errno != EINTR) return -1;
    }
}

namespace {

// OpenSSL's own socket BIO writes with write(), and a peer that has gone away would
// then end the whole program with SIGPIPE. This one sends with MSG_NOSIGNAL.
int socketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio))); }

bool retryable(int code) { return code == EAGAIN || code == EWOULDBLOCK || code == EINTR; }

int bioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::send(socketOf(bio), data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    if (n < 0 && retryable(errno)) BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int bioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(socketOf(bio), data, static_cast<std::size_t>(size), 0);
    if (n < 0 && retryable(errno)) BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long bioCtrl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* socketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "raid socket");
        if (m) {
            BIO_meth_set_write(m, bioWrite);
            BIO_meth_set_read(m, bioRead);
            BIO_meth_set_ctrl(m, bioCtrl);
            BIO_meth_set_create(m, bioCreate);
        }
        return m;
    }();
    return method;
}

bool addressLiteral(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// The most telling entry of OpenSSL's error queue, as words.
std::string queueReason() {
    const unsigned long code = ERR_peek_last_error();
    if (code == 0) return "protocol error";
    const char* reason = ERR_reason_error_string(code);
    if (reason) return reason;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

}  // namespace

struct TlsSession::State {
    int fd = -1;
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;

    // 1: the call succeeded; 0: the peer ended the stream; -1: failure, `error` says why.
    template <class Call>
    int drive(Call call, TcpDeadline deadline, std::string& error) {
        for (;;) {
            ERR_clear_error();
            errno = 0;
            const int rc = call();
            if (rc > 0) return 1;
            const int code = SSL_get_error(ssl, rc);
            if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
                const int ready = waitForSocket(fd, code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline);
                if (ready == 1) continue;
                error = socketErrorText(ready == 0 ? ETIMEDOUT : errno);
                return -1;
            }
            if (code == SSL_ERROR_ZERO_RETURN) return 0;
            if (code == SSL_ERROR_SYSCALL) {
                if (errno != 0) {
                    error = socketErrorText(errno);
                    return -1;
                }
                return 0;
            }
            // A peer that hangs up without saying goodbye in TLS: the stream ended all
            // the same (a line protocol only ever takes whole lines).
            if (code == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
                return 0;
            error = queueReason();
            return -1;
        }
    }
};

TlsSession::TlsSession(int fd) : state_(std::make_unique<State>()) { state_->fd = fd; }

TlsSession::~TlsSession() {
    if (state_->ssl) SSL_free(state_->ssl);
    if (state_->context) SSL_CTX_free(state_->context);
}

bool TlsSession::handshake(const std::string& hostName, TcpDeadline deadline, std::string& error) {
    State& s = *state_;
    const auto setUpFailed = [&] {
        error = "TLS set-up failed: " + queueReason();
        return false;
    };
    if (hostName.empty() || hostName.find('\0') != std::string::npos) {
        error = "TLS needs the server's name";
        return false;
    }
    ERR_clear_error();
    // A context of its own for every session: the trusted authorities are read
    // afresh, so SSL_CERT_FILE / SSL_CERT_DIR set while the program runs count.
    s.context = SSL_CTX_new(TLS_client_method());
    if (!s.context) return setUpFailed();
    SSL_CTX_set_min_proto_version(s.context, TLS1_2_VERSION);
    SSL_CTX_set_verify(s.context, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(s.context) != 1) return setUpFailed();
    s.ssl = SSL_new(s.context);
    if (!s.ssl) return setUpFailed();
    SSL_set_mode(s.ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);

    X509_VERIFY_PARAM* param = SSL_get0_param(s.ssl);
    if (addressLiteral(hostName)) {
        // An address is checked against the certificate's IP entries and sent
        // without SNI, which carries names only.
        if (X509_VERIFY_PARAM_set1_ip_asc(param, hostName.c_str()) != 1) return setUpFailed();
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set1_host(s.ssl, hostName.c_str()) != 1) return setUpFailed();
        // SSL_set_tlsext_host_name() spelled out: the macro's cast does not build here.
        if (SSL_ctrl(s.ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                     const_cast<char*>(hostName.c_str())) != 1)
            return setUpFailed();
    }

    BIO* bio = BIO_new(socketMethod());
    if (!bio) return setUpFailed();
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(s.fd)));
    SSL_set_bio(s.ssl, bio, bio);

    std::string why;
    const int rc = s.drive([&] { return SSL_connect(s.ssl); }, deadline, why);
    if (rc == 1) return true;
    const long verdict = SSL_get_verify_result(s.ssl);
    if (verdict != X509_V_OK)
        error = std::string("certificate verify failed: ") + X509_verify_cert_error_string(verdict);
    else if (rc == 0)
        error = "TLS handshake failed: the server closed the connection";
    else
        error = "TLS handshake failed: " + why;
    return false;
}

TlsSession::Io TlsSession::write(const char* bytes, std::size_t size, std::size_t& written, TcpDeadline deadline,
                                 std::string& error) {
    written = 0;
    const int rc = state_->drive([&] { return SSL_write_ex(state_->ssl, bytes, size, &written); }, deadline, error);
    return rc == 1 ? Io::done : rc == 0 ? Io::closed : Io::failed;
}

TlsSession::Io TlsSession::read(char* buffer, std::size_t size, std::size_t& got, TcpDeadline deadline,
                                std::string& error) {
    got = 0;
    const int rc = state_->drive([&] { return SSL_read_ex(state_->ssl, buffer, size, &got); }, deadline, error);
    return rc == 1 ? Io::done : rc == 0 ? Io::closed : Io::failed;
}

void TlsSession::closeNotify() {
    if (!state_->ssl) return;
    ERR_clear_error();
    SSL_shutdown(state_->ssl);
    ERR_clear_error();
}

}  // namespace raid::linuxport
