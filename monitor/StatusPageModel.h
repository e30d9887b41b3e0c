// The Status page: what it shows for the selected enclosure, computed from the device
// tables and the enclosure's status record.
//
// The model is Qt-free and knows no control names: it returns typed drawings that the
// page (app/pages/StatusPage) applies to the window's controls in the order given. It
// keeps the page's shared state for as long as the window lives: the flags byte the
// drives were last drawn for, the last progress shown in the centre text, whether a
// hybrid enclosure was seen with its cache enabled, and the switching guard. Both
// devices share that state, which is why a device switch always redraws in full.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/DeviceState.h"
#include "device/Transport.h"
#include "monitor/StatusBays.h"

namespace raid {

inline constexpr char kSsdRemovalMessage[] = "You can shut down the system and\nremove the SSD from Hybrid Device. ";

// The result of the device refresh: names, hints, caption and the capabilities of the
// enclosure firmware.
struct DeviceRefreshView {
    int device = 0;  // the device the next operation addresses
    std::string revision;
    int productClass = 2;
    std::array<std::string, 2> names;  // per device index; "" when not watched
    std::array<bool, 2> watched{};
    std::string caption;
};

// One drive's two labels (capacity, model) as the drawing leaves them.
struct DriveDraw {
    enum class Action { Keep, Fill, Grey, Empty };
    Action action = Action::Keep;
    std::string capacity;       // GB + " GB\n"
    std::string model;          // 40 characters, not trimmed
    std::string capacityColor;  // "navy" present, "red" failed; "" leaves the colour
    bool capacityEnabled = true;
    bool modelEnabled = true;
    BayLook look = BayLook::Unknown;  // how the enclosure picture shows the bay
};

// Everything one drawing changes, in the order the page applies it.
struct StatusDrawing {
    int result = -1;  // -1: no device check box is on, nothing drawn
    std::string firmware;   // Label48
    bool controller = false;  // kinds 0xA0, 0xB0, 0xC0: the rest is drawn
    std::array<std::string, 2> driveNames;  // Label45, Label46
    std::string fan, fanColor;                  // Label5
    std::string temperature, temperatureColor;  // Label7
    bool panelVisible = false;                  // Panel11
    std::string mode;                           // Label17
    bool drivesDrawn = false;
    std::array<DriveDraw, 2> drives;  // Label25/Label51, Label26/Label52
    std::string configured;           // Label27
    std::optional<std::string> centre;            // Label18
    std::array<std::optional<std::string>, 2> flush;  // Label20, Label21
    bool resetSlowDivider = false;
    bool ssdMessage = false;
    std::optional<std::array<std::string, 3>> panels;  // status bar panels 1..3
    std::optional<bool> mailOptOutEnabled;             // CheckBox2
    bool showLogImage = false;                         // Image0_Log
    std::optional<BaysView> bays;                      // Image0_Bays, when it changed
    std::string timeLeft;  // WorkTimeLeft: the rebuild's or scan's time left, "" without one
};

class StatusPageModel {
public:
    // The device refresh: takes the device the next operation addresses (`device`,
    // 0 or 1) and derives the names, the caption and the firmware capabilities of
    // every watched device. `appTitle` heads the caption.
    DeviceRefreshView refreshDevices(const DeviceState& dev, int device, const std::string& appTitle);

    // Draws the page for device `device` from its status record. `anyChecked`: a device
    // check box is on. The draw only reads memory; it cannot fail.
    // `timeLeft`: the time-left text of that device's rebuild or scan (the engine keeps
    // one estimate per enclosure, StatusDecoder::timeLeftText); shown while one runs.
    StatusDrawing draw(const Sector& status, int device, bool anyChecked, bool fullRedraw,
                       const std::string& timeLeft = {});

    // Timer5's status texts: panels 1..3 for a hybrid controller outside the flush, or
    // nothing. `blocked`: the start-up pass, no enclosure, a held device.
    std::optional<std::array<std::string, 3>> timerTexts(const Sector& status, bool blocked) const;

    // Firmware capabilities of device index 0/1 as the last device refresh found them.
    bool scanCapable(int device) const;
    bool monitorCapable(int device) const;
    int productClass() const { return productClass_; }

    bool switching = false;  // set while a device switch redraws the page

    // The shared state, readable for tests and tools.
    std::uint8_t lastDrawnFlags() const { return lastFlags_; }
    std::uint8_t lastShownProgress() const { return lastProgress_; }
    bool cacheEnabledSeen() const { return cacheSeen_; }
    const BaysView& bays() const { return bays_; }

private:
    void drawDrives(const Sector& status, StatusDrawing& out);
    void drawHybridCentre(const Sector& status, StatusDrawing& out);
    void drawRaidCentre(const Sector& status, bool scanCapable, StatusDrawing& out);

    std::array<std::string, 2> revisions_;
    std::array<bool, 2> scan_{};
    std::array<bool, 2> monitor_{};
    int productClass_ = 2;

    std::uint8_t lastFlags_ = 0xFF;
    std::uint8_t lastProgress_ = 0xFF;
    bool cacheSeen_ = false;
    BaysView bays_;
};

// Two upper-case hexadecimal digits.
std::string hexByte(std::uint8_t value);

// The drive letters of device index `device` (rows of fixed drives on its physical
// drive, in table order).
std::string deviceLetters(const DeviceState& dev, int device);

}  // namespace raid
