// The settings key kept in one file in the text form of a registry export
// (platform/RegistryText.h): what the settings files of both systems share. The file is
// read when the store is made, and again by every save: a save changes only the values
// it sets in the file as it is at that moment, so what another program saved meanwhile,
// comments and lines that cannot be read all stay; it writes only a text that reads
// back within the size a start reads, and only over a regular file that could be read
// whole. How a save is kept to one program at a time and how the new text is put in
// place is each system's own (platform/linux/LinuxSettingsFile.cpp,
// platform/win32/WinSettingsFile.cpp).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/RegistryText.h"
#include "platform/SettingsPort.h"

namespace raid {

class RegistryTextFile : public SettingsPort {
public:
    bool keyExists() override { return exists_; }
    std::vector<std::string> valueNames() override;
    std::optional<RegValue> read(const std::string& name) override;
    std::string update(const std::vector<SettingsUpdate>& updates) override;
    std::vector<std::string> reread() override;
    std::vector<std::string> takeProblems() override;

protected:
    // Reads the file at `path` (the platform's own spelling).
    explicit RegistryTextFile(std::string path);
    const std::string& path() const { return path_; }

    // Held while a save reads, edits and replaces the file, so that two programs saving
    // at once do not both start from the same text.
    virtual std::shared_ptr<void> lockForSave() = 0;
    // Why the file may not be written over at all ("" when it may), looked at first.
    virtual std::string refuseSave() { return {}; }
    // Puts `text` in place of the file, whole or not at all: "" or why not.
    virtual std::string store(const std::string& text) = 0;

private:
    void adopt(const RegistryText& parsed, bool exists, bool tell = false);
    void report(const std::string& problem);

    std::string path_;
    bool exists_ = false;
    std::vector<std::string> reported_;  // every problem reported, so each is told once
    std::vector<std::pair<std::string, RegValue>> values_;
    std::vector<std::string> problems_;
};

}  // namespace raid
