#include "platform/win32/WinTls.h"

#include <windows.h>
#include <wincrypt.h>
#include <ws2tcpip.h>
#define SECURITY_WIN32
// SCH_CREDENTIALS, the form of the credentials that allows TLS 1.3.
#define SCHANNEL_USE_BLACKLISTS
#include <winternl.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace raid::win32 {

namespace {

// Windows' words for the codes this port reports, for a system that has none of its
// own for them (Wine has texts for few of them).
const char* knownText(unsigned long code) {
    switch (code) {
        case WSAEINTR: return "A blocking operation was interrupted by a call to WSACancelBlockingCall.";
        case WSAECONNRESET: return "An existing connection was forcibly closed by the remote host.";
        case WSAENOTCONN:
            return "A request to send or receive data was disallowed because the socket is not connected and (when "
                   "sending on a datagram socket using a sendto call) no address was supplied.";
        case WSAETIMEDOUT:
            return "A connection attempt failed because the connected party did not properly respond after a period "
                   "of time, or established connection failed because connected host has failed to respond.";
        case WSAECONNREFUSED: return "No connection could be made because the target machine actively refused it.";
        case WSAHOST_NOT_FOUND: return "No such host is known.";
        case WSANO_DATA: return "The requested name is valid, but no data of the requested type was found.";
        case static_cast<unsigned long>(CERT_E_EXPIRED):
            return "A required certificate is not within its validity period when verifying against the current "
                   "system clock or the timestamp in the signed file.";
        case static_cast<unsigned long>(CERT_E_UNTRUSTEDROOT):
            return "A certificate chain processed, but terminated in a root certificate which is not trusted by the "
                   "trust provider.";
        case static_cast<unsigned long>(CERT_E_CHAINING):
            return "A certificate chain could not be built to a trusted root authority.";
        case static_cast<unsigned long>(CERT_E_CN_NO_MATCH):
            return "The certificate's CN name does not match the passed value.";
        case static_cast<unsigned long>(CERT_E_WRONG_USAGE): return "The certificate is not valid for the requested usage.";
        case static_cast<unsigned long>(CERT_E_REVOKED): return "A certificate was explicitly revoked by its issuer.";
        case static_cast<unsigned long>(SEC_E_ILLEGAL_MESSAGE):
            return "The message received was unexpected or badly formatted.";
        default: return nullptr;
    }
}

}  // namespace

std::string systemErrorText(unsigned long code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = text ? std::string(text, length) : std::string();
    if (text) ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    if (result.empty() && knownText(code)) result = knownText(code);
    if (result.empty()) {
        // A code nobody has words for still tells an administrator something.
        char number[32];
        std::snprintf(number, sizeof number, code > 0xFFFF ? "error 0x%08lX" : "error %lu", code);
        result = number;
    }
    return result;
}

std::string timedOutText() { return systemErrorText(WSAETIMEDOUT); }

WaitResult waitForSocket(const SocketLink& link, bool forWrite, TcpDeadline deadline, std::string& error) {
    for (;;) {
        if (link.aborted) {
            error = systemErrorText(WSAEINTR);
            return WaitResult::failed;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            error = timedOutText();
            return WaitResult::timedOut;
        }
        // Short slices: the abort flag is looked at between them.
        const long slice = static_cast<long>(std::min<decltype(left)>(left, 50));
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(link.socket, &ready);
        FD_SET(link.socket, &failed);  // where a connect that failed shows up
        timeval wait{0, slice * 1000};
        const int rc = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &wait);
        if (rc > 0) return WaitResult::ready;
        if (rc == SOCKET_ERROR) {
            error = systemErrorText(static_cast<unsigned long>(::WSAGetLastError()));
            return WaitResult::failed;
        }
    }
}

