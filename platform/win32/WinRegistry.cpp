#include "platform/win32/WinRegistry.h"

#include <sddl.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/win32/WinFileStore.h"
#include "platform/win32/WinPlatform.h"
#include "platform/win32/WinSettingsFile.h"

namespace raid::win32 {

namespace {

constexpr DWORD kMaxValueBytes = 1 << 20;
constexpr DWORD kMaxValues = 4096;
constexpr REGSAM kView = KEY_WOW64_64KEY;

std::string lowerName(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class Key {
public:
    Key() = default;
    ~Key() {
        if (k_) ::RegCloseKey(k_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &k_; }
    HKEY get() const { return k_; }

private:
    HKEY k_ = nullptr;
};

struct Snapshot {
    LSTATUS status = ERROR_SUCCESS;  // of opening the key; ERROR_FILE_NOT_FOUND: no key
    std::vector<std::pair<std::string, RegValue>> values;
    std::vector<std::string> problems;
};

// A value as the registry holds it, in the form the store keeps; false (with why) for
// a type this program does not keep.
bool toValue(DWORD type, const std::vector<std::uint8_t>& data, RegValue& v, std::string& why) {
    switch (type) {
        case REG_SZ: {
            // A string's bytes end at the first zero, stored or not.
            const auto zero = std::find(data.begin(), data.end(), 0);
            v = RegValue::sz(std::string(data.begin(), zero));
            return true;
        }
        case REG_DWORD:
            if (data.size() != 4) {
                why = "a REG_DWORD value that is not four bytes";
                return false;
            }
            v = RegValue::number(static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16) |
                                 static_cast<std::uint32_t>(data[3]) << 24);
            return true;
        case REG_BINARY:
        case REG_NONE: v = RegValue::binary(data); return true;
        default: why = "a value type this program does not keep"; return false;
    }
}

Snapshot readKey(HKEY root, const std::string& subkey) {
    Snapshot s;
    Key key;
    s.status = ::RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE | kView, key.out());
    if (s.status != ERROR_SUCCESS) return s;
    DWORD count = 0, longestName = 0, longestData = 0;
    s.status = ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName,
                                  &longestData, nullptr, nullptr);
    if (s.status != ERROR_SUCCESS) return s;
    if (count > kMaxValues) {
        s.problems.push_back("it holds more than " + std::to_string(kMaxValues) + " values; only the first are read");
        count = kMaxValues;
    }
    std::vector<char> name(longestName + 2);
    std::vector<std::uint8_t> data(std::min(longestData, kMaxValueBytes) + 2);
    for (DWORD i = 0; i < count; ++i) {
        DWORD nameLen = static_cast<DWORD>(name.size());
        DWORD dataLen = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LSTATUS rc = ::RegEnumValueA(key.get(), i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_MORE_DATA) {
            // Grown since it was measured, or larger than the store reads: the name
            // alone tells which.
            nameLen = static_cast<DWORD>(name.size());
            DWORD need = 0;
            if (::RegEnumValueA(key.get(), i, name.data(), &nameLen, nullptr, &type, nullptr, &need) != ERROR_SUCCESS)
                continue;
            if (need > kMaxValueBytes) {
                s.problems.push_back("\"" + std::string(name.data(), nameLen) + "\": larger than 1 MiB; not read");
                continue;
            }
            data.resize(need + 2);
            nameLen = static_cast<DWORD>(name.size());
            dataLen = static_cast<DWORD>(data.size());
            rc = ::RegEnumValueA(key.get(), i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
        }
        if (rc != ERROR_SUCCESS) continue;
        const std::string valueName(name.data(), nameLen);
        RegValue v;
        std::string why;
        if (toValue(type, std::vector<std::uint8_t>(data.begin(), data.begin() + dataLen), v, why))
            s.values.emplace_back(valueName, std::move(v));
        else
            s.problems.push_back("\"" + valueName + "\": " + why);
    }
    return s;
}

std::vector<std::uint8_t> bytesOf(const RegValue& v, DWORD& type) {
    switch (v.type) {
        case RegType::Sz: {
            type = REG_SZ;
            std::vector<std::uint8_t> b(v.text.begin(), v.text.end());
            b.push_back(0);
            return b;
        }
        case RegType::Dword:
            type = REG_DWORD;
            return {static_cast<std::uint8_t>(v.dword), static_cast<std::uint8_t>(v.dword >> 8),
                    static_cast<std::uint8_t>(v.dword >> 16), static_cast<std::uint8_t>(v.dword >> 24)};
        case RegType::Binary: type = REG_BINARY; return v.bytes;
    }
    type = REG_NONE;
    return {};
}

LSTATUS setValue(HKEY key, const std::string& name, const RegValue& v) {
    DWORD type = REG_NONE;
    const std::vector<std::uint8_t> b = bytesOf(v, type);
    return ::RegSetValueExA(key, name.c_str(), 0, type, b.data(), static_cast<DWORD>(b.size()));
}

// Admin-only access rules for a key made now.
class AdminOnly {
public:
    AdminOnly() {
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kAdminOnlyKeyAccess, SDDL_REVISION_1, &sd_,
                                                                    nullptr))
            sd_ = nullptr;
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = sd_;
        attributes_.bInheritHandle = FALSE;
    }
    ~AdminOnly() {
        if (sd_) ::LocalFree(sd_);
    }
    AdminOnly(const AdminOnly&) = delete;
    AdminOnly& operator=(const AdminOnly&) = delete;
    SECURITY_ATTRIBUTES* get() { return sd_ ? &attributes_ : nullptr; }
    PSECURITY_DESCRIPTOR descriptor() const { return sd_; }

private:
    PSECURITY_DESCRIPTOR sd_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

class RegistrySettings final : public SettingsPort {
public:
    RegistrySettings(HKEY root, std::string subkey, std::string displayName)
        : root_(root), subkey_(std::move(subkey)), name_(std::move(displayName)) {
        const Snapshot s = readKey(root_, subkey_);
        if (s.status != ERROR_SUCCESS && s.status != ERROR_FILE_NOT_FOUND)
            report(name_ + ": the settings cannot be read: " + errorText(static_cast<DWORD>(s.status)));
        for (const auto& p : s.problems) report(name_ + ": " + p);
        adopt(s);
    }

