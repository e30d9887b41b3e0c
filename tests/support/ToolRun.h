// Runs a program of the build (raid-gui-sim, raid-gui-monitor-sim) the way a user would,
// with its exit status and both output streams; on Linux through posix_spawn, on
// Windows through CreateProcess, never through a shell.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Portable.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace raid::test {

struct ToolResult {
    int status = -1;  // the exit status; -1 when the program did not end by itself
    std::string out, err;
};

inline std::string slurpFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A program's text output with its lines ended by "\n": on Windows the C runtime ends
// each line of standard output and error with CR LF.
inline std::string outputText(std::string text) {
#ifdef _WIN32
    std::string lf;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
    return lf;
#else
    return text;
#endif
}

// A command line's words as a POSIX shell splits them: blanks separate, '...' is taken
// as it stands, "..." with \" and \\, so "''" is one empty word.
inline std::vector<std::string> splitArgs(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '\'') {
            inWord = true;
            for (++i; i < line.size() && line[i] != '\''; ++i) word += line[i];
        } else if (c == '"') {
            inWord = true;
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) ++i;
                word += line[i];
            }
        } else {
            inWord = true;
            word += c;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

// The path of `program` of the build: beside the test program or one folder up (the
// test programs live in the build's tests folder), else under RAID_BINARY_DIR.
inline std::string builtProgram(const std::string& program) {
#ifdef _WIN32
    wchar_t self[32768];
    const DWORD n = GetModuleFileNameW(nullptr, self, 32768);
    const std::filesystem::path here = std::filesystem::path(std::wstring(self, n)).parent_path();
    for (const auto& dir : {here, here.parent_path()}) {
        const std::filesystem::path candidate = dir / (program + ".exe");
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec)) return pathText(candidate);
    }
    return std::string(RAID_BINARY_DIR) + "/" + program + ".exe";
#else
    return std::string(RAID_BINARY_DIR) + "/" + program;
#endif
}

#ifdef _WIN32
inline std::wstring wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// One argument quoted so that the C runtime's command line parser gives it back as it
// stands (backslashes count only before a quote).
inline std::wstring quoteArg(const std::wstring& a) {
    if (!a.empty() && a.find_first_of(L" \t\n\v\"") == std::wstring::npos) return a;
    std::wstring q = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : a) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, L'\\');
    return q + L"\"";
}
#endif

// One program running on its own, its output going to files, until it ends or is ended.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (started()) {
            kill();
            wait(std::chrono::seconds(120));
        }
    }

    // `env`: "NAME=value" is set, "NAME" taken away, the rest inherited. `searchPath`:
    // `exe` is a bare name looked for in PATH (Linux only).
    bool start(const std::string& exe, const std::vector<std::string>& args, const std::string& outPath,
               const std::string& errPath, const std::vector<std::string>& env = {}, bool searchPath = false) {
#ifdef _WIN32
        (void)searchPath;
        std::wstring line = quoteArg(wide(exe));
        for (const auto& a : args) line += L" " + quoteArg(wide(a));
        std::vector<wchar_t> block = environmentBlock(env);
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE in = CreateFileW(L"NUL", GENERIC_READ, share, &sa, OPEN_EXISTING, 0, nullptr);
        HANDLE out = CreateFileW(wide(outPath).c_str(), GENERIC_WRITE, share, &sa, CREATE_ALWAYS, 0, nullptr);
        HANDLE err = CreateFileW(wide(errPath).c_str(), GENERIC_WRITE, share, &sa, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in;
        si.hStdOutput = out;
        si.hStdError = err;
        PROCESS_INFORMATION pi{};
        const bool ok = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                        CreateProcessW(wide(exe).c_str(), line.data(), nullptr, nullptr, TRUE,
                                       CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(), nullptr, &si, &pi);
        for (HANDLE h : {in, out, err})
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        if (!ok) return false;
        CloseHandle(pi.hThread);
        process_ = pi.hProcess;
        return true;
#else
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (std::none_of(env.begin(), env.end(), [&](const std::string& c) { return c.substr(0, c.find('=')) == name; }))
                envText.push_back(entry);
        }
        for (const auto& c : env)
            if (c.find('=') != std::string::npos) envText.push_back(c);
        std::vector<char*> envp, argv{const_cast<char*>(exe.c_str())};
        for (auto& e : envText) envp.push_back(e.data());
        envp.push_back(nullptr);
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = searchPath ? posix_spawnp(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data())
                                  : posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) pid_ = -1;
        return rc == 0;
