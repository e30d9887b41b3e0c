// An in-memory TCP port for the mail client's tests: the peer's side is a script of
// bytes it sends (the replies, in order), and everything the client writes is kept.
// When the script runs dry the peer falls silent, which the client sees as its
// deadline passing (or, with closeWhenDry, as the peer closing the connection).
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/TcpPort.h"

namespace raid::testing {

struct TcpScript {
    // What the peer sends, as one stream (replies with their CR LF).
    std::string replies;
    bool closeWhenDry = false;
    // Refuse the connection with this text (empty: accept).
    std::string refuseWith;
    // Fail writes once this many bytes have been written.
    std::size_t failSendAfter = std::string::npos;
    // Refuse the TLS handshake with this text (empty: it succeeds at once).
    std::string tlsRefusal;

    // What happened.
    std::string sent;
    int connects = 0;
    int closes = 0;
    std::string lastHost;
    std::uint16_t lastPort = 0;
    std::chrono::milliseconds lastTimeout{0};
    // Where the client's writes stood when it asked for TLS ("" host: never asked).
    std::size_t tlsAt = std::string::npos;
    std::size_t tlsAfterReads = 0;  // lines the client had read by then
    std::string tlsHost;
    // How far ahead of "now" the client set each read deadline.
    std::vector<std::chrono::milliseconds> readAllowances;
};

class ScriptedConnection final : public TcpConnection {
public:
    explicit ScriptedConnection(std::shared_ptr<TcpScript> script) : script_(std::move(script)) {}

    bool send(std::string_view bytes, TcpDeadline, std::string& error) override {
        if (!open_) return fail("Transport endpoint is not connected", error);
        if (broken_) return fail(script_->tlsRefusal.c_str(), error);
        if (script_->sent.size() + bytes.size() > script_->failSendAfter) {
            script_->sent.append(bytes.substr(0, script_->failSendAfter - std::min(script_->failSendAfter, script_->sent.size())));
            return fail("Broken pipe", error);
        }
        script_->sent.append(bytes);
        return true;
    }

    bool receiveLine(std::string& line, TcpDeadline deadline, std::string& error) override {
        script_->readAllowances.push_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
        if (!open_) return fail("Transport endpoint is not connected", error);
        if (broken_) return fail(script_->tlsRefusal.c_str(), error);
        std::string& in = script_->replies;
        const std::size_t lf = in.find('\n', read_);
        if (lf == std::string::npos) {
            if (in.size() - read_ > kTcpMaxLineBytes + 1) return fail("Line too long", error);
            read_ = in.size();
            return fail(script_->closeWhenDry ? "Connection closed by the peer" : "Connection timed out", error);
        }
        std::size_t end = lf;
        if (end > read_ && in[end - 1] == '\r') --end;
        if (end - read_ > kTcpMaxLineBytes) return fail("Line too long", error);
        line.assign(in, read_, end - read_);
        read_ = lf + 1;
        return true;
    }

    bool startTls(const std::string& hostName, TcpDeadline, std::string& error) override {
        if (!open_) return fail("Transport endpoint is not connected", error);
        script_->tlsAt = script_->sent.size();
        script_->tlsAfterReads = script_->readAllowances.size();
        script_->tlsHost = hostName;
        if (!script_->tlsRefusal.empty()) {
            error = script_->tlsRefusal;
            broken_ = true;  // like a real failed handshake: only closing is left
            return false;
        }
        tls_ = true;
        return true;
    }
    bool isTls() const override { return tls_; }

    void close() override {
        if (open_) ++script_->closes;
        open_ = false;
    }
    bool isOpen() const override { return open_; }

    // Bytes of the script the client has read so far.
    std::size_t consumed() const { return read_; }

private:
    static bool fail(const char* text, std::string& error) {
        error = text;
        return false;
    }

    std::shared_ptr<TcpScript> script_;
    std::size_t read_ = 0;
    bool open_ = true;
    bool tls_ = false;
    bool broken_ = false;
};

class ScriptedTcp final : public TcpPort {
public:
    std::shared_ptr<TcpScript> script = std::make_shared<TcpScript>();
    std::string hostName = "alerthost";

    std::unique_ptr<TcpConnection> connect(const std::string& host, std::uint16_t port,
                                           std::chrono::milliseconds timeout, std::string& error) override {
        ++script->connects;
        script->lastHost = host;
        script->lastPort = port;
        script->lastTimeout = timeout;
        if (!script->refuseWith.empty()) {
            error = script->refuseWith;
            return nullptr;
        }
        return std::make_unique<ScriptedConnection>(script);
    }
    std::string localHostName() override { return hostName; }
};

}  // namespace raid::testing
