// A client of the service's bus for the tests: sd-bus on the test's thread, every
// signal under /org/qxraidgui/Monitor1 kept in arrival order.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <systemd/sd-bus.h>
#include <vector>

namespace raid::test {

struct BusSignal {
    std::string member, path, text;  // text: LogLine's and DayLogLine's line, InterfacesAdded/Removed's object
    std::string raw;                 // the whole message as sd-bus prints it
};

class BusClient {
public:
    explicit BusClient(const std::string& address) {
        if (sd_bus_new(&bus_) < 0) return;
        sd_bus_set_address(bus_, address.c_str());
        sd_bus_set_bus_client(bus_, 1);
        if (sd_bus_start(bus_) < 0) return;
        sd_bus_add_match(bus_, nullptr, "type='signal',path_namespace='/org/qxraidgui/Monitor1'", &BusClient::onSignal,
                         this);
        ok_ = true;
    }
    ~BusClient() {
        if (bus_) sd_bus_flush_close_unref(bus_);
    }
    bool ok() const { return ok_; }
    sd_bus* bus() { return bus_; }

    // Processes messages until `done` holds (or two minutes pass).
    template <class Pred>
    bool until(Pred done, std::chrono::seconds bound = std::chrono::seconds(120)) {
        const auto end = std::chrono::steady_clock::now() + bound;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            if (sd_bus_process(bus_, nullptr) > 0) continue;
            sd_bus_wait(bus_, 100'000);
        }
        return true;
    }
    bool seen(const std::string& member, const std::string& path = "", const std::string& text = "") const {
        for (const auto& s : signals)
            if (s.member == member && (path.empty() || s.path == path) &&
                (text.empty() || s.text.find(text) != std::string::npos))
                return true;
        return false;
    }

    // Calls a manager method; "" on success (`out` gets the reply's strings), else the
    // error's name.
    std::string call(const std::string& member, const char* types = "", const char* arg = nullptr,
                     std::vector<std::string>* out = nullptr) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        int r = 0;
        if (*types) r = sd_bus_call_method(bus_, "org.qxraidgui.Monitor1", "/org/qxraidgui/Monitor1", "org.qxraidgui.Monitor1",
                                           member.c_str(), &error, &reply, types, arg);
        else r = sd_bus_call_method(bus_, "org.qxraidgui.Monitor1", "/org/qxraidgui/Monitor1", "org.qxraidgui.Monitor1",
                                    member.c_str(), &error, &reply, "");
        std::string name = r < 0 ? (error.name ? error.name : "failed") : "";
        if (r >= 0 && out) readStrings(reply, *out);
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        return name;
    }