#endif
    }

    bool started() const {
#ifdef _WIN32
        return process_ != nullptr;
#else
        return pid_ > 0;
#endif
    }

    // Whether it still runs.
    bool running() {
        if (!started()) return false;
#ifdef _WIN32
        return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
#else
        if (reaped_) return false;
        const pid_t done = ::waitpid(pid_, &status_, WNOHANG);
        if (done == pid_) reaped_ = true;
        return done == 0;
#endif
    }

    // Waits up to `bound` for the end; the exit status, -1 when it was killed, ended by
    // a signal or still runs.
    int wait(std::chrono::milliseconds bound) {
        if (!started()) return -1;
#ifdef _WIN32
        if (WaitForSingleObject(process_, static_cast<DWORD>(bound.count())) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        CloseHandle(process_);
        process_ = nullptr;
        return killed_ ? -1 : static_cast<int>(code);
#else
        const auto until = std::chrono::steady_clock::now() + bound;
        while (running()) {
            if (std::chrono::steady_clock::now() >= until) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = -1;
        reaped_ = false;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
#endif
    }

    // Asks it to end as the session's end would (SIGTERM); Windows has no such request
    // for a program without a window, so there it is ended at once.
    void askToEnd() {
        if (!started()) return;
#ifdef _WIN32
        kill();
#else
        ::kill(pid_, SIGTERM);
#endif
    }

#ifndef _WIN32
    // Sends `sig` (SIGHUP: reload) while it runs.
    void signal(int sig) {
        if (started() && !reaped_) ::kill(pid_, sig);
    }
#endif

    void kill() {
        if (!started()) return;
#ifdef _WIN32
        killed_ = true;
        TerminateProcess(process_, 1);
#else
        if (!reaped_) ::kill(pid_, SIGKILL);
#endif
    }

private:
#ifdef _WIN32
    // This process's environment with `changes` applied, sorted as Windows expects.
    static std::vector<wchar_t> environmentBlock(const std::vector<std::string>& changes) {
        std::vector<std::wstring> entries;
        if (wchar_t* all = GetEnvironmentStringsW()) {
            for (const wchar_t* e = all; *e; e += wcslen(e) + 1) entries.emplace_back(e);
            FreeEnvironmentStringsW(all);
        }
        auto nameOf = [](const std::wstring& e) {
            std::wstring n = e.substr(0, e.find(L'=', 1));
            for (auto& c : n) c = static_cast<wchar_t>(towupper(c));
            return n;
        };
        for (const auto& change : changes) {
            const std::wstring c = wide(change);
            const std::wstring name = nameOf(c);
            std::erase_if(entries, [&](const std::wstring& e) { return nameOf(e) == name; });
            if (c.find(L'=') != std::wstring::npos) entries.push_back(c);
        }
        std::sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) { return nameOf(a) < nameOf(b); });
        std::vector<wchar_t> block;
        for (const auto& e : entries) {
            block.insert(block.end(), e.begin(), e.end());
            block.push_back(L'\0');
        }
        block.push_back(L'\0');
        return block;
    }
    HANDLE process_ = nullptr;
    bool killed_ = false;
#else
    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
#endif
};

// Runs `exe` with `args` (one word each), output into `outPath` and `errPath`, and waits
// for its end with a generous bound; a program that outlives it is killed (status -1).
inline ToolResult runProgram(const std::string& exe, const std::vector<std::string>& args, const std::string& outPath,
                             const std::string& errPath, const std::vector<std::string>& env = {},
                             bool searchPath = false) {
    ToolResult r;
    ChildProcess child;
    if (!child.start(exe, args, outPath, errPath, env, searchPath)) {
        r.err = "cannot start " + exe;
        return r;
    }
    r.status = child.wait(std::chrono::seconds(120));
    if (child.started()) {
        child.kill();
        child.wait(std::chrono::seconds(120));
    }
    r.err = outputText(slurpFile(errPath));
    return r;
}

// `program` (a program of the build) with `args` as typed on the command line (split as
// a shell would, without its other powers); output goes to files in `dir` unless
// `stdoutTo` names another place (then `out` stays empty). `prefix` comes before the
// command as typed in a shell: more of the environment ("XDG_STATE_HOME=/x"), or on
// Linux another program that runs it ("env -u HOME", "setpriv ...").
inline ToolResult runBuiltTool(const std::string& program, const std::string& args, const std::string& dir,
                               const std::string& stdoutTo = "", const std::string& prefix = "") {
    const std::string out = stdoutTo.empty() ? dir + "/out.txt" : stdoutTo, err = dir + "/err.txt";
    // The tool keeps its settings under the test's folder, never in the user's own.
    std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + dir + "/config",
                                 "APPDATA=" + dir + "/config"};
    std::vector<std::string> words = splitArgs(prefix);
    std::size_t assignments = 0;
    while (assignments < words.size() && words[assignments].find('=') != std::string::npos &&
           words[assignments][0] != '-')
        env.push_back(words[assignments++]);
    words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(assignments));
    const std::string bin = builtProgram(program);
    std::vector<std::string> argv = splitArgs(args);
    ToolResult r;
    if (words.empty()) {
        r = runProgram(bin, argv, out, err, env);
    } else {
#ifdef _WIN32
        r.err = "a program before the tool (" + prefix + ") is for Linux only";
        return r;
#else
        std::vector<std::string> all(words.begin() + 1, words.end());
        all.push_back(bin);
        all.insert(all.end(), argv.begin(), argv.end());
        r = runProgram(words[0], all, out, err, env, true);
#endif
    }
    if (stdoutTo.empty()) r.out = outputText(slurpFile(out));
    return r;
}

inline ToolResult runSimTool(const std::string& args, const std::string& dir, const std::string& stdoutTo = "") {
    return runBuiltTool("raid-gui-sim", args, dir, stdoutTo);
}

// A program of the build in the background, as systemd runs the service, until stop().
struct BackgroundTool {
    ChildProcess child;
    // The environment as the service gets it: "NAME=value" is set, "NAME" taken away.
    std::vector<std::string> env;
    bool start(const std::string& program, const std::vector<std::string>& args, const std::string& out,
               const std::string& err) {
        return child.start(builtProgram(program), args, out, err, env);
    }
    // Whether it still runs.
    bool running() { return child.running(); }
    // Asks it to end (SIGTERM on Linux), then the exit status (-1 when it did not exit by
    // itself).
    int stop() {
        if (!child.started()) return -1;
        child.askToEnd();
        const int status = child.wait(std::chrono::seconds(120));
        if (child.started()) {
            child.kill();
            child.wait(std::chrono::seconds(120));
        }
        return status;
    }
    ~BackgroundTool() { stop(); }
};

// Polls `done` until it holds or `seconds` have passed: what a program of the build does
// in the background is waited for, never a fixed time.
template <class Done>
bool waitFor(Done done, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

}  // namespace raid::test
