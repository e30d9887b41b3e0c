#include "maintenance/UpgradePageModel.h"

#include <algorithm>

#include "monitor/StatusRecord.h"

namespace raid {

void UpgradePageModel::begin(const std::string& title, const std::string& panelText, std::uint32_t maximum) {
    view_.title = title;
    view_.panelShown = true;
    view_.panelText = panelText;
    view_.maximum = maximum;
    view_.value = 0;
    view_.timerRunning = true;
}

void UpgradePageModel::copyProgress(std::uint32_t value) { view_.value = std::min(value, view_.maximum); }

void UpgradePageModel::end() {
    view_.timerRunning = false;
    view_.panelShown = false;
}

std::string firmwareVersionText(const Sector& identity, const Sector& status) {
    return firmwareRevision(identity) + "." + StatusRecord(status).subCode();
}

}  // namespace raid