namespace {

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

// The most bytes kept for Schannel while it asks for more of a message.
constexpr std::size_t kMaxPendingBytes = 1 << 20;

// The largest SSL_CERT_FILE read: a bundle of every public authority is a few hundred kB.
constexpr std::streamsize kMaxCertFileBytes = 16 << 20;

struct StoreCloser {
    void operator()(void* store) const {
        if (store) ::CertCloseStore(static_cast<HCERTSTORE>(store), 0);
    }
};
using Store = std::unique_ptr<void, StoreCloser>;

// The authorities named by SSL_CERT_FILE (PEM) together with the system's own; nullptr
// when the variable is not set, which leaves the system's roots alone.
Store trustedRoots() {
    char path[4096];
    const DWORD length = ::GetEnvironmentVariableA("SSL_CERT_FILE", path, sizeof path);
    if (length == 0 || length >= sizeof path) return nullptr;
    Store extra(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    Store all(::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!extra || !all) return nullptr;

    std::ifstream file(path, std::ios::binary);
    std::string pem;
    if (file) {
        pem.resize(static_cast<std::size_t>(kMaxCertFileBytes));
        file.read(pem.data(), kMaxCertFileBytes);
        pem.resize(static_cast<std::size_t>(file.gcount()));
    }
    // A file that cannot be read adds no authority, as with OpenSSL on Linux.
    static const std::string begin = "-----BEGIN CERTIFICATE-----";
    static const std::string end = "-----END CERTIFICATE-----";
    for (std::size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at)) {
        const std::size_t stop = pem.find(end, at);
        if (stop == std::string::npos) break;
        const std::string block = pem.substr(at, stop + end.size() - at);
        at = stop + end.size();
        DWORD size = 0;
        if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                    nullptr, &size, nullptr, nullptr) ||
            size == 0)
            continue;
        std::string der(size, '\0');
        if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                    reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
            continue;
        ::CertAddEncodedCertificateToStore(extra.get(), X509_ASN_ENCODING,
                                           reinterpret_cast<const BYTE*>(der.data()), size,
                                           CERT_STORE_ADD_USE_EXISTING, nullptr);
    }
    ::CertAddStoreToCollection(all.get(), extra.get(), 0, 0);
    Store system(::CertOpenSystemStoreA(0, "ROOT"));
    if (system) ::CertAddStoreToCollection(all.get(), system.get(), 0, 0);
    return all;
}

bool addressBytes(const std::string& host, std::string& bytes) {
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        bytes.assign(reinterpret_cast<const char*>(&v4), sizeof v4);
        return true;
    }
    if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        bytes.assign(reinterpret_cast<const char*>(&v6), sizeof v6);
        return true;
    }
    return false;
}

// Whether the certificate lists `address` (raw bytes) among its IP entries. Only the
// subject alternative name counts, as for a name: an address in the common name is
// no proof.
bool certificateNamesAddress(PCCERT_CONTEXT certificate, const std::string& address) {
    const CERT_EXTENSION* extension = ::CertFindExtension(
        szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension, certificate->pCertInfo->rgExtension);
    if (!extension) return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                               extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
                std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
    }
    ::LocalFree(names);
    return found;
}

HRESULT chainErrorCode(DWORD trust) {
    if (trust & CERT_TRUST_IS_NOT_TIME_VALID) return CERT_E_EXPIRED;
    if (trust & CERT_TRUST_IS_REVOKED) return CERT_E_REVOKED;
    if (trust & CERT_TRUST_IS_UNTRUSTED_ROOT) return CERT_E_UNTRUSTEDROOT;
    if (trust & CERT_TRUST_IS_PARTIAL_CHAIN) return CERT_E_CHAINING;
    if (trust & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return CERT_E_WRONG_USAGE;
    return TRUST_E_FAIL;
}

std::wstring wide(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), length);
    result.resize(static_cast<std::size_t>(length - 1));
    return result;
}

}  // namespace

struct TlsSession::State {
    explicit State(SocketLink& l) : link(l) {}

    SocketLink& link;
    CredHandle credentials{};
    bool haveCredentials = false;
    CtxtHandle context{};
    bool haveContext = false;
    std::string target;  // the name sent for SNI; empty for an address literal
    SecPkgContext_StreamSizes sizes{};
    std::string incoming;  // bytes from the socket Schannel has not taken yet
    bool needMore = false;  // what `incoming` holds is not a whole record
    std::string plain;      // decrypted bytes not handed out yet
    bool peerClosed = false;

    SEC_CHAR* targetName() { return target.empty() ? nullptr : target.data(); }

