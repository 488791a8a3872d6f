#include "message_log.h"

#include <QMutexLocker>

namespace {
MessageLog* active = nullptr;
}

MessageLog::MessageLog() {
    active = this;
    previous_ = qInstallMessageHandler(&MessageLog::handler);
}

MessageLog::~MessageLog() {
    qInstallMessageHandler(previous_);
    active = nullptr;
}

void MessageLog::handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    MessageLog* log = active;
    if (!log)
        return;
    {
        QMutexLocker lock(&log->mutex_);
        log->messages_.push_back({type, text});
    }
    if (log->previous_)
        log->previous_(type, context, text);
}

std::vector<LoggedMessage> MessageLog::messages() const {
    QMutexLocker lock(&mutex_);
    return messages_;
}

QStringList MessageLog::texts() const {
    QStringList out;
    for (const LoggedMessage& m : messages())
        out << m.text;
    return out;
}

QStringList MessageLog::texts(QtMsgType type) const {
    QStringList out;
    for (const LoggedMessage& m : messages())
        if (m.type == type)
            out << m.text;
    return out;
}

int MessageLog::count(const QString& fragment) const {
    int n = 0;
    for (const LoggedMessage& m : messages())
        if (m.text.contains(fragment))
            ++n;
    return n;
}

void MessageLog::clear() {
    QMutexLocker lock(&mutex_);
    messages_.clear();
}
