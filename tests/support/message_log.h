#pragma once
// Captures the Qt message log for a test: every message raised while a MessageLog exists is
// recorded (type and text), then passed on to the handler that was installed before.

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

struct LoggedMessage {
    QtMsgType type;
    QString text;
};

class MessageLog {
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    std::vector<LoggedMessage> messages() const;
    QStringList texts() const;
    QStringList texts(QtMsgType type) const;
    // How many messages contain the fragment.
    int count(const QString& fragment) const;
    bool contains(const QString& fragment) const { return count(fragment) > 0; }
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text);
    mutable QMutex mutex_;
    std::vector<LoggedMessage> messages_;
    QtMessageHandler previous_ = nullptr;
};
