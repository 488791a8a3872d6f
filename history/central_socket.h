#pragma once
// The socket under a QPSQL connection, for the statement watchdog (statement_watchdog.h).

class QSqlDatabase;

namespace History {

// A duplicate of the open connection's socket descriptor (close-on-exec, so that no child
// process inherits it), or -1 when the driver does not tell it. The duplicate keeps the socket
// itself alive should libpq close its own descriptor during a call: the watchdog then never
// shuts down another socket that was given the same number. Closed with close_socket().
int duplicate_socket(const QSqlDatabase& db);
void close_socket(int& socket);

} // namespace History
