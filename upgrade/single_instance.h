#pragma once
// One window at a time for each user: the first start holds a lock file in the user's runtime
// directory and listens on a local socket beside it; a second start of the same name asks it to
// come to the front and ends without opening a window or running anything.

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `name`: of the lock and the socket; simulator mode takes a name of its own.
    explicit SingleInstance(QString name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True for the first start, which then holds the lock and listens; also when no lock can be
    // taken at all (nothing must keep the program from starting). False when another start of
    // the same name runs: it has been asked to come to the front.
    bool claim();

signals:
    void asked_to_front(); // another start wants the window to the front

private:
    void listen(const QString& socket);

    const QString name_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

// The user's runtime directory (XDG_RUNTIME_DIR), or the temporary directory without one.
QString runtime_directory();
