// The program's settings, kept the way Windows keeps them: the values of one registry
// key (HKEY_LOCAL_MACHINE\SOFTWARE\QX_RAID_GUI), each with its name and type.
//
// On Windows this is the registry itself. Elsewhere one file holds the key in the text
// form of a registry export (platform/RegistryText.h), so the values, their names and
// types stay exactly what a Windows installation of the program stores.
#pragma once

#include <cstdint>
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

class SettingsPort {
public:
    virtual ~SettingsPort() = default;
    // Whether the key exists (it is created by the first write).
    virtual bool keyExists() = 0;
    virtual std::vector<std::string> valueNames() = 0;
    virtual std::optional<RegValue> read(const std::string& name) = 0;
    // Writes one value, creating the key when needed. "" on success, else the system's
    // error text; values written before a failure stay written.
    virtual std::string write(const std::string& name, const RegValue& value) = 0;
    // What went wrong reading the store (an unreadable file, a broken line), each
    // problem once: the caller reports them and carries on with what could be read.
    virtual std::vector<std::string> takeProblems() = 0;
};

// Settings held in memory only: for tests, and for a program that runs without a store.
class MemorySettings final : public SettingsPort {
public:
    bool exists = false;
    std::vector<std::pair<std::string, RegValue>> values;  // in the order written
    std::vector<std::string> problems;
    // When set, writing this value fails with `failText`.
    std::string failOn, failText = "Access is denied.";
    int writes = 0;

    bool keyExists() override { return exists; }
    std::vector<std::string> valueNames() override;
    std::optional<RegValue> read(const std::string& name) override;
    std::string write(const std::string& name, const RegValue& value) override;
    std::vector<std::string> takeProblems() override {
        auto p = std::move(problems);
        problems.clear();
        return p;
    }
};

}  // namespace raid
