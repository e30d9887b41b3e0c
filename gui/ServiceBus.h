// What the two halves of the window's service client share (ServiceClient.cpp follows
// the service's objects and signals, ServiceCalls.cpp makes its method calls): the names
// the service answers to, and how much of its answers the window takes.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <string>
#include <vector>

namespace raid::gui::servicebus {

inline const QString kName = QStringLiteral("org.qxraidgui.Monitor1");
inline const QString kManager = QStringLiteral("/org/qxraidgui/Monitor1");
inline const QString kManagerInterface = QStringLiteral("org.qxraidgui.Monitor1");
inline const QString kEnclosureInterface = QStringLiteral("org.qxraidgui.Monitor1.Enclosure");
inline const QString kEnclosurePrefix = QStringLiteral("/org/qxraidgui/Monitor1/enclosure/");
inline const QString kUpgradeInterface = QStringLiteral("org.qxraidgui.Monitor1.Upgrade");
inline const QString kJobPrefix = QStringLiteral("/org/qxraidgui/Monitor1/job/");
inline const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
inline const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// The service is trusted, its answer still measured: no text longer than the page takes
// at most (a contents), no more recipients than the page holds.
inline std::string bounded(const QVariant& v) { return v.toString().left(64 * 1024).toStdString(); }
inline std::vector<std::string> boundedList(const QVariant& v, qsizetype most) {
    std::vector<std::string> out;
    for (const QString& s : v.toStringList().mid(0, most)) out.push_back(s.left(64 * 1024).toStdString());
    return out;
}

}  // namespace raid::gui::servicebus
