#include "service/MetricsSetting.h"

#include <memory>

#include "platform/Platform.h"
#include "platform/SettingsPort.h"

namespace raid::service {

namespace {

bool absolute(const std::string& path) {
#ifdef _WIN32
    // "C:\..." or "\\server\share\...".
    return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) || path.rfind("\\\\", 0) == 0;
#else
    return !path.empty() && path[0] == '/';
#endif
}

}  // namespace

std::string metricsFolderRefusal(const std::string& path) {
    if (path.empty()) return "";
    if (path.size() > kMetricsFolderLimit)
        return "metrics-folder takes at most " + std::to_string(kMetricsFolderLimit) + " bytes, not " +
               std::to_string(path.size());
    for (const char c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "metrics-folder holds a control character";
    if (!absolute(path)) return "metrics-folder takes an absolute path";
    return "";
}

std::optional<std::string> storedMetricsFolder(const std::string& settingsPath, std::string& problem) {
    const std::unique_ptr<SettingsPort> file = openSettings(settingsPath);
    const std::optional<RegValue> value = file->read(kMetricsFolderValue);
    if (!value) return std::nullopt;
    if (value->type != RegType::Sz) {
        problem = std::string("the ") + kMetricsFolderValue + " setting is not text";
        return std::nullopt;
    }
    problem = metricsFolderRefusal(value->text);
    if (!problem.empty()) return std::nullopt;
    return value->text;
}

std::string metricsFolderInUse(const std::string& commandLine, const std::string& settingsPath,
                               const std::string& machineDefault, std::string& problem) {
    problem.clear();
    if (!commandLine.empty()) return commandLine;
    if (const auto stored = storedMetricsFolder(settingsPath, problem)) return *stored;
    return machineDefault;
}

}  // namespace raid::service
