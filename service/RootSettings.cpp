#include "service/RootSettings.h"

#include <memory>

#include "app/HeadlessOutput.h"
#include "notify/AlertProgram.h"
#include "platform/Platform.h"
#include "platform/ProgramRun.h"
#include "platform/SettingsPort.h"
#include "service/AlertProgramRunner.h"
#include "service/MetricsSetting.h"

namespace raid::service {

namespace {

// `path` saved as `value` of the settings file, unless `why` refuses it; false when
// nothing was saved, which `err` then says (`key` is the --set word).
bool save(const std::string& file, const char* key, const char* value, const std::string& path,
          const std::string& why, std::ostream& err) {
    if (!why.empty()) {
        err << "raid-gui-monitor: " << escapeText(why) << "; nothing was saved\n";
        return false;
    }
    const std::unique_ptr<SettingsPort> settings = openSettings(file);
    const std::string problem = settings->update({SettingsUpdate::set(value, RegValue::sz(path))});
    if (!problem.empty()) {
        err << "raid-gui-monitor: " << key << " was not saved to " << file << ": " << escapeText(problem) << '\n';
        return false;
    }
    return true;
}

int setAlertCommand(const std::string& file, const std::string& path, std::ostream& out, std::ostream& err) {
#ifdef _WIN32
    (void)path;
    (void)file;
    (void)out;
    err << "raid-gui-monitor: alert-command: alert programs are not run on Windows; nothing was saved\n";
    return 1;
#else
    // The service runs the program as root: naming it is as much as being root.
    if (!runningAsRoot()) {
        err << "raid-gui-monitor: only root may set alert-command (the service runs the program as root); "
               "nothing was saved\n";
        return 1;
    }
    std::string why = alertCommandRefusal(path);
    if (why.empty() && !path.empty()) {
        why = alertProgramFileRefusal(path);
        if (!why.empty()) why = "alert-command: " + path + ": " + why;
    }
    if (!save(file, "alert-command", kAlertCommandValue, path, why, err)) return 1;
    out << (path.empty() ? "No alert program; saved to " : "Alert program saved to ") << file << '\n';
    return 0;
#endif
}

int setMetricsFolder(const std::string& file, const std::string& path, std::ostream& out, std::ostream& err) {
#ifndef _WIN32
    // The service writes there as root.
    if (!runningAsRoot()) {
        err << "raid-gui-monitor: only root may set metrics-folder (the service writes there as root); "
               "nothing was saved\n";
        return 1;
    }
#endif
    if (!save(file, "metrics-folder", kMetricsFolderValue, path, metricsFolderRefusal(path), err)) return 1;
    out << (path.empty() ? "No metrics; saved to " : "Metrics folder saved to ") << file
        << " (a running service takes it at its next reload)\n";
    return 0;
}

}  // namespace

std::optional<int> setRootSetting(const std::vector<std::string>& words, const std::string& settingsFile,
                                  std::ostream& out, std::ostream& err) {
    for (const std::string key : {"alert-command=", "metrics-folder="}) {
        for (const std::string& word : words) {
            if (word.rfind(key, 0) != 0) continue;
            if (words.size() != 1) {
                err << "raid-gui-monitor: --set " << key << "PATH is given on its own\n";
                return 2;
            }
            const std::string value = word.substr(key.size());
            return key == "alert-command=" ? setAlertCommand(settingsFile, value, out, err)
                                           : setMetricsFolder(settingsFile, value, out, err);
        }
    }
    return std::nullopt;
}

}  // namespace raid::service