    bool keyExists() override { return exists_; }

    std::vector<std::string> valueNames() override {
        std::vector<std::string> n;
        for (const auto& e : values_) n.push_back(e.first);
        return n;
    }

    std::optional<RegValue> read(const std::string& name) override { return find(values_, name); }

    std::string update(const std::vector<SettingsUpdate>& updates) override {
        const MachineLock lock("registry " + lowerName(name_));
        const Snapshot now = readKey(root_, subkey_);
        if (now.status != ERROR_SUCCESS && now.status != ERROR_FILE_NOT_FOUND)
            return name_ + ": " + errorText(static_cast<DWORD>(now.status)) + "; nothing was saved";
        std::vector<std::pair<std::string, RegValue>> changes;
        for (const SettingsUpdate& u : updates) {
            const std::optional<RegValue> was = find(now.values, u.name);
            std::optional<RegValue> v = u.value(was);
            if (!v || (was && *was == *v)) continue;
            // A string with a zero in it would read back cut short.
            if (v->type == RegType::Sz && v->text.find('\0') != std::string::npos)
                return name_ + ": \"" + u.name + "\" would not read back from the registry; nothing was saved";
            changes.emplace_back(u.name, std::move(*v));
        }
        if (changes.empty()) {
            adopt(now);
            return "";
        }
        AdminOnly access;
        Key key;
        DWORD disposition = 0;
        LSTATUS rc = ::RegCreateKeyExA(root_, subkey_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_QUERY_VALUE | KEY_SET_VALUE | WRITE_DAC | kView, access.get(), key.out(),
                                       &disposition);
        if (rc == ERROR_ACCESS_DENIED)  // WRITE_DAC is needed only for a key made now
            rc = ::RegCreateKeyExA(root_, subkey_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_QUERY_VALUE | KEY_SET_VALUE | kView, access.get(), key.out(), &disposition);
        if (rc != ERROR_SUCCESS) return name_ + ": " + errorText(static_cast<DWORD>(rc)) + "; nothing was saved";
        const bool created = disposition == REG_CREATED_NEW_KEY;
        if (created) {
            // The rules once more on the made key itself, before any value is in it: not
            // every registry applies those given at creation (Wine's does not), and
            // rules passed down from SOFTWARE would let every user read the record.
            rc = access.descriptor()
                     ? ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                           access.descriptor())
                     : static_cast<LSTATUS>(ERROR_INVALID_SECURITY_DESCR);
            if (rc != ERROR_SUCCESS) {
                ::RegDeleteKeyExA(root_, subkey_.c_str(), kView, 0);
                return name_ + ": its access rules cannot be set: " + errorText(static_cast<DWORD>(rc)) +
                       "; nothing was saved";
            }
        }
        std::size_t done = 0;
        for (; done < changes.size(); ++done) {
            rc = setValue(key.get(), changes[done].first, changes[done].second);
            if (rc != ERROR_SUCCESS) break;
        }
        if (done < changes.size()) {
            // Every value back as it was before this save.
            for (std::size_t i = 0; i < done; ++i) {
                const std::optional<RegValue> was = find(now.values, changes[i].first);
                if (was)
                    setValue(key.get(), changes[i].first, *was);
                else
                    ::RegDeleteValueA(key.get(), changes[i].first.c_str());
            }
            if (created) ::RegDeleteKeyExA(root_, subkey_.c_str(), kView, 0);
            return name_ + ": \"" + changes[done].first + "\": " + errorText(static_cast<DWORD>(rc)) +
                   "; nothing was saved";
        }
        ::RegFlushKey(key.get());
        adopt(readKey(root_, subkey_));
        return "";
    }

