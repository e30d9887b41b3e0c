#include "service/bus/MailClient.h"

#include <cstdint>
#include <cstring>
#include <systemd/sd-bus.h>
#include <vector>

#include "service/bus/BusConnection.h"
#include "service/bus/BusMessages.h"

namespace raid::bus {

namespace {

// Bounds on what is read back: the service is trusted, its answer still measured.
constexpr std::size_t kMaxList = 64;

int readText(sd_bus_message* m, std::string& out) {
    const char* s = nullptr;
    const int r = sd_bus_message_read_basic(m, 's', &s);
    if (r > 0 && s) out = s;
    return r;
}

int readTexts(sd_bus_message* m, std::vector<std::string>& out) {
    int r = sd_bus_message_enter_container(m, 'a', "s");
    out.clear();
    while (r > 0 && out.size() < kMaxList) {
        std::string s;
        r = readText(m, s);
        if (r > 0) out.push_back(std::move(s));
    }
    return r < 0 ? r : sd_bus_message_exit_container(m);
}

int readFlag(sd_bus_message* m, bool& out) {
    int v = 0;
    const int r = sd_bus_message_read_basic(m, 'b', &v);
    out = v != 0;
    return r;
}

int readValues(sd_bus_message* m, SettingsEdits& v) {
    int r = 1;
    for (std::size_t i = 0; r >= 0 && i < 6; ++i) r = readText(m, v.fields[i]);
    if (r >= 0) r = readText(m, v.loginName);
    if (r >= 0) r = readFlag(m, v.loginOn);
    if (r >= 0) r = readFlag(m, v.noMailKind1);
    if (r >= 0) r = readFlag(m, v.noMailKind2);
    if (r >= 0) r = sd_bus_message_read_basic(m, 'u', &v.security);
    std::vector<std::string> list;
    if (r >= 0) r = readTexts(m, v.working);
    if (r >= 0) r = readTexts(m, list);
    for (std::size_t k = 0; r >= 0 && k < 2; ++k) v.subject[k] = k < list.size() ? list[k] : "";
    if (r >= 0) r = readTexts(m, list);
    for (std::size_t k = 0; r >= 0 && k < 2; ++k) v.contents[k] = k < list.size() ? list[k] : "";
    return r;
}

int appendStrings(sd_bus_message* m, const std::vector<std::string>& list) {
    int r = sd_bus_message_open_container(m, 'a', "s");
    for (std::size_t i = 0; r >= 0 && i < list.size(); ++i) r = sd_bus_message_append_basic(m, 's', list[i].c_str());
    return r < 0 ? r : sd_bus_message_close_container(m);
}

std::string problemOf(const sd_bus_error& e, int r) {
    const std::string name = e.name ? e.name : "";
    const std::string text = e.message ? e.message : std::strerror(-r);
    if (name == "org.qxraidgui.Monitor1.Error.NotAuthorized") return "not authorized: " + text;
    return text;
}

}  // namespace

MailClient::~MailClient() {
    if (bus_) sd_bus_flush_close_unref(bus_);
}

bool MailClient::connect(const std::string& address) {
    int r = openBusConnection(address, &bus_);
    if (r < 0) return false;
    // polkit may ask the user for the administrator's password meanwhile: a call waits
    // longer than the bus's usual 25 s for that.
    sd_bus_set_allow_interactive_authorization(bus_, 1);
    sd_bus_set_method_call_timeout(bus_, std::uint64_t{300} * 1000000u);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    r = sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", &error, &reply, "s", kBusName);
    if (r >= 0) r = sd_bus_message_read_basic(reply, 'b', &owned);
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return r >= 0 && owned;
}

std::string MailClient::get(SettingsEdits& values) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_, kBusName, kManagerPath, kManagerInterface, "GetMailSettings", &error, &reply, "");
    std::string problem = r < 0 ? problemOf(error, r) : "";
    if (r >= 0 && readValues(reply, values) < 0) problem = "the service's answer cannot be read";
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return problem;
}

std::string MailClient::save(const SettingsEdits& v, bool newPassword, MailAnswer& out) {
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &call, kBusName, kManagerPath, kManagerInterface, "SaveMailSettings");
    for (std::size_t i = 0; r >= 0 && i < 5; ++i) r = sd_bus_message_append_basic(call, 's', v.fields[i].c_str());
    const int fresh = newPassword, login = v.loginOn, no1 = v.noMailKind1, no2 = v.noMailKind2;
    if (r >= 0)
        r = sd_bus_message_append(call, "sbsbbbu", v.loginName.c_str(), fresh,
                                  newPassword ? v.fields[kPassword].c_str() : "", login, no1, no2, v.security);
    if (r >= 0) r = appendStrings(call, v.working);
    if (r >= 0) r = appendStrings(call, {v.subject[0], v.subject[1]});
    if (r >= 0) r = appendStrings(call, {v.contents[0], v.contents[1]});
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    if (r >= 0) r = sd_bus_call(bus_, call, 0, &error, &reply);
    std::string problem = r < 0 ? problemOf(error, r) : "";
    if (r >= 0 && (readFlag(reply, out.saved) < 0 || readText(reply, out.problem) < 0 || readValues(reply, out.values) < 0))
        problem = "the service's answer cannot be read";
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_error_free(&error);
    return problem;
}

std::string MailClient::testMail(MailAnswer& out, unsigned timeoutSeconds) {
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &call, kBusName, kManagerPath, kManagerInterface, "SendTestMail");
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    if (r >= 0) r = sd_bus_call(bus_, call, std::uint64_t{timeoutSeconds} * 1000000u, &error, &reply);
    std::string problem = r < 0 ? problemOf(error, r) : "";
    if (r < 0 && error.name) out.errorName = error.name;
    if (r >= 0 && (readFlag(reply, out.sent) < 0 || readText(reply, out.sendError) < 0 || readTexts(reply, out.refused) < 0))
        problem = "the service's answer cannot be read";
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_error_free(&error);
    return problem;
}

}  // namespace raid::bus
