#include "app/AccessibleText.h"

#include "app/ControlNames.h"

namespace raid::access {

namespace {

struct Entry {
    const char* control;
    Description description;
};

const Entry kEntries[] = {
    {names::Image_Sts, {Role::PageTab, "Status", 'S'}},
    {names::Image_Page1, {Role::PageTab, "Tools", '\0'}},
    {names::Image_FWUpg, {Role::PageTab, "Upgrade", 'U'}},
    {names::Image_Email, {Role::PageTab, "E-mail", 'E'}},
    {names::Image_About, {Role::PageTab, "About", 'A'}},
    {names::Image0_D1, {Role::PageTab, "Device1", '\0'}},
    {names::Image0_D2, {Role::PageTab, "Device2", '\0'}},
    {names::Image2_D1, {Role::PageTab, "Device1", '\0'}},
    {names::Image2_D2, {Role::PageTab, "Device2", '\0'}},
    {names::Image3_Setup, {Role::PageTab, "Setup", '\0'}},
    {names::Image3_HDDFail, {Role::PageTab, "HDD Fail", '\0'}},
    {names::Image3_DeviceRemove, {Role::PageTab, "Device Remove", '\0'}},
    {names::Image0_Log, {Role::Button, "Event Log", '\0'}},
    {names::Panel11, {Role::Button, "Fan and temperature history", '\0'}},
    {names::Image0_Bays, {Role::Graphic, "Enclosure", '\0'}},
    {names::Image2_Load, {Role::Button, "Load", '\0'}},
    {names::Image2_Upgrade, {Role::Button, "Upgrade", '\0'}},
    {names::Edit9, {Role::Edit, "Firmware File", '\0'}},
    {names::ProgressBar1, {Role::ProgressBar, "Firmware Upgrade", '\0'}},
    {names::Image3_OK, {Role::Button, "OK", '\0'}},
    {names::Image3_Ignore, {Role::Button, "Ignore", '\0'}},
    {names::Image3_TestMail, {Role::Button, "Send Test Mail", '\0'}},
    {names::Image3_1P, {Role::Button, "Add E-Mail Address", '\0'}},
    {names::Image3_1M, {Role::Button, "Remove E-Mail Address", '\0'}},
    {names::Image3_2P, {Role::Button, "Add E-Mail Address", '\0'}},
    {names::Image3_2M, {Role::Button, "Remove E-Mail Address", '\0'}},
    {names::StringGrid1, {Role::Table, "E-Mail Addresses", '\0'}},
    {names::StringGrid2, {Role::Table, "E-Mail Addresses", '\0'}},
    {names::Edit2, {Role::Edit, "E-Mail Host (SMTP)", '\0'}},
    {names::Edit1, {Role::Edit, "Port", '\0'}},
    {names::Edit3, {Role::Edit, "Name", '\0'}},
    {names::Edit4, {Role::Edit, "E-Mail Address", '\0'}},
    {names::Edit5, {Role::Edit, "Time Out", '\0'}},
    {names::Edit12, {Role::Edit, "Login Name", '\0'}},
    {names::ComboBox1, {Role::ComboBox, "Security", '\0'}},
    {names::Edit8, {Role::Edit, "Password", '\0'}},
    {names::Edit7, {Role::Edit, "E-Mail Address", '\0'}},
    {names::Edit6, {Role::Edit, "E-Mail Address", '\0'}},
    {names::Edit10, {Role::Edit, "Subject", '\0'}},
    {names::Edit11, {Role::Edit, "Subject", '\0'}},
    {names::Memo6, {Role::Edit, "Contents", '\0'}},
    {names::Memo4, {Role::Edit, "Contents", '\0'}},
    {names::CheckBox1, {Role::CheckBox, "Device1", '\0'}},
    {names::CheckBox3, {Role::CheckBox, "Device2", '\0'}},
};

const char* lookWord(BayLook look) {
    switch (look) {
        case BayLook::Empty: return "empty";
        case BayLook::Present: return "present";
        case BayLook::Absent: return "removed";
        case BayLook::Failed: return "failed";
        case BayLook::Unknown: break;
    }
    return "unknown";
}

std::string bays(const BaysView& v) {
    // The picture draws the unknown enclosure for both.
    if (!baysInRange(v) || v.controller == BayController::None) return "Drive states unknown.";
    std::string out;
    for (int i = 0; i < 2; ++i) {
        if (i) out += ' ';
        out += "Drive " + std::to_string(i + 1);
        if (v.controller == BayController::Hybrid) out += i == 0 ? " (SSD)" : " (HDD)";
        out += ": ";
        out += lookWord(v.bay[i]);
        out += '.';
    }
    return out;
}

}  // namespace

Description describe(const std::string& control) {
    for (const Entry& e : kEntries)
        if (control == e.control) return e.description;
    // The other check boxes speak their own caption.
    const std::string caption = names::caption(control);
    if (!caption.empty()) return {Role::CheckBox, caption, '\0'};
    return {};
}

std::string baysHealth(const BaysView& view) { return bays(view); }

std::string baysText(const BaysView& v) {
    std::string out = bays(v);
    if (!baysInRange(v) || v.controller == BayController::None) return out;
    const std::string pct = std::to_string(v.percent) + " %";
    const int other = v.target == 1 ? 2 : 1;
    switch (v.work) {
        case BayWork::Rebuild:
            if (v.target == 0)
                out += " Rebuilding, " + pct + '.';
            else
                out += " Rebuilding drive " + std::to_string(v.target) + " from drive " + std::to_string(other) +
                       ", " + pct + '.';
            break;
        case BayWork::Scan:
            out += v.target == 0 ? " Scanning, " + pct + '.'
                                 : " Scanning drive " + std::to_string(v.target) + ", " + pct + '.';
            break;
        case BayWork::Flush:
            out += " Flushing the cache from the SSD to the HDD.";
            break;
        case BayWork::Idle:
            break;
    }
    return out;
}

}  // namespace raid::access
