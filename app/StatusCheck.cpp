#include "app/StatusCheck.h"

#include "app/MainForm.h"

namespace raid {

StatusSummary runStatusCheck(MainForm& form, std::int64_t timeoutUs, const std::function<std::string(int)>& driveName,
                             const std::function<void()>& created) {
    Scheduler& sched = form.scheduler();
    sched.adoptCurrentThread();
    form.FormCreate();
    if (created) created();
    auto complete = [&form] {
        if (form.detection().passesEnded() == 0) return false;
        return form.dev.ActiveCount == 0 || form.PollsDone > 0;
    };
    const bool done = sched.pumpUntil(complete, timeoutUs);
    const std::uint8_t polled = form.PollsDone > 0 ? form.LastPollMask : 0;
    StatusSummary summary = summarizeStatus(form.dev, polled, driveName);
    addTimeLeft(summary, [&form](int i) { return form.decoder().timeLeft(i).estimate(); });

    // What the program itself would have told the user in the status bar's error panel
    // (a device it could not read, drives it may not use).
    auto note = [&summary](std::string text) {
        const std::size_t end = text.find_last_not_of(' ');
        text.erase(end == std::string::npos ? 0 : end + 1);
        if (!text.empty()) summary.notes.push_back(text);
    };
    note(form.panelText(4));
    if (!done)
        summary.notes.push_back("The check did not complete within " + std::to_string(timeoutUs / 1000000) + " s.");
    form.FormClose();
    return summary;
}

}  // namespace raid