    // The states of the bays ("present", "absent" ...) of an enclosure object.
    std::vector<std::string> bayStates(const std::string& path) {
        std::vector<std::string> states;
        sd_bus_message* reply = nullptr;
        if (sd_bus_get_property(bus_, "org.qxraidgui.Monitor1", path.c_str(), "org.qxraidgui.Monitor1.Enclosure", "Bays",
                                nullptr, &reply, "a(sstss)") < 0)
            return states;
        if (sd_bus_message_enter_container(reply, 'a', "(sstss)") > 0) {
            const char *name, *state, *model, *serial;
            std::uint64_t gb;
            while (sd_bus_message_read(reply, "(sstss)", &name, &state, &gb, &model, &serial) > 0) states.push_back(state);
        }
        sd_bus_message_unref(reply);
        return states;
    }
    // A byte-array property's length (-1 when it cannot be read).
    long bytesOf(const std::string& path, const char* property) {
        sd_bus_message* reply = nullptr;
        if (sd_bus_get_property(bus_, "org.qxraidgui.Monitor1", path.c_str(), "org.qxraidgui.Monitor1.Enclosure", property,
                                nullptr, &reply, "ay") < 0)
            return -1;
        const void* data = nullptr;
        std::size_t size = 0;
        const long n = sd_bus_message_read_array(reply, 'y', &data, &size) < 0 ? -1 : static_cast<long>(size);
        sd_bus_message_unref(reply);
        return n;
    }
    // StartUpgrade of `enclosure` with descriptor `fd`: the job's path, or the error's
    // name and message after "!".
    std::string startUpgrade(const std::string& enclosure, int fd) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const int r = sd_bus_call_method(bus_, "org.qxraidgui.Monitor1", "/org/qxraidgui/Monitor1",
                                         "org.qxraidgui.Monitor1", "StartUpgrade", &error, &reply, "oh",
                                         enclosure.c_str(), fd);
        std::string out;
        const char* job = nullptr;
        if (r < 0) out = std::string("!") + (error.name ? error.name : "failed") + ": " + (error.message ? error.message : "");
        else if (sd_bus_message_read_basic(reply, 'o', &job) > 0 && job) out = job;
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        return out;
    }
    // A job's property: numbers and flags as their decimal value, texts as they are.
    std::string jobProperty(const std::string& job, const char* property, char type) {
        sd_bus_message* reply = nullptr;
        std::string out = "?";
        if (sd_bus_get_property(bus_, "org.qxraidgui.Monitor1", job.c_str(), "org.qxraidgui.Monitor1.Upgrade", property,
                                nullptr, &reply, std::string(1, type).c_str()) >= 0) {
            if (type == 's' || type == 'o') {
                const char* s = nullptr;
                if (sd_bus_message_read_basic(reply, type, &s) > 0 && s) out = s;
            } else {
                std::uint32_t v = 0;  // 'u' and 'b' are four bytes
                if (sd_bus_message_read_basic(reply, type, &v) > 0) out = std::to_string(v);
            }
        }
        sd_bus_message_unref(reply);
        return out;
    }
    unsigned poll(const std::string& path) {
        std::uint32_t v = 0;
        sd_bus_get_property_trivial(bus_, "org.qxraidgui.Monitor1", path.c_str(), "org.qxraidgui.Monitor1.Enclosure",
                                    "Poll", nullptr, 'u', &v);
        return v;
    }

    std::vector<BusSignal> signals;

private:
    static void readStrings(sd_bus_message* m, std::vector<std::string>& out) {
        char type = 0;
        const char* contents = nullptr;
        while (sd_bus_message_peek_type(m, &type, &contents) > 0) {
            if (type == 's') {
                const char* s = nullptr;
                sd_bus_message_read_basic(m, 's', &s);
                out.push_back(s);
            } else if (type == 'a') {
                sd_bus_message_enter_container(m, 'a', "s");
                const char* s = nullptr;
                while (sd_bus_message_read_basic(m, 's', &s) > 0) out.push_back(s);
                sd_bus_message_exit_container(m);
            } else {
                sd_bus_message_skip(m, nullptr);
            }
        }
    }
    static int onSignal(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* self = static_cast<BusClient*>(data);
        BusSignal s;
        s.member = sd_bus_message_get_member(m) ? sd_bus_message_get_member(m) : "";
        s.path = sd_bus_message_get_path(m) ? sd_bus_message_get_path(m) : "";
        const char* text = nullptr;
        if (s.member == "LogLine" || s.member == "DayLogLine") {
            sd_bus_message_read(m, "ss", nullptr, &text);
        } else if (s.member == "InterfacesAdded" || s.member == "InterfacesRemoved") {
            sd_bus_message_read_basic(m, 'o', &text);
        } else if (s.member == "Finished") {
            int ok = 0;
            sd_bus_message_read(m, "bs", &ok, &text);
            s.text = std::string(ok ? "true " : "false ") + (text ? text : "");
            text = nullptr;
        } else if (s.member == "AlertRaised") {
            std::int32_t kind = 0;
            sd_bus_message_read_basic(m, 'i', &kind);
            s.text = std::to_string(kind);
        }
        if (text) s.text = text;
        // Everything the signal carries, as text.
        char* dump = nullptr;
        std::size_t size = 0;
        if (FILE* f = open_memstream(&dump, &size)) {
            sd_bus_message_rewind(m, 1);
            sd_bus_message_dump(m, f, SD_BUS_MESSAGE_DUMP_WITH_HEADER);
            fclose(f);
            s.raw.assign(dump, size);
            free(dump);
        }
        self->signals.push_back(s);
        return 0;
    }
    sd_bus* bus_ = nullptr;
    bool ok_ = false;
};

}  // namespace raid::test
