// Reading a method's arguments from a message and writing the mail methods' answers.
//
//   GetMailSettings  () -> (port s, host s, senderName s, senderAddress s, timeout s,
//                           password s, loginName s, login b, noMailHardDisksFail b,
//                           noMailDeviceRemoved b, security u, recipients as,
//                           subjects as, contents as)
//     `password` is "stored", "damaged" or "none", never the password.
//   SaveMailSettings (port s, host s, senderName s, senderAddress s, timeout s,
//                     loginName s, newPassword b, password s, login b,
//                     noMailHardDisksFail b, noMailDeviceRemoved b, security u,
//                     recipients as, subjects as, contents as)
//                    -> (saved b, problem s, then the fourteen values as above)
//     `password` only with `newPassword` (else ""); the values as saved, or as given
//     with `problem` (the E-mail page's words) when nothing was saved.
//   SendTestMail     () -> (sent b, error s, refused as)
//     Answered when the mail server's dialogue is over (the caller sets a long
//     timeout); at once with the error ...Error.NotSent when no mail goes out.
#pragma once

#include <string>
#include <vector>

#include "service/bus/BusArgs.h"
#include "service/bus/BusState.h"

typedef struct sd_bus_message sd_bus_message;

namespace raid::bus {

inline constexpr char kMailValuesSignature[] = "sssssssbbbuasasas";
inline constexpr char kErrorNotSent[] = "org.qxraidgui.Monitor1.Error.NotSent";

// Reads the arguments of `m` after `signature` (its own, checked by the caller):
// strings are views into `m`, measured up to kMaxArgBytes + 1, lists read up to
// kMaxListItems + 1 items. Negative errno when the message cannot be read.
int readArguments(sd_bus_message* m, const char* signature, std::vector<BusArg>& out);

// A text as a D-Bus string (see busText), and a list of them as "as".
int appendText(sd_bus_message* m, const std::string& text);
int appendTexts(sd_bus_message* m, const std::vector<std::string>& list);

// The fourteen values of kMailValuesSignature.
int appendMailValues(sd_bus_message* m, const SettingsEdits& values);
// The reply to a mail method from the engine's answer.
int appendMailAnswer(sd_bus_message* reply, BusMethod method, const MailAnswer& a);

}  // namespace raid::bus