    bool sendAll(const char* data, std::size_t size, TcpDeadline deadline, std::string& error) {
        while (size > 0) {
            if (link.aborted) {
                error = systemErrorText(WSAEINTR);
                return false;
            }
            const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
            const int n = ::send(link.socket, data, chunk, 0);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
                continue;
            }
            const int code = ::WSAGetLastError();
            if (n == SOCKET_ERROR && code == WSAEWOULDBLOCK) {
                if (waitForSocket(link, true, deadline, error) != WaitResult::ready) return false;
                continue;
            }
            error = systemErrorText(static_cast<unsigned long>(n == SOCKET_ERROR ? code : WSAECONNRESET));
            return false;
        }
        return true;
    }

    // 1: bytes were added to `incoming`; 0: the peer ended the stream; -1: `error`.
    int receiveSome(TcpDeadline deadline, std::string& error) {
        // No record is this long, nor a handshake message a mail server has a reason to
        // send: a peer that keeps adding to one is not let fill memory until the deadline.
        if (incoming.size() > kMaxPendingBytes) {
            error = systemErrorText(static_cast<unsigned long>(SEC_E_ILLEGAL_MESSAGE));
            return -1;
        }
        for (;;) {
            if (link.aborted) {
                error = systemErrorText(WSAEINTR);
                return -1;
            }
            char chunk[16384];
            const int n = ::recv(link.socket, chunk, sizeof chunk, 0);
            if (n > 0) {
                incoming.append(chunk, static_cast<std::size_t>(n));
                return 1;
            }
            if (n == 0) return 0;
            const int code = ::WSAGetLastError();
            if (code != WSAEWOULDBLOCK) {
                error = systemErrorText(static_cast<unsigned long>(code));
                return -1;
            }
            if (waitForSocket(link, false, deadline, error) != WaitResult::ready) return -1;
        }
    }

    void sendToken(SecBuffer& token, TcpDeadline deadline, bool& sent, std::string& error) {
        if (token.pvBuffer && token.cbBuffer > 0)
            sent = sendAll(static_cast<const char*>(token.pvBuffer), token.cbBuffer, deadline, error);
        if (token.pvBuffer) ::FreeContextBuffer(token.pvBuffer);
        token.pvBuffer = nullptr;
    }

    // The handshake messages back and forth until Schannel has what it needs: from the
    // start, or (after a record that asked for it) with what `incoming` holds.
    bool negotiate(bool fromStart, TcpDeadline deadline, std::string& error) {
        if (fromStart) {
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
            ULONG attributes = 0;
            const SECURITY_STATUS status =
                ::InitializeSecurityContextA(&credentials, nullptr, targetName(), kContextFlags, 0, 0, nullptr, 0,
                                             &context, &outDesc, &attributes, nullptr);
            if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_OK) {
                if (out.pvBuffer) ::FreeContextBuffer(out.pvBuffer);
                error = "TLS handshake failed: " + systemErrorText(static_cast<unsigned long>(status));
                return false;
            }
            haveContext = true;
            bool sent = true;
            std::string why;
            sendToken(out, deadline, sent, why);
            if (!sent) {
                error = "TLS handshake failed: " + why;
                return false;
            }
            needMore = true;
        }
        // After a record that asked for the handshake, Schannel gets what is there first:
        // it may have something to say before the peer does.
        bool tryFirst = !fromStart;
        for (;;) {
            if (!tryFirst && (incoming.empty() || needMore)) {
                std::string why;
                const int got = receiveSome(deadline, why);
                if (got == 0) {
                    error = "TLS handshake failed: the server closed the connection";
                    return false;
                }
                if (got < 0) {
                    error = "TLS handshake failed: " + why;
                    return false;
                }
                needMore = false;
            }
            tryFirst = false;
            SecBuffer in[2] = {{static_cast<ULONG>(incoming.size()), SECBUFFER_TOKEN, incoming.data()},
                               {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
            ULONG attributes = 0;
            const SECURITY_STATUS status =
                ::InitializeSecurityContextA(&credentials, &context, targetName(), kContextFlags, 0, 0, &inDesc, 0,
                                             nullptr, &outDesc, &attributes, nullptr);
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                if (out.pvBuffer) ::FreeContextBuffer(out.pvBuffer);
                needMore = true;
                continue;
            }
            // A token goes out even with an error: it is the alert that tells the peer why.
            bool sent = true;
            std::string why;
            sendToken(out, deadline, sent, why);
            if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= incoming.size())
                incoming.erase(0, incoming.size() - in[1].cbBuffer);
            else
                incoming.clear();
            if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || status == SEC_I_INCOMPLETE_CREDENTIALS) {
                if (!sent) {
                    error = "TLS handshake failed: " + why;
                    return false;
                }
                if (status == SEC_E_OK) return true;
                continue;  // no client certificate is offered: the next call goes on without one
            }
            error = "TLS handshake failed: " + systemErrorText(static_cast<unsigned long>(status));
            return false;
        }
    }

    // The certificate the peer showed must chain to a trusted authority and name the
    // host; Schannel was told to leave both checks to us so that SSL_CERT_FILE counts.
    bool verifyPeer(const std::string& hostName, std::string& error) {
        const auto refuse = [&](unsigned long code) {
            error = "certificate verify failed: " + systemErrorText(code);
            return false;
        };
        PCCERT_CONTEXT server = nullptr;
        if (::QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &server) != SEC_E_OK || !server)
            return refuse(static_cast<unsigned long>(SEC_E_NO_CREDENTIALS));
        const std::unique_ptr<const CERT_CONTEXT, decltype(&::CertFreeCertificateContext)> serverHolder(
            server, &::CertFreeCertificateContext);

        HCERTCHAINENGINE engine = nullptr;
        const Store roots = trustedRoots();
        if (roots) {
            CERT_CHAIN_ENGINE_CONFIG config{};
            config.cbSize = sizeof config;
            config.hExclusiveRoot = roots.get();
            if (!::CertCreateCertificateChainEngine(&config, &engine)) return refuse(::GetLastError());
        }
        const std::unique_ptr<void, void (*)(void*)> engineHolder(engine, [](void* e) {
            if (e) ::CertFreeCertificateChainEngine(static_cast<HCERTCHAINENGINE>(e));
        });

        char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
        LPSTR usages[] = {serverAuth};
        CERT_CHAIN_PARA para{};
        para.cbSize = sizeof para;
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        para.RequestedUsage.Usage.cUsageIdentifier = 1;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        if (!::CertGetCertificateChain(engine, server, nullptr, server->hCertStore, &para, 0, nullptr, &chain))
            return refuse(::GetLastError());
        const std::unique_ptr<const CERT_CHAIN_CONTEXT, decltype(&::CertFreeCertificateChain)> chainHolder(
            chain, &::CertFreeCertificateChain);

        std::string address;
        const bool literal = addressBytes(hostName, address);
        std::wstring name = wide(hostName);
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        // An address is matched below against the IP entries, which the system's name
        // check does not look at everywhere.
        ssl.pwszServerName = literal ? nullptr : name.data();
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
            return refuse(::GetLastError());
        if (status.dwError != 0) return refuse(status.dwError);
        // The chain's own verdict as well: Wine's policy check passes a chain that ends
        // at a certificate of no known authority.
        if (const DWORD trust = chain->TrustStatus.dwErrorStatus; trust != CERT_TRUST_NO_ERROR)
            return refuse(static_cast<unsigned long>(chainErrorCode(trust)));
        if (literal && !certificateNamesAddress(server, address))
            return refuse(static_cast<unsigned long>(CERT_E_CN_NO_MATCH));
        return true;
    }
};

