#include "gui/GuiDialogs.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QStringList>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace raid::gui {

GuiDialogs::GuiDialogs(QObject* parent) : QObject(parent) {}

GuiDialogs::~GuiDialogs() { shutdown(); }

void GuiDialogs::setTestHook(Hook hook) {
    std::lock_guard<std::mutex> lock(mu_);
    hook_ = std::move(hook);
}

std::vector<GuiDialogs::Shown> GuiDialogs::shown() const {
    std::lock_guard<std::mutex> lock(mu_);
    return shown_;
}

void GuiDialogs::shutdown() {
    std::lock_guard<std::mutex> lock(mu_);
    closed_ = true;
    answered_.notify_all();
}

int GuiDialogs::messageBox(const std::string& text, const std::string& caption, int buttons) {
    Hook hook;
    {
        std::lock_guard<std::mutex> lock(mu_);
        shown_.push_back({text, shownCaption(caption), buttons});
        if (closed_) return Ok;
        hook = hook_;
    }
    if (hook) return hook(text, shownCaption(caption), buttons);

    // Asked on the window's own thread (no engine in between): a plain modal box.
    if (QThread::currentThread() == thread()) return exec(window_.data(), text, caption, buttons);

    auto request = std::make_shared<Request>();
    request->text = text;
    request->caption = caption;
    request->buttons = buttons;
    return ask(request) ? request->answer : Ok;
}

bool GuiDialogs::ask(const std::shared_ptr<Request>& request) {
    std::unique_lock<std::mutex> lock(mu_);
    if (closed_) return false;
    // Queued under the lock: shutdown() (and so the destructor) cannot run between the
    // check above and the posting, so the call never targets a destroyed object.
    QMetaObject::invokeMethod(this, [this, request] { show(request); }, Qt::QueuedConnection);
    answered_.wait(lock, [&] { return request->done || closed_; });
    return request->done;
}

void GuiDialogs::setFileHook(FileHook hook) {
    std::lock_guard<std::mutex> lock(mu_);
    fileHook_ = std::move(hook);
}

QString GuiDialogs::qtFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList names;
    for (int i = 0; i < parts.size(); i += 2) names << parts[i];
    return names.join(QStringLiteral(";;"));
}

bool GuiDialogs::chooseFile(const std::string& filter, std::string& path) {
    FileHook hook;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (closed_) return false;
        hook = fileHook_;
    }
    if (hook) {
        path = hook(filter);
        return !path.empty();
    }
    auto request = std::make_shared<Request>();
    request->file = true;
    request->text = filter;
    if (QThread::currentThread() == thread()) {
        show(request);
    } else if (!ask(request)) {
        return false;
    }
    path = request->chosen;
    return !path.empty();
}

void GuiDialogs::show(const std::shared_ptr<Request>& request) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (closed_) return;
    }
    int answer = Ok;
    std::string chosen;
    if (request->file)
        chosen = QFileDialog::getOpenFileName(window_.data(), QString(), QString(), qtFilter(request->text)).toStdString();
    else
        answer = exec(window_.data(), request->text, request->caption, request->buttons);
    std::lock_guard<std::mutex> lock(mu_);
    request->answer = answer;
    request->chosen = std::move(chosen);
    request->done = true;
    answered_.notify_all();
}

int GuiDialogs::exec(QWidget* parent, const std::string& text, const std::string& caption, int buttons) {
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setWindowTitle(QString::fromStdString(shownCaption(caption)));
    // Engine texts are plain: a device name or file path must not be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    // "Warning:" is the caption of a firmware file that cannot be read: an error.
    if (caption.empty() || caption == "Error" || caption == "Warning:")
        box.setIcon(QMessageBox::Critical);
    else if (caption.rfind("Warning", 0) == 0 || caption == "Firmware Upgrade Message")
        box.setIcon(QMessageBox::Warning);
    else if (buttons == YesNo)
        box.setIcon(QMessageBox::Question);
    else
        box.setIcon(QMessageBox::Information);

    // Every box has an escape button: closing it from the title bar (or the
    // application closing its windows on quit) gives the cautious answer.
    switch (buttons) {
        case OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        case YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
            break;
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Cancel: return Cancel;
        case QMessageBox::Yes: return Yes;
        case QMessageBox::No: return No;
        case QMessageBox::Ok: return Ok;
        default: break;
    }
    return buttons == OkCancel ? Cancel : buttons == YesNo ? No : Ok;
}

}  // namespace raid::gui
