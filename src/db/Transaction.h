#pragma once
// One transaction on a connection, kept by its scope: begun when the guard is made, taken back
// when the guard goes unless it was committed first. A step that throws half-way leaves none
// of its rows behind, and the connection is free for the next transaction.
//
//     Transaction transaction(connection);   // BeginTrans; throws as it does
//     ... the step's changes ...
//     transaction.commit();                   // CommitTrans; throws as it does

#include "Recordset.h"

namespace zeph::db {

class Transaction {
public:
    explicit Transaction(Connection &connection)
        : m_connection(connection) {
        m_connection.BeginTrans();
    }
    /// Takes the changes back unless they were committed or taken back already. A rollback
    /// that fails here cannot be reported: the server drops a transaction its connection never
    /// committed.
    ~Transaction() {
        if (!m_open)
            return;
        try {
            m_connection.RollbackTrans();
        } catch (...) {
            // Nothing more can be done on the way out.
        }
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    Transaction(Transaction &&) = delete;
    Transaction &operator=(Transaction &&) = delete;

    /// Makes the changes lasting. When the commit throws, the transaction is still the guard's
    /// to take back (by rollback() or on the way out).
    void commit() {
        m_connection.CommitTrans();
        m_open = false;
    }
    /// Takes the changes back now, so that its failure can be reported; throws as
    /// RollbackTrans does. The guard does not try again.
    void rollback() {
        m_open = false;
        m_connection.RollbackTrans();
    }
    bool open() const { return m_open; }

private:
    Connection &m_connection;
    bool m_open = true;
};

} // namespace zeph::db