TlsSession::TlsSession(SocketLink& link) : state_(std::make_unique<State>(link)) {}

TlsSession::~TlsSession() {
    if (state_->haveContext) ::DeleteSecurityContext(&state_->context);
    if (state_->haveCredentials) ::FreeCredentialsHandle(&state_->credentials);
}

bool TlsSession::handshake(const std::string& hostName, TcpDeadline deadline, std::string& error) {
    State& s = *state_;
    if (hostName.empty() || hostName.find('\0') != std::string::npos) {
        error = "TLS needs the server's name";
        return false;
    }
    std::string address;
    // SNI carries names only; an address is checked against the certificate instead.
    if (!addressBytes(hostName, address)) s.target = hostName;

    // Certificates are checked by verifyPeer(), against the roots it chooses; no client
    // certificate is ever offered. TLS 1.2 at least. SCH_CREDENTIALS first (the form
    // that allows TLS 1.3), the older SCHANNEL_CRED where the system does not know it.
    const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TimeStamp expiry{};
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT |
                                        SP_PROT_TLS1_1_CLIENT;
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = flags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    char package[] = UNISP_NAME_A;
    SECURITY_STATUS status = ::AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern,
                                                         nullptr, nullptr, &s.credentials, &expiry);
    if (status != SEC_E_OK) {
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.dwFlags = flags;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        status = ::AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr,
                                             nullptr, &s.credentials, &expiry);
    }
    if (status != SEC_E_OK) {
        error = "TLS set-up failed: " + systemErrorText(static_cast<unsigned long>(status));
        return false;
    }
    s.haveCredentials = true;

    if (!s.negotiate(true, deadline, error)) return false;
    if (!s.verifyPeer(hostName, error)) return false;
    status = ::QueryContextAttributesA(&s.context, SECPKG_ATTR_STREAM_SIZES, &s.sizes);
    if (status != SEC_E_OK || s.sizes.cbMaximumMessage == 0) {
        error = "TLS set-up failed: " + systemErrorText(static_cast<unsigned long>(status));
        return false;
    }
    return true;
}

