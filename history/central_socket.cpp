#include "history/central_socket.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <fcntl.h>
#include <libpq-fe.h>
#include <unistd.h>

namespace History {

// QPSQL hands out its libpq connection as a QVariant of type "PGconn*"; only PQsocket() is
// asked of it, in the connection's own thread.
int duplicate_socket(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "PGconn*") != 0)
        return -1;
    PGconn* connection = *static_cast<PGconn* const*>(handle.constData());
    const int socket = connection ? PQsocket(connection) : -1;
    return socket < 0 ? -1 : ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
}

void close_socket(int& socket) {
    if (socket >= 0)
        ::close(socket);
    socket = -1;
}

} // namespace History
