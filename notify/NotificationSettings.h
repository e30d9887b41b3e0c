// The alert mail settings: what the E-mail page edits, the registry values they are
// kept in, the scrambled password record and the per-alert subject and contents files.
//
// Everything here runs on the engine thread. The values live in a SettingsPort (the
// registry key, or its file on Linux); the text files go through the FileStore.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileStore.h"
#include "platform/SettingsPort.h"

namespace raid {

// Alert kinds 1..4 by name; the names are part of the text files' names.
inline constexpr std::array<const char*, 4> kAlertKindNames = {"Hard Disks Fail", "Device Removed", "Over Heat",
                                                               "Fan Fail"};
inline constexpr std::size_t kMaxRecipients = 10;
// What each value takes at most, in bytes (UTF-8). Together they stay far inside the
// size a settings file or a text file may have to be read at all (1 MiB), so whatever
// is saved reads back.
// The password record holds 15 bytes of password: a longer one is refused where it is
// entered, never cut (a cut would send another password than the user typed).
inline constexpr std::size_t kPasswordLimit = 15;
inline constexpr std::size_t kTimeoutLimit = 2;
inline constexpr std::size_t kPortLimit = 5;
inline constexpr std::size_t kHostLimit = 255;  // the longest name the DNS has
inline constexpr std::size_t kNameLimit = 255;
// An address (the sender's, which also gives the login name, and each recipient's).
inline constexpr std::size_t kAddressLimit = 254;
// A login name of its own: servers whose accounts are addresses take a whole one.
inline constexpr std::size_t kLoginNameLimit = kAddressLimit;
inline constexpr std::size_t kSubjectLimit = 1000;
inline constexpr std::size_t kContentsLimit = 64 * 1024;

// Whether `text` holds a control character (a byte below 0x20, or DEL). Where `lines`
// is set (the contents) line feeds and tabs are text. A CR or LF in any value that
// reaches the mail dialogue would end a command line early and start one of its own.
bool hasControlCharacter(std::string_view text, bool lines = false);
// An address as the mail dialogue carries it in angle brackets: an "@", no blank,
// angle bracket or control character, and well-formed UTF-8 (an address outside
// ASCII goes only to a server that offers SMTPUTF8, which is known when sending).
bool isPlainAddress(std::string_view address);
// `text` cut to at most `limit` bytes, never inside a UTF-8 character.
std::string cutToLimit(std::string_view text, std::size_t limit);

// The six connection fields, in the order the page and the mail client take them.
enum ConnectionField : std::size_t { kPort, kHost, kSenderName, kSenderAddress, kTimeout, kPassword };

// dirty bits.
constexpr std::uint8_t kDirtyPort = 0x01, kDirtyHost = 0x02, kDirtyName = 0x04, kDirtyAddress = 0x08,
                       kDirtyTimeout = 0x10, kDirtyPassword = 0x20, kDirtyLoginName = 0x40;

// How the mail connection is protected ("Security", a dword: 0 none, 1 STARTTLS, 2 TLS
// from the first byte). A store without the value reads as 0, the dialogue of old.
inline constexpr std::uint32_t kSecurityNone = 0, kSecurityStartTls = 1, kSecurityTls = 2;
// The names the Setup sub-page shows for them, in that order.
inline constexpr std::array<const char*, 3> kSecurityNames = {"None", "STARTTLS", "SSL/TLS"};
// A shown name back to its value; nullopt for anything else.
std::optional<std::uint32_t> securityFromName(const std::string& name);

struct NotificationSettings {
    std::array<std::string, 6> connection;  // port, host, sender name, sender address, time-out, password
    std::uint8_t authState = 0;             // 0 off, 1 on, 2 stored record invalid (off)
    std::uint32_t suppressMask = 0;         // bit k-1: no mail for alerts of kind k
    std::uint32_t security = kSecurityNone;
    // The SMTP login name ("LoginName"); "" (and a store without the value) means the
    // sender address up to its "@".
    std::string loginName;
    std::int32_t recipientCount = 0;
    std::vector<std::string> recipients;
    std::string filePath;                             // ends in the folder separator
    std::array<std::vector<std::string>, 4> subjects;  // kind 1..4; the first line is used
    std::array<std::vector<std::string>, 4> contents;
    bool SettingsKeyExists = false;
    bool loaded = false;
    std::uint8_t keyByte = 0;  // the key byte of the record last read

