#include "platform/RegistryTextFile.h"

#include <algorithm>

#include "platform/FileStore.h"

namespace raid {

namespace {

constexpr std::size_t kMaxSettingsFile = 1 << 20;

std::string lowerName(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

std::string unreadable(ReadStatus status) {
    switch (status) {
        case ReadStatus::notRegular: return "not a regular file";
        case ReadStatus::tooLarge: return "larger than 1 MiB";
        default: return "cannot be read";
    }
}

}  // namespace

RegistryTextFile::RegistryTextFile(std::string path) : path_(std::move(path)) {
    const BoundedRead r = makeStdFileStore()->readBounded(path_, kMaxSettingsFile);
    switch (r.status) {
        case ReadStatus::missing: return;
        case ReadStatus::unreadable: report(path_ + ": the settings cannot be read"); return;
        case ReadStatus::notRegular: report(path_ + ": not a regular file; the settings are not read from it"); return;
        case ReadStatus::tooLarge: report(path_ + ": larger than 1 MiB; the settings are not read from it"); return;
        case ReadStatus::ok: break;
    }
    adopt(parseRegistryText(r.text), true, true);
}

std::vector<std::string> RegistryTextFile::valueNames() {
    std::vector<std::string> n;
    for (const auto& e : values_) n.push_back(e.first);
    return n;
}

std::optional<RegValue> RegistryTextFile::read(const std::string& name) {
    for (const auto& e : values_)
        if (lowerName(e.first) == lowerName(name)) return e.second;
    return std::nullopt;
}

std::string RegistryTextFile::update(const std::vector<SettingsUpdate>& updates) {
    // One save at a time across programs, from reading to putting the new text in place.
    const std::shared_ptr<void> lock = lockForSave();
    if (std::string refused = refuseSave(); !refused.empty()) return refused;
    // The file as it is now: another program may have saved since it was read.
    const BoundedRead r = makeStdFileStore()->readBounded(path_, kMaxSettingsFile);
    if (r.status != ReadStatus::ok && r.status != ReadStatus::missing)
        return path_ + ": " + unreadable(r.status) + "; it is not written over, and nothing was saved";
    const std::string& text = r.text;
    const RegistryText now = parseRegistryText(text);
    const auto current = [&now](const std::string& name) -> std::optional<RegValue> {
        for (const auto& e : now.values)
            if (lowerName(e.first) == lowerName(name)) return e.second;
        return std::nullopt;
    };
    std::vector<std::pair<std::string, RegValue>> changes;
    for (const SettingsUpdate& u : updates) {
        const std::optional<RegValue> was = current(u.name);
        std::optional<RegValue> v = u.value(was);
        if (v && !(was && *was == *v)) changes.emplace_back(u.name, std::move(*v));
    }
    if (changes.empty()) {
        adopt(now, r.status == ReadStatus::ok);
        return "";
    }
    const std::string next = editRegistryText(text, changes);
    // What is written must read back: never a file the next start refuses.
    if (next.size() > kMaxSettingsFile) return path_ + ": the settings would grow larger than 1 MiB; nothing was saved";
    const RegistryText saved = parseRegistryText(next);
    for (const auto& [name, v] : changes) {
        bool back = false;
        for (const auto& e : saved.values) back = back || (lowerName(e.first) == lowerName(name) && e.second == v);
        if (!back) return path_ + ": \"" + name + "\" would not read back from the file; nothing was saved";
    }
    const std::string error = store(next);
    if (!error.empty()) return error;
    adopt(saved, true);
    return "";
}

std::vector<std::string> RegistryTextFile::reread() {
    const BoundedRead r = makeStdFileStore()->readBounded(path_, kMaxSettingsFile);
    if (r.status == ReadStatus::missing) return {path_ + ": there is no settings file"};
    if (r.status != ReadStatus::ok) return {path_ + ": " + unreadable(r.status)};
    const RegistryText parsed = parseRegistryText(r.text);
    std::vector<std::string> problems;
    for (const auto& p : parsed.problems) problems.push_back(path_ + ": " + p);
    if (!parsed.hasKey) problems.push_back(path_ + ": it holds no settings");
    if (problems.empty()) adopt(parsed, true);
    return problems;
}

std::vector<std::string> RegistryTextFile::takeProblems() {
    auto p = std::move(problems_);
    problems_.clear();
    return p;
}

// The store's values from now on. What a save finds wrong in the file it keeps as it
// stands; the start-up has told it (a line's number may move with a save).
void RegistryTextFile::adopt(const RegistryText& parsed, bool exists, bool tell) {
    if (tell)
        for (const auto& p : parsed.problems) report(path_ + ": " + p);
    exists_ = exists && parsed.hasKey;
    values_ = parsed.values;
}

void RegistryTextFile::report(const std::string& problem) {
    if (std::find(reported_.begin(), reported_.end(), problem) != reported_.end()) return;
    reported_.push_back(problem);
    problems_.push_back(problem);
}

}  // namespace raid
