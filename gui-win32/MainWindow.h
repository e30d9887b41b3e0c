// TForm1, the native main window: page book, navigation images, status bar and every
// control the pages fill, each carrying its control name as its control ID.
//
// The window keeps no state of its own beyond what it shows. The engine publishes
// control changes (applied here, on the window's thread) and the window forwards what
// the user does as engine actions. Every control has a design rectangle in 96-DPI
// units; the window lays them out at its current scale (DPI / 96) and again whenever
// the scale changes.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <windows.h>

#include "app/ControlNames.h"
#include "app/Controls.h"
#include "gui-win32/Artwork.h"
#include "gui-win32/EngineActions.h"

namespace raid::win {

class PageBuilder;

class MainWindow {
public:
    static constexpr int kClientWidth = 620;
    static constexpr int kClientHeight = 440;

    // `scale` > 0 forces that scale (tests); 0 takes the window's DPI.
    explicit MainWindow(ActionPoster post, double scale = 0);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    // Applies one change of the engine's window model. Unknown names are ignored.
    void applyChange(const ControlChange& change);
    // The control carrying `name` (nullptr for names the window lacks).
    HWND control(const std::string& name) const;

    struct Entry;
    // What the window holds for a control name (nullptr for none): for tests and tools.
    const Entry* entry(const std::string& name) const;

    double scale() const { return scale_; }
    // Lays everything out again at `scale` (a DPI change; tests force one).
    void setScale(double scale);
    void setHintHidePause(int ms);
    // Shown centred on the work area of its monitor.
    void show();

    // Asked on WM_QUERYENDSESSION: whether the session may end (the session asks the
    // engine and pumps messages until it answers).
    std::function<bool()> onQueryEndSession;

    // Keys the dialog manager does not give the window's own controls: Enter on an
    // image button clicks it, as Space does; Space and Enter on the fan panel click it;
    // Alt with a page's letter clicks that page's picture. True when `msg` was taken.
    static bool translateKey(const MSG& msg);

    enum class Kind { Container, Book, Label, Caption, CheckBox, Edit, Memo, Combo, Grid, Progress, Bays, Image,
                      StatusBar };
    enum class ImageKind { Nav, Tab, Push, Sign };

    struct Entry {
        std::string name;  // "" for captions and page containers
        Kind kind = Kind::Caption;
        HWND hwnd = nullptr;
        RECT design{};     // 96-DPI units, in the parent's client area
        int fontPx = 13;
        bool bold = false;
        COLORREF ink = RGB(0x24, 0x36, 0x4D);
        COLORREF back = RGB(0xFF, 0xFF, 0xFF);
        std::string color;       // the engine's colour name ("" = own ink)
        UINT format = DT_LEFT | DT_VCENTER | DT_SINGLELINE;  // labels
        bool enginePlaced = false;  // navigation images: on a slot
        // Images.
        ImageKind image = ImageKind::Push;
        std::wstring caption;
        NavGlyph glyph = NavGlyph::Status;
        bool highlightedAtStart = false;
        bool primary = false;
        std::string picture;  // the source the engine names ("" = as built)
        // Edits.
        std::size_t byteLimit = 0;  // 0 = none
        bool refuse = false;        // too long is refused whole instead of cut
        std::wstring why;           // why input was not taken
        std::wstring last;          // the text before the edit
        std::deque<std::wstring> echoes;  // texts sent to the engine, not yet echoed back
        // Views.
        BaysView bays;
        std::vector<HWND> pages;  // a page book's pages
        std::vector<RECT> rules;  // thin lines a container draws (96-DPI units)
        bool framed = false;      // a container with a border
    bool drawsEnclosure = false;  // a container showing the enclosure picture
        HFONT fitted = nullptr;   // the font a label is drawn in
        std::vector<std::string> rows;  // a grid's rows as shown
        HWND follower = nullptr;  // a caption shown and hidden with its field
        bool tip = false;         // has a tool tip
        int paints = 0;           // times the enclosure picture was drawn
        bool shaped = false;      // covers only its text, so what is under the rest shows
        COLORREF behind = CLR_INVALID;  // on the form: the background's colour under it

        // An image shows its highlighted (yellow) face: the page or device chosen.
        bool highlighted() const {
            return picture.empty() || picture == name ? highlightedAtStart : picture == names::yellowPicture(name);
        }
    };

    // Window procedures of the form, the page containers and the enclosure picture.
    static LRESULT CALLBACK formProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK containerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK baysProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

private:
    friend class PageBuilder;

    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    // Messages the controls send their parent, whichever container that is.
    bool handleChild(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    Entry& add(std::unique_ptr<Entry> e);
    Entry* entryOf(HWND hwnd) const;
    void post(EngineAction action);
    void layout();
    void place(Entry& e);
    void fitLabel(Entry& e);
    void buildStatusBar();
    void layoutStatusBar();

    void applyText(Entry& e, const std::string& text);
    void applyView(Entry& e, const ControlState& s, Prop prop);
    void applyHint(Entry& e, const std::string& hint);
    void setText(Entry& e, const std::wstring& text);  // as the engine's, not the user's

    void onEditChanged(Entry& e);
    bool isEcho(Entry& e, const std::wstring& text);
    void drawImage(Entry& e, const DRAWITEMSTRUCT& d);
    void drawLabel(Entry& e, const DRAWITEMSTRUCT& d);
    HBRUSH brush(COLORREF c);
    // The colour behind a control: its container's, or on the form, the background's.
    COLORREF backOf(HWND control) const;
    void sampleBackground();

    ActionPoster post_;
    HWND hwnd_ = nullptr;
    HWND tips_ = nullptr;
    HWND statusBar_ = nullptr;
    double scale_ = 1.0;
    bool oem_ = false;
    bool com_ = false;  // this window initialised COM on its thread
    HWND lastFocus_ = nullptr;  // the control focused when the window was last left
    bool applying_ = false;  // engine changes being applied: not the user's
    std::vector<std::unique_ptr<Entry>> entries_;
    std::unordered_map<std::string, Entry*> byName_;
    std::unordered_map<HWND, Entry*> byHwnd_;
    std::unordered_map<COLORREF, HBRUSH> brushes_;
};

}  // namespace raid::win
