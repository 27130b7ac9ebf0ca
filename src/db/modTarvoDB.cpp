#include "modTarvoDB.h"

#include <exception>

namespace zeph::db {

modTarvoDB::modTarvoDB(IDatabase &database)
    : m_database(&database)
    , m_nonPrimaryCallHandlers(database)
    , m_primaryCallHandlers(database)
    , m_subscribers(database)
    , m_subscriberTemplates(database)
    , m_cos(database) {}

bool modTarvoDB::bOpenDatabase(const std::string &connectionText) {
    try {
        openTables(connectionText);
        return true;
    } catch (const std::exception &) {
        // Whatever failed, start-up shows one fatal message of its own.
        return false;
    }
}

bool modTarvoDB::bReopenDatabase(const std::string &connectionText) {
    try {
        for (Recordset *table : {&m_nonPrimaryCallHandlers, &m_primaryCallHandlers, &m_subscribers,
                                 &m_subscriberTemplates, &m_cos})
            table->Close();
    } catch (const std::exception &) {
        return false; // a row is being edited: the tables stay as they are
    }
    return bOpenDatabase(connectionText);
}

void modTarvoDB::openTables(const std::string &connectionText) {
    m_nonPrimaryCallHandlers.CursorLocation(adUseClient);
    m_nonPrimaryCallHandlers.Open(
        "Select * from vw_CallHandler_NonPrimary order by CallHandlerObjectID", connectionText,
        adOpenKeyset, adLockReadOnly);

    // The primary call handlers stay at the default (server) cursor place.
    m_primaryCallHandlers.Open("Select * from vw_CallHandler_Primary order by CallHandlerObjectID",
                               connectionText, adOpenKeyset, adLockReadOnly);

    m_nonPrimaryCallHandlers.Fields("CallHandlerObjectID").Optimize(true);

    m_subscribers.CursorLocation(adUseClient);
    m_subscribers.Open("Select * from vw_Subscriber order by SubscriberObjectID", connectionText,
                       adOpenKeyset, adLockOptimistic);
    m_subscribers.Fields("SubscriberObjectID").Optimize(true);

    m_subscriberTemplates.CursorLocation(adUseClient);
    m_subscriberTemplates.Open("Select * from vw_SubscriberTemplate", connectionText, adOpenKeyset,
                               adLockReadOnly);

    m_cos.CursorLocation(adUseClient);
    m_cos.Open("Select * from vw_COS", connectionText, adOpenKeyset, adLockReadOnly);
}

} // namespace zeph::db
