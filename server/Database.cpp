#include "Database.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorral::server {
namespace {

// Creates the file owner-only when missing, and takes group and other access away from one
// an earlier version left readable. SQLite gives the -wal and -shm files the database's mode.
void restrictToOwner(const std::string &path, bool create)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0600);
    if (fd < 0) {
        if (!create && errno == ENOENT)
            return;
        throw DatabaseError("cannot open database " + path + ": " + std::strerror(errno));
    }
    struct stat info {};
    const bool ok = ::fstat(fd, &info) == 0 && ((info.st_mode & 077) == 0 || ::fchmod(fd, info.st_mode & 0700) == 0);
    const int error = errno;
    ::close(fd);
    if (!ok)
        throw DatabaseError("cannot make database " + path + " private: " + std::strerror(error));
}

} // namespace

Database::Database(const std::string &path)
{
    restrictToOwner(path, true);
    restrictToOwner(path + "-wal", false);
    restrictToOwner(path + "-shm", false);
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
    m_db.reset(db);
    if (rc != SQLITE_OK)
        throw DatabaseError("cannot open database " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
    sqlite3_busy_timeout(db, 5000);
    // WAL with NORMAL sync keeps the database consistent on a crash; a power cut may lose
    // only the last transactions, which the client sends again as the files change.
    execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
}

void Database::execute(const std::string &sql)
{
    char *error = nullptr;
    if (sqlite3_exec(m_db.get(), sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw DatabaseError("SQL failed: " + message);
    }
}

Statement Database::prepare(const std::string &sql)
{
    return Statement(m_db.get(), sql);
}

int Database::userVersion()
{
    auto s = prepare("PRAGMA user_version");
    s.step();
    return static_cast<int>(s.integer(0));
}

void Database::setUserVersion(int version)
{
    execute("PRAGMA user_version = " + std::to_string(version));
}

std::int64_t Database::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db.get());
}

Statement::Statement(sqlite3 *db, const std::string &sql) : m_db(db)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK)
        throw DatabaseError(std::string("cannot prepare statement: ") + sqlite3_errmsg(db));
    m_stmt.reset(stmt);
}

Statement &Statement::bind(int index, std::int64_t value)
{
    sqlite3_bind_int64(m_stmt.get(), index, value);
    return *this;
}

Statement &Statement::bind(int index, double value)
{
    sqlite3_bind_double(m_stmt.get(), index, value);
    return *this;
}

Statement &Statement::bind(int index, std::string_view value)
{
    sqlite3_bind_text64(m_stmt.get(), index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
}

Statement &Statement::bind(int index, const std::optional<std::string> &value)
{
    return value ? bind(index, std::string_view(*value)) : bindNull(index);
}

Statement &Statement::bindNull(int index)
{
    sqlite3_bind_null(m_stmt.get(), index);
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt.get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throw DatabaseError(std::string("SQL step failed: ") + sqlite3_errmsg(m_db));
}

void Statement::reset()
{
    sqlite3_reset(m_stmt.get());
    sqlite3_clear_bindings(m_stmt.get());
}

std::int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_stmt.get(), column);
}

double Statement::real(int column) const
{
    return sqlite3_column_double(m_stmt.get(), column);
}

std::string Statement::text(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt.get(), column));
    return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt.get(), column))) : std::string();
}

std::string_view Statement::view(int column) const
{
    const auto *data = static_cast<const char *>(sqlite3_column_blob(m_stmt.get(), column));
    return data ? std::string_view(data, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt.get(), column))) : std::string_view();
}

std::optional<std::string> Statement::optionalText(int column) const
{
    if (sqlite3_column_type(m_stmt.get(), column) == SQLITE_NULL)
        return std::nullopt;
    return text(column);
}

Transaction::Transaction(Database &db) : m_db(db)
{
    m_db.execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (!m_done) {
        try {
            m_db.execute("ROLLBACK");
        } catch (const DatabaseError &) {
        }
    }
}

void Transaction::commit()
{
    m_db.execute("COMMIT");
    m_done = true;
}

} // namespace quorral::server
