// Creates the native controls of the window's pages and registers each one with the
// window under its control name, with its 96-DPI design rectangle. Page units only lay
// out; what a control does when the engine changes it, and how the user's clicks,
// ticks, edits and chosen rows reach the engine, is the window's business.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <windows.h>

#include "gui-win32/MainWindow.h"

namespace raid::win {

// A design rectangle: x, y, width, height in 96-DPI units.
inline RECT box(int x, int y, int w, int h) { return RECT{x, y, x + w, y + h}; }

// The window's text colours: values and headings, and the quieter captions.
inline constexpr COLORREF kInk = RGB(0x24, 0x36, 0x4D);
inline constexpr COLORREF kMuted = RGB(0x5F, 0x6E, 0x80);
inline constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

// Window classes of the window's own kinds of child window.
inline constexpr wchar_t kContainerClass[] = L"RaidGuiContainer";
inline constexpr wchar_t kBaysClass[] = L"RaidGuiBays";

class PageBuilder {
public:
    explicit PageBuilder(MainWindow& window) : w_(window) {}

    // A child window that holds others (a page, a page book, a panel). `name` may be "".
    HWND container(HWND parent, const std::string& name, const RECT& r, COLORREF back = kWhite,
                   bool framed = false);
    // A framed panel that acts when clicked: it takes the focus with Tab, as a button
    // does, instead of passing Tab on to what it holds.
    HWND clickPanel(HWND parent, const std::string& name, const RECT& r, COLORREF back);
    // A page book: `pages` containers filling it, the first one shown.
    HWND book(HWND parent, const std::string& name, const RECT& r, int pages);
    std::vector<HWND> pages(HWND book) const;
    // A thin line drawn by `container`.
    void rule(HWND container, const RECT& r);

    // A label the engine writes; a click on it reaches the engine. `format`: DrawText
    // alignment (DT_WORDBREAK for a label that wraps). Its text is shrunk to fit.
    HWND label(HWND parent, const std::string& name, const RECT& r, UINT format, int px = 13, bool bold = false,
               COLORREF ink = kInk, const std::wstring& text = {});
    // A fixed caption; `format` as for label().
    HWND caption(HWND parent, const std::wstring& text, const RECT& r, int px = 13, bool bold = false,
                 UINT format = DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    HWND checkBox(HWND parent, const std::string& name, const RECT& r);
    // `limit`: bytes of UTF-8 it takes (0 = any); `why` names the field in the tip.
    HWND edit(HWND parent, const std::string& name, const RECT& r, std::size_t limit = 0,
              const std::wstring& why = {}, bool refuse = false, DWORD style = 0);
    HWND memo(HWND parent, const std::string& name, const RECT& r);
    HWND comboBox(HWND parent, const std::string& name, const RECT& r, const std::vector<std::wstring>& items);
    HWND grid(HWND parent, const std::string& name, const RECT& r);
    HWND progress(HWND parent, const std::string& name, const RECT& r);
    HWND bays(HWND parent, const std::string& name, const RECT& r);

    // Images that act as buttons, drawn by the artwork.
    HWND navImage(HWND parent, const std::string& name, const RECT& r, const std::wstring& caption, NavGlyph glyph,
                  bool highlighted);
    HWND tabImage(HWND parent, const std::string& name, const RECT& r, const std::wstring& caption, bool selected);
    HWND pushImage(HWND parent, const std::string& name, const RECT& r, const std::wstring& caption, bool primary);
    HWND signImage(HWND parent, const std::string& name, const RECT& r, bool plus);
    // Device1 / Device2 tabs at the top of a page (hidden until there is a second device).
    void deviceTabs(HWND page, const std::array<const char*, 2>& tabs);

    MainWindow::Entry& entry(HWND hwnd) { return *w_.entryOf(hwnd); }

private:
    MainWindow::Entry& make(HWND parent, const std::string& name, MainWindow::Kind kind, const RECT& r,
                            const wchar_t* cls, const std::wstring& text, DWORD style, DWORD exStyle = 0);
    HWND image(HWND parent, const std::string& name, const RECT& r, MainWindow::ImageKind kind,
               const std::wstring& caption);

    MainWindow& w_;
};

// The pages, one unit each.
// Page 0: mode, capacity, firmware, the enclosure picture with each drive's name,
// capacity and model under its bay, the centre status, fan and temperature.
void buildStatusPage(PageBuilder& b, HWND page);
// Page 2: firmware version, image file, progress and the upgrade button.
void buildUpgradePage(PageBuilder& b, HWND page);
// Page 3: the mail server settings and the two alert kinds' recipients and texts.
void buildEmailPage(PageBuilder& b, HWND page);
// Page 4: name and version.
void buildAboutPage(PageBuilder& b, HWND page);

}  // namespace raid::win
