#pragma once
// The lock beside a record ("<record>.lock", flock(2)) that every program takes to use the
// record: shared while it opens the record or writes a row, exclusive to move a damaged record
// aside. So no row goes into a file that another program is moving, and two programs that find
// the same damage move it once. Taken without waiting: a lock that is not free now is tried
// again later by the caller.

#include <QString>

namespace History {

class RecordLock {
public:
    enum class Mode { shared, exclusive };
    // Tries for the lock; is_held() says whether it was had, why() says why not.
    RecordLock(const QString& record_path, Mode mode);
    ~RecordLock();
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;

    bool is_held() const { return fd >= 0; }
    // Not held because another program holds it (rather than because it cannot be made).
    bool is_contended() const { return contended_; }
    const QString& why() const { return why_; }

private:
    int fd = -1;
    bool contended_ = false;
    QString why_;
};

// Which file a path names now: a record moved aside and replaced is another file.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
};
// Of the file at `path`; all zero when there is none.
FileIdentity identity_of(const QString& path);

} // namespace History