TlsSession::Io TlsSession::write(const char* bytes, std::size_t size, std::size_t& written, TcpDeadline deadline,
                                 std::string& error) {
    State& s = *state_;
    written = 0;
    const std::size_t chunk = std::min<std::size_t>(size, s.sizes.cbMaximumMessage);
    std::string record(s.sizes.cbHeader + chunk + s.sizes.cbTrailer, '\0');
    std::memcpy(record.data() + s.sizes.cbHeader, bytes, chunk);
    SecBuffer buffers[4] = {
        {s.sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
        {static_cast<ULONG>(chunk), SECBUFFER_DATA, record.data() + s.sizes.cbHeader},
        {s.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + s.sizes.cbHeader + chunk},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = ::EncryptMessage(&s.context, 0, &desc, 0);
    if (status != SEC_E_OK) {
        error = systemErrorText(static_cast<unsigned long>(status));
        return Io::failed;
    }
    const std::size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
    if (!s.sendAll(record.data(), total, deadline, error)) return Io::failed;
    written = chunk;
    return Io::done;
}

TlsSession::Io TlsSession::read(char* buffer, std::size_t size, std::size_t& got, TcpDeadline deadline,
                                std::string& error) {
    State& s = *state_;
    got = 0;
    for (;;) {
        if (!s.plain.empty()) {
            got = std::min(size, s.plain.size());
            std::memcpy(buffer, s.plain.data(), got);
            s.plain.erase(0, got);
            return Io::done;
        }
        if (s.peerClosed) return Io::closed;
        if (s.incoming.empty() || s.needMore) {
            const int received = s.receiveSome(deadline, error);
            // A peer that hangs up without saying goodbye in TLS: the stream ended all
            // the same (a line protocol only ever takes whole lines).
            if (received == 0) return Io::closed;
            if (received < 0) return Io::failed;
            s.needMore = false;
        }
        SecBuffer buffers[4] = {{static_cast<ULONG>(s.incoming.size()), SECBUFFER_DATA, s.incoming.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = ::DecryptMessage(&s.context, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            s.needMore = true;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
            error = systemErrorText(static_cast<unsigned long>(status));
            return Io::failed;
        }
        // The buffers point into `incoming`, decrypted in place: copied out before it changes.
        std::string data, extra;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.pvBuffer) data.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            if (b.BufferType == SECBUFFER_EXTRA && b.pvBuffer)
                extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
        }
        s.plain += data;
        s.incoming = std::move(extra);
        if (status == SEC_I_CONTEXT_EXPIRED) s.peerClosed = true;  // the peer's goodbye
        // TLS 1.3 hands messages after the handshake (session tickets) back to the
        // handshake code.
        if (status == SEC_I_RENEGOTIATE && !s.negotiate(false, deadline, error)) return Io::failed;
    }
}

void TlsSession::closeNotify() {
    State& s = *state_;
    if (!s.haveContext) return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (::ApplyControlToken(&s.context, &controlDesc) != SEC_E_OK) return;
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    ::InitializeSecurityContextA(&s.credentials, &s.context, s.targetName(), kContextFlags, 0, 0, nullptr, 0, nullptr,
                                 &outDesc, &attributes, nullptr);
    // One try, never a wait: the connection is being closed anyway.
    if (out.pvBuffer && out.cbBuffer > 0 && !s.link.aborted)
        ::send(s.link.socket, static_cast<const char*>(out.pvBuffer), static_cast<int>(out.cbBuffer), 0);
    if (out.pvBuffer) ::FreeContextBuffer(out.pvBuffer);
}

}  // namespace raid::win32
