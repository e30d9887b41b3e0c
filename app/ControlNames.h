// Every control of the windows, by the name the engine, the window and the tests use.
//
// The list below is the only place a control name is spelled: each entry becomes a
// constant `names::X` holding "X". The engine's Controls model knows exactly these
// controls (plus the derived names below) and refuses any other name, so a typo is an
// error at the first use instead of a control that silently exists only on one side.
#pragma once

#include <array>
#include <string>
#include <vector>

// clang-format off
#define RAID_CONTROL_NAMES(X)                                                                       \
    /* windows and page books */                                                                    \
    X(TForm1) X(TForm5) X(TForm7) X(Notebook1) X(Notebook2) X(StatusBar1)                          \
    /* navigation and backgrounds */                                                                \
    X(Image_Sts) X(Image_Page1) X(Image_FWUpg) X(Image_Email) X(Image_About)                        \
    X(Image_Background) X(Image_Background_RAID) X(Image_Background_OEM)                            \
    /* start-up text, device check boxes and device tabs */                                        \
    X(StaticText1) X(CheckBox1) X(CheckBox3)                                                        \
    X(Image0_D1) X(Image0_D2) X(Image2_D1) X(Image2_D2)                                             \
    /* Status page */                                                                               \
    X(Image0_Log) X(Label17) X(Label27) X(Label48) X(Label45) X(Label25) X(Label51)                 \
    X(Label46) X(Label26) X(Label52) X(Label18) X(Label20) X(Label21) X(Panel11) X(Label5) X(Label7) \
    X(Image0_Bays) X(WorkTimeLeft)                                                                  \
    /* Upgrade page */                                                                              \
    X(FirmwareVersion) X(Edit9) X(Image2_Load) X(UpgradeTitle) X(ProgressBar1) X(UpgradePanel)      \
    X(Image2_Upgrade)                                                                               \
    /* E-mail page */                                                                               \
    X(Image3_Setup) X(Image3_HDDFail) X(Image3_DeviceRemove) X(Image3_OK) X(Image3_Ignore)          \
    X(Edit1) X(Edit2) X(Edit3) X(Edit4) X(Edit5) X(Edit8) X(CheckBox8)                              \
    X(Edit7) X(Image3_1P) X(Image3_1M) X(StringGrid1) X(Edit10) X(Memo6) X(CheckBox2)               \
    X(Edit6) X(Image3_2P) X(Image3_2M) X(StringGrid2) X(Edit11) X(Memo4) X(CheckBox4)               \
    X(ComboBox1) X(Image3_TestMail) X(Edit12)                                                       \
    /* About page */                                                                                \
    X(Label63) X(Label65)                                                                           \
    /* hidden text holders */                                                                       \
    X(Memo1) X(Memo2) X(Memo7)                                                                      \
    /* event log window */                                                                          \
    X(LogText) X(RealTimeLog) X(ViewLogFile)
// clang-format on

namespace raid::names {

#define RAID_NAME_CONSTANT(n) inline constexpr char n[] = #n;
RAID_CONTROL_NAMES(RAID_NAME_CONSTANT)
#undef RAID_NAME_CONSTANT

#define RAID_NAME_ENTRY(n) n,
inline constexpr std::array listed = {RAID_CONTROL_NAMES(RAID_NAME_ENTRY)};
#undef RAID_NAME_ENTRY

// Navigation images by page (page 1 exists in the page book but is never offered).
inline constexpr std::array<const char*, 5> navigationImages = {Image_Sts, Image_Page1, Image_FWUpg, Image_Email,
                                                                Image_About};
// By device index.
inline constexpr std::array<const char*, 2> deviceCheckBox = {CheckBox1, CheckBox3};
inline constexpr std::array<const char*, 2> statusDeviceImage = {Image0_D1, Image0_D2};
inline constexpr std::array<const char*, 2> upgradeDeviceImage = {Image2_D1, Image2_D2};
// E-mail sub-page tabs by sub-page.
inline constexpr std::array<const char*, 3> emailSubPageImages = {Image3_Setup, Image3_HDDFail, Image3_DeviceRemove};
// The images that act as push buttons.
inline constexpr std::array<const char*, 5> pushImages = {Image3_OK, Image3_Ignore, Image0_Log, Image2_Load,
                                                          Image2_Upgrade};

// The captions of the controls that carry one. They are part of the engine's picture
// like any text it sets, so every renderer draws the same labels, and a resend of
// the whole picture restores them rather than blanking them.
struct Caption {
    const char* control;
    const char* text;
};
inline constexpr std::array<Caption, 5> captions = {{
    {CheckBox1, "Device1"},
    {CheckBox3, "Device2"},
    {CheckBox8, "SMTP Login Authentication"},
    {CheckBox2, "Don't send EMail for this event."},
    {CheckBox4, "Don't send EMail for this event."},
}};
// The caption of `control`, or an empty text when it has none.
std::string caption(const std::string& control);

// Picture sources of a navigation or tab image: name + "_Yellow" / "_White".
std::string yellowPicture(const std::string& image);
std::string whitePicture(const std::string& image);
// Status bar panels 0..4: "StatusBar1.Panel0" ...
std::string panel(int index);

// Every control name: the list, the picture sources and the panels.
const std::vector<std::string>& all();
bool known(const std::string& name);

}  // namespace raid::names
