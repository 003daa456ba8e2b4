#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorral::server {

struct DatabaseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Statement;

// One SQLite connection. Not thread-safe: the service serialises access to it.
// The file and its -wal and -shm companions are readable by their owner only: they hold
// the user's conversations.
class Database {
public:
    explicit Database(const std::string &path);

    // The schema version kept in the file (PRAGMA user_version); 0 for a new file.
    int userVersion();
    void setUserVersion(int version);

    void execute(const std::string &sql);
    Statement prepare(const std::string &sql);
    std::int64_t lastInsertId() const;
    sqlite3 *handle() const { return m_db.get(); }

private:
    struct Closer {
        void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
    };
    std::unique_ptr<sqlite3, Closer> m_db;
};

// A prepared statement with positional binds (1-based) and column reads (0-based).
class Statement {
public:
    Statement(sqlite3 *db, const std::string &sql);

    Statement &bind(int index, std::int64_t value);
    Statement &bind(int index, double value);
    Statement &bind(int index, std::string_view value);
    Statement &bind(int index, const std::optional<std::string> &value);
    Statement &bindNull(int index);

    // Advances to the next row; false when done. Throws on an error.
    bool step();
    void run() { while (step()) {} }
    // Ready to run again with new binds.
    void reset();

    std::int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    // The column's bytes without a copy, valid until the next step or reset.
    std::string_view view(int column) const;
    std::optional<std::string> optionalText(int column) const;

private:
    struct Finalizer {
        void operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }
    };
    sqlite3 *m_db;
    std::unique_ptr<sqlite3_stmt, Finalizer> m_stmt;
};

// BEGIN IMMEDIATE on construction; rolls back unless commit() was called.
class Transaction {
public:
    explicit Transaction(Database &db);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit();

private:
    Database &m_db;
    bool m_done = false;
};

} // namespace quorral::server