    std::vector<std::string> reread() override {
        const Snapshot s = readKey(root_, subkey_);
        if (s.status == ERROR_FILE_NOT_FOUND) return {name_ + ": there is no settings key"};
        if (s.status != ERROR_SUCCESS) return {name_ + ": " + errorText(static_cast<DWORD>(s.status))};
        std::vector<std::string> problems;
        for (const auto& p : s.problems) problems.push_back(name_ + ": " + p);
        if (problems.empty()) adopt(s);
        return problems;
    }

    std::vector<std::string> takeProblems() override {
        auto p = std::move(problems_);
        problems_.clear();
        return p;
    }

private:
    static std::optional<RegValue> find(const std::vector<std::pair<std::string, RegValue>>& values,
                                        const std::string& name) {
        for (const auto& e : values)
            if (lowerName(e.first) == lowerName(name)) return e.second;
        return std::nullopt;
    }

    void adopt(const Snapshot& s) {
        exists_ = s.status == ERROR_SUCCESS;
        values_ = s.values;
    }

    void report(const std::string& problem) {
        if (std::find(reported_.begin(), reported_.end(), problem) != reported_.end()) return;
        reported_.push_back(problem);
        problems_.push_back(problem);
    }

    HKEY root_;
    std::string subkey_;
    std::string name_;
    bool exists_ = false;
    std::vector<std::pair<std::string, RegValue>> values_;
    std::vector<std::string> reported_;
    std::vector<std::string> problems_;
};

}  // namespace

std::unique_ptr<SettingsPort> makeRegistrySettingsAt(HKEY root, std::string subkey, std::string displayName) {
    return std::make_unique<RegistrySettings>(root, std::move(subkey), std::move(displayName));
}

std::unique_ptr<SettingsPort> makeRegistrySettings() {
    return makeRegistrySettingsAt(HKEY_LOCAL_MACHINE, "SOFTWARE\\QX_RAID_GUI", kRegistrySettingsName);
}

}  // namespace raid::win32