    const std::string& smtpPort() const { return connection[kPort]; }
    const std::string& smtpHost() const { return connection[kHost]; }
    const std::string& senderName() const { return connection[kSenderName]; }
    const std::string& senderAddress() const { return connection[kSenderAddress]; }
    const std::string& timeout() const { return connection[kTimeout]; }
    const std::string& password() const { return connection[kPassword]; }
    // The first line of kind k's subject, "" when there is none.
    std::string subjectLine(int kind) const;
};

// The eight bytes both directions of the password record use. Chosen once; a record
// written with other bytes does not read back.
inline constexpr std::array<std::uint8_t, 8> ScrambleKey = {0x5A, 0xC3, 0x17, 0x8E, 0x2B, 0xF0, 0x64, 0x9D};

using ScrambledPassword = std::array<std::uint8_t, 18>;

struct Unscrambled {
    std::string password;
    std::uint8_t authState = 0;
};
Unscrambled unscramble(const ScrambledPassword& record);
ScrambledPassword scramble(const std::string& password, std::uint8_t key, bool loginOn);

// "ToAddr_" + two upper-case hex digits.
std::string recipientValueName(std::size_t index);
std::string subjectFile(const NotificationSettings& s, int kind);
std::string contentsFile(const NotificationSettings& s, int kind);

// What the page hands to a save: the field texts, the check boxes, the working list.
struct SettingsEdits {
    std::array<std::string, 6> fields;  // Edit1, Edit2, Edit3, Edit4, Edit5, Edit8
    bool loginOn = false;               // CheckBox8
    bool noMailKind1 = false;           // CheckBox2
    bool noMailKind2 = false;           // CheckBox4
    std::uint32_t security = kSecurityNone;  // ComboBox1
    std::string loginName;              // Edit12, shown with the password
    std::vector<std::string> working;   // the working recipient list
    std::array<std::string, 2> subject;   // Edit10, Edit11
    std::array<std::string, 2> contents;  // Memo6, Memo4 (lines joined with "\n")
    std::uint8_t dirty = 0;
};

// The page as it shows `s` when opened: what a save compares its fields with.
SettingsEdits shownEdits(const NotificationSettings& s);

class SettingsStore {
public:
    // `report` is told each problem once (an unreadable store, a broken line, a value of
    // the wrong type); the settings then carry on as if the value were missing.
    SettingsStore(SettingsPort& port, FileStore& files, std::function<void(const std::string&)> report)
        : port_(port), files_(files), report_(std::move(report)) {}

    // Start-up: whether the key exists; creates "EMailSend" = 0 when it lacks it.
    // Returns true when a load is to be requested. `defaultFilePath` is where the text
    // files go while the key does not say (it must end in the separator).
    bool startUp(NotificationSettings& s, const std::string& defaultFilePath);
    // LoadNotificationSettings: every value and text file. `turn` lets the engine run
    // its pending work between the kinds' files.
    void load(NotificationSettings& s, const std::function<void()>& turn = {});
    // The save of the E-mail page's OK. It writes the values that differ from `shown`
    // (what the page showed when it was filled), and only those: a value another
    // program saved meanwhile stays, unless this save changes that very value. The
    // first save also writes every value the store does not hold yet. Each value it
    // writes is checked first; then the text files and the values are saved all or
    // nothing. Returns "" or why nothing was saved.
    std::string save(NotificationSettings& s, SettingsEdits& edits, const SettingsEdits& shown);
    std::string save(NotificationSettings& s, SettingsEdits& edits) { return save(s, edits, shownEdits(s)); }
    SettingsPort& port() { return port_; }

private:
    std::optional<RegValue> typed(const std::string& name, RegType type, std::size_t size = 0);
    std::string readText(const std::string& name);
    std::vector<std::string> readLines(const std::string& path);
    bool writeLines(const std::string& path, const std::string& text);
    void flushProblems();

    SettingsPort& port_;
    FileStore& files_;
    std::function<void(const std::string&)> report_;
    std::string defaultFilePath_;
    std::optional<std::string> refusedFilePath_;  // the FilePath last reported as unusable
};

}  // namespace raid
