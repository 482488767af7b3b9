// Transactions and savepoints as scoped objects: whatever way the scope is left, what was
// not committed (released) is rolled back, so no path can leave one open.
#pragma once

#include <string>

class CDBConnection;

namespace db {

class Transaction {
public:
    // BEGIN on `connection`; Active() tells whether it began.
    explicit Transaction(CDBConnection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Active() const { return m_bActive; }
    // COMMIT; true when it committed. A refused commit is rolled back at once.
    bool Commit();
    void Rollback();

private:
    CDBConnection& m_connection;
    bool m_bActive = false;
};

// A savepoint, usable inside or outside a transaction: releasing it keeps its work,
// anything else undoes exactly its work and nothing before it.
class Savepoint {
public:
    Savepoint(CDBConnection& connection, std::string name);
    ~Savepoint();
    Savepoint(const Savepoint&) = delete;
    Savepoint& operator=(const Savepoint&) = delete;

    bool Active() const { return m_bActive; }
    bool Release();
    void Rollback();

private:
    CDBConnection& m_connection;
    std::string m_name;
    bool m_bActive = false;
};

}  // namespace db
