// The program's settings, kept the way Windows keeps them: the values of one registry
// key (HKEY_LOCAL_MACHINE\SOFTWARE\QX_RAID_GUI), each with its name and type.
//
// On Windows this is the registry itself. Elsewhere one file holds the key in the text
// form of a registry export (platform/RegistryText.h), so the values, their names and
// types stay exactly what a Windows installation of the program stores.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace raid {

enum class RegType { Sz, Dword, Binary };

struct RegValue {
    RegType type = RegType::Sz;
    std::string text;                 // Sz
    std::uint32_t dword = 0;          // Dword
    std::vector<std::uint8_t> bytes;  // Binary

    static RegValue sz(std::string t) {
        RegValue v;
        v.text = std::move(t);
        return v;
    }
    static RegValue number(std::uint32_t d) {
        RegValue v;
        v.type = RegType::Dword;
        v.dword = d;
        return v;
    }
    static RegValue binary(std::vector<std::uint8_t> b) {
        RegValue v;
        v.type = RegType::Binary;
        v.bytes = std::move(b);
        return v;
    }
    friend bool operator==(const RegValue& a, const RegValue& b) {
        return a.type == b.type && a.text == b.text && a.dword == b.dword && a.bytes == b.bytes;
    }
};

// One value of a save. Its new value is worked out from what the store holds at the
// moment of the save (`now`, nullopt when it holds no such value), so a value another
// program wrote since the last read is seen; nullopt leaves the value as it is.
struct SettingsUpdate {
    std::string name;
    std::function<std::optional<RegValue>(const std::optional<RegValue>& now)> value;

    // The value set as given.
    static SettingsUpdate set(std::string name, RegValue v) {
        return {std::move(name),
                [v = std::move(v)](const std::optional<RegValue>&) { return std::optional<RegValue>(v); }};
    }
    // The value set only where the store holds none.
    static SettingsUpdate ifMissing(std::string name, RegValue v) {
        return {std::move(name), [v = std::move(v)](const std::optional<RegValue>& now) {
                    return now ? std::nullopt : std::optional<RegValue>(v);
                }};
    }
};

class SettingsPort {
public:
    virtual ~SettingsPort() = default;
    // Whether the key exists (it is created by the first write).
    virtual bool keyExists() = 0;
    virtual std::vector<std::string> valueNames() = 0;
    virtual std::optional<RegValue> read(const std::string& name) = 0;
    // One save, all or nothing: the store is read again, the updates are worked out
    // against what it holds now and made (the key is created when needed), and every
    // other value stays as the store holds it - values another program wrote since,
    // lines that cannot be read. A store that cannot be read whole is never written
    // over. "" when saved (read() then gives the store as saved), else why nothing
    // was written.
    virtual std::string update(const std::vector<SettingsUpdate>& updates) = 0;
    // One value, set as given.
    std::string write(const std::string& name, const RegValue& value) {
        return update({SettingsUpdate::set(name, value)});
    }
    // What went wrong reading the store (an unreadable file, a broken line), each
    // problem once: the caller reports them and carries on with what could be read.
    virtual std::vector<std::string> takeProblems() = 0;
    // Reads the store again, for a program that runs for months while others edit it
    // (SIGHUP). A store that cannot be read whole and clean - missing, unreadable, a
    // broken line - leaves what the port holds as it was: the problems are returned.
    virtual std::vector<std::string> reread() { return {}; }
};

// Settings held in memory only: for tests, and for a program that runs without a store.
class MemorySettings final : public SettingsPort {
public:
    bool exists = false;
    std::vector<std::pair<std::string, RegValue>> values;  // in the order written
    std::vector<std::string> problems;
    // When set, a save that would write this value fails with `failText`, writing nothing.
    std::string failOn, failText = "Access is denied.";
    int writes = 0;  // values written

    bool keyExists() override { return exists; }
    std::vector<std::string> valueNames() override;
    std::optional<RegValue> read(const std::string& name) override;
    std::string update(const std::vector<SettingsUpdate>& updates) override;
    std::vector<std::string> takeProblems() override {
        auto p = std::move(problems);
        problems.clear();
        return p;
    }
};

}  // namespace raid
