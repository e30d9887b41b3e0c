// A real window on a real engine thread, on the simulated machine.
//
// Each test builds the machine it needs (no enclosure, one enclosure), starts the
// window through GuiSession exactly as the program does, and waits on conditions
// with bounded QTest::qWaitFor. Boxes the engine raises are answered by the dialog
// test hook unless a test wants them shown for real.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "gui/GuiApp.h"
#include "gui/GuiDialogs.h"
#include "gui/ImageControl.h"
#include "gui/MainWindow.h"
#include "gui/SessionEnd.h"
#include "platform/HostInfo.h"
#include "platform/Scheduler.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

namespace raid::gui::test {

// How long a window test waits for an outcome before it gives up: a bound, never a
// window of time a test waits out, so it can be generous for a loaded machine.
constexpr int kWaitMs = 120000;

class FakeHostInfo final : public HostInfoPort {
public:
    std::string query(const std::string& cls, const std::string& prop) override {
        static const std::map<std::pair<std::string, std::string>, std::string> values = {
            {{"Win32_BaseBoard", "Manufacturer"}, "Acme"},
            {{"Win32_BaseBoard", "Product"}, "Board-7"},
            {{"Win32_Bus", "SystemName"}, "HOST1"},
            {{"Win32_NetworkAdapterConfiguration", "IPAddress"}, "10.0.0.7"},
        };
        auto it = values.find({cls, prop});
        return it == values.end() ? std::string() : it->second;
    }
};

class GuiRig : public ::testing::Test {
protected:
    // enclosures: 0 or 1 (on the mailbox path at drive 1, volume E:).
    void startWindow(int enclosures) {
        startWindow(enclosures, sim::makeIdentityPage(), sim::makeStatusRecord());
    }
    // One enclosure (or none) with this identity page and status record.
    void startWindow(int enclosures, const sim::Block& identity, const sim::Block& status) {
        platform_.addPlainDisk(0);
        platform_.addVolume('C', 0);
        if (enclosures > 0) {
            platform_.attach(1, sim::Path::Mailbox, identity, status);
            platform_.addVolume('E', 1);
        }
        host_ = std::make_unique<EngineHost>(makeRealScheduler(), [this](Scheduler& s, Controls& c, DialogPort& d) {
            const std::string logs = logs_.path().toStdString();
            Ports ports{.scheduler = s,
                        .storage = platform_,
                        .volumes = platform_,
                        .dialogs = d,
                        .deviceChanges = nullptr,
                        .hostInfo = &hostInfo_,
                        .files = nullptr,
                        .logFolder = logs,
                        .fallbackLogFolder = logs};
            auto form = std::make_unique<MainForm>(ports, c);
            // A session end must not wait the full half minute in a test.
            form->sessionEndWaitUs = 2'000'000;
            auto click = form->onClick;
            form->onClick = [this, click](const std::string& n) {
                record(clicks_, n);
                if (click) click(n);
            };
            auto box = form->onCheckBox;
            form->onCheckBox = [this, box](const std::string& n, bool on) {
                record(checkBoxClicks_, n + (on ? "=on" : "=off"));
                if (box) box(n, on);
            };
            if (configureForm) configureForm(*form);
            return form;
        });
        session_ = std::make_unique<GuiSession>(*host_);
        session_->dialogs().setTestHook([](const std::string&, const std::string&, int) { return DialogPort::Ok; });
        session_->setQuitHandler([this] { ++quits_; });
        session_->start();
    }

    void TearDown() override {
        // Stopping the engine while a detection pass runs on DriveDetectThread destroys
        // the form under the pass (the scheduler joins its workers only after the form
        // is gone), so let a running pass finish first.
        if (host_ && host_->running())
            (void)QTest::qWaitFor([this] { return onEngine([](MainForm& f) { return !f.detection().busy(); }).value_or(true); },
                            kWaitMs);
        session_.reset();
        host_.reset();
    }

    TForm1& window() { return session_->window(); }
    GuiDialogs& dialogs() { return session_->dialogs(); }

    template <class W = QWidget>
    W* widget(const char* name) {
        W* w = window().control<W>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // Runs `fn` on the engine thread and returns its result; nullopt if the engine
    // did not get to it in time.
    template <class F>
    auto onEngine(F fn) -> std::optional<decltype(fn(std::declval<MainForm&>()))> {
        using T = decltype(fn(std::declval<MainForm&>()));
        auto promise = std::make_shared<std::promise<T>>();
        std::future<T> result = promise->get_future();
        host_->post([promise, fn](MainForm& f) { promise->set_value(fn(f)); });
        const bool ready = QTest::qWaitFor(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, kWaitMs);
        if (!ready) return std::nullopt;
        return result.get();
    }

    // Everything the engine had queued before now has run, and the control changes it
    // made have reached the window.
    void settle() {
        ASSERT_TRUE(onEngine([](MainForm&) { return 0; }).has_value());
        QCoreApplication::processEvents();
    }

    bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, kWaitMs); }

    // Waits for the first detection to be published.
    bool waitForDetection() {
        return waitFor([this] {
            auto* panel = window().control<QLabel>(QStringLiteral("StatusBar1.Panel1"));
            return panel && panel->text() == QLatin1String("Detected OK");
        });
    }

    int currentPage() { return onEngine([](MainForm& f) { return f.CurrentPage; }).value_or(-1); }

    std::vector<std::string> clicks() { return snapshot(clicks_); }
    std::vector<std::string> checkBoxClicks() { return snapshot(checkBoxClicks_); }

    static QPoint centre(QWidget* w) { return w->rect().center(); }

    // Runs on the engine thread as the factory builds the form, the way a tool's own
    // factory sets its watchers.
    std::function<void(MainForm&)> configureForm;
    QTemporaryDir logs_;  // day logs of this test
    sim::SimPlatform platform_;
    FakeHostInfo hostInfo_;
    std::unique_ptr<EngineHost> host_;
    std::unique_ptr<GuiSession> session_;
    std::atomic<int> quits_{0};

private:
    void record(std::vector<std::string>& list, const std::string& item) {
        std::lock_guard<std::mutex> lock(mu_);
        list.push_back(item);
    }
    std::vector<std::string> snapshot(const std::vector<std::string>& list) {
        std::lock_guard<std::mutex> lock(mu_);
        return list;
    }

    std::mutex mu_;
    std::vector<std::string> clicks_;
    std::vector<std::string> checkBoxClicks_;
};

}  // namespace raid::gui::test
