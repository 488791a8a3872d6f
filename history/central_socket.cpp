#include "history/central_socket.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <dlfcn.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <unistd.h>

namespace History {

namespace {

// libpq's PQsocket, from the libpq that Qt's QPSQL driver has loaded with itself: the programs
// do not link libpq (nor its TLS and Kerberos libraries), so that a bench without a central
// record never loads it. Null while no QPSQL connection exists.
using Socket_of = int (*)(const PGconn*);
Socket_of socket_of() {
    void* libpq = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
    if (!libpq)
        return nullptr;
    auto* found = reinterpret_cast<Socket_of>(::dlsym(libpq, "PQsocket"));
    ::dlclose(libpq); // QPSQL's own reference keeps it loaded
    return found;
}

} // namespace

// QPSQL hands out its libpq connection as a QVariant of type "PGconn*"; only PQsocket() is
// asked of it, in the connection's own thread.
int duplicate_socket(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "PGconn*") != 0)
        return -1;
    PGconn* connection = *static_cast<PGconn* const*>(handle.constData());
    static const Socket_of pq_socket = socket_of();
    const int socket = connection && pq_socket ? pq_socket(connection) : -1;
    return socket < 0 ? -1 : ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
}

void close_socket(int& socket) {
    if (socket >= 0)
        ::close(socket);
    socket = -1;
}

} // namespace History
