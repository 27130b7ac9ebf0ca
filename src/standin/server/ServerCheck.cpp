// The invariants of the server database. Each one is a query that lists the rows breaking it.
//
// Extensions: the server keeps an extension unique within a location (a unique index does,
// and the check looks again in case a tool went around it). Two locations of one dialing
// domain may still use the same extension; the server allows that (locations joined to a
// dialing domain keep their numbers) and a reset skips such subscribers, so the check does
// not count it as a violation. docs/stand-in-server.md shows how to list those conflicts.
#include "ServerCheck.h"

#include "ServerSql.h"

namespace zeph::sqlite::server {

namespace {

struct Invariant {
    const char *kind;
    const char *sql; // one text column per violating row
};

// clang-format off
const Invariant kInvariants[] = {
    // Subscribers.
    {"subscriber without primary call handler",
     "SELECT 'subscriber ' || s.SubscriberObjectID || ' (' || s.Alias || ') names call handler ' "
     "|| IFNULL(s.CallHandlerObjectID, 'NULL') || ', which does not exist' FROM Subscriber s "
     "WHERE NOT EXISTS (SELECT 1 FROM CallHandler ch "
     "WHERE ch.CallHandlerObjectID = s.CallHandlerObjectID)"},
    {"subscriber's call handler is not its primary call handler",
     "SELECT 'subscriber ' || s.SubscriberObjectID || ' (' || s.Alias || '): call handler ' || "
     "ch.CallHandlerObjectID || ' has IsPrimary=' || ch.IsPrimary || ' and owner ' || "
     "IFNULL(ch.AdministratorObjectID, 'NULL') FROM Subscriber s JOIN CallHandler ch "
     "ON ch.CallHandlerObjectID = s.CallHandlerObjectID "
     "WHERE ch.IsPrimary <> 1 OR ch.AdministratorObjectID IS NOT s.SubscriberObjectID"},
    {"call handler shared by subscribers",
     "SELECT 'call handler ' || CallHandlerObjectID || ' is the primary call handler of ' || "
     "COUNT(*) || ' subscribers' FROM Subscriber WHERE CallHandlerObjectID IS NOT NULL "
     "GROUP BY CallHandlerObjectID HAVING COUNT(*) > 1"},
    {"subscriber's class of service missing",
     "SELECT 'subscriber ' || s.SubscriberObjectID || ' (' || s.Alias || ') names class of "
     "service ' || IFNULL(s.COSObjectID, 'NULL') FROM Subscriber s WHERE NOT EXISTS "
     "(SELECT 1 FROM COS c WHERE c.COSObjectID = s.COSObjectID)"},
    {"subscriber's location missing",
     "SELECT 'subscriber ' || s.SubscriberObjectID || ' (' || s.Alias || ') names location ' || "
     "IFNULL(s.LocationObjectID, 'NULL') FROM Subscriber s WHERE NOT EXISTS "
     "(SELECT 1 FROM Location l WHERE l.LocationObjectID = s.LocationObjectID)"},
    {"subscriber without global subscriber row",
     "SELECT 'subscriber ' || s.SubscriberObjectID || ' (' || s.Alias || ')' FROM Subscriber s "
     "WHERE NOT EXISTS (SELECT 1 FROM GlobalSubscriber g "
     "WHERE g.SubscriberObjectID = s.SubscriberObjectID)"},
    {"global subscriber row without subscriber",
     "SELECT 'global subscriber ' || g.SubscriberObjectID || ' (' || IFNULL(g.Alias, 'NULL') "
     "|| ')' "
     "FROM GlobalSubscriber g WHERE NOT EXISTS (SELECT 1 FROM Subscriber s "
     "WHERE s.SubscriberObjectID = g.SubscriberObjectID)"},
    {"global subscriber row names another call handler",
     "SELECT 'global subscriber ' || g.SubscriberObjectID || ' names call handler ' || "
     "IFNULL(g.CallHandlerObjectID, 'NULL') || ', the subscriber ' || "
     "IFNULL(s.CallHandlerObjectID, 'NULL')"
     " FROM GlobalSubscriber g JOIN Subscriber s ON s.SubscriberObjectID = g.SubscriberObjectID "
     "WHERE g.CallHandlerObjectID IS NOT s.CallHandlerObjectID"},
    {"subscriber's directory account missing",
     "SELECT 'subscriber ' || s.SubscriberObjectID || ' (' || s.Alias || ') names directory "
     "account ' || s.DirectoryID FROM Subscriber s WHERE s.DirectoryID IS NOT NULL AND NOT EXISTS "
     "(SELECT 1 FROM DirectoryObject d WHERE d.DirectoryID = s.DirectoryID)"},
    {"directory account names a missing object",
     "SELECT 'directory ' || d.ObjectClass || ' ' || d.DirectoryID || ' (' || "
     "IFNULL(d.Alias, 'NULL')"
     " || ') names ' || d.TarvoObjectID FROM DirectoryObject d WHERE d.TarvoObjectID IS NOT NULL "
     "AND NOT EXISTS (SELECT 1 FROM Subscriber s WHERE s.SubscriberObjectID = d.TarvoObjectID) "
     "AND NOT EXISTS (SELECT 1 FROM DistributionList l "
     "WHERE l.DistributionListObjectID = d.TarvoObjectID)"},

    // Call handlers.
    {"primary call handler without subscriber",
     "SELECT 'call handler ' || ch.CallHandlerObjectID || ' (' || ch.Alias || ')' "
     "FROM CallHandler ch WHERE ch.IsPrimary = 1 AND NOT EXISTS (SELECT 1 FROM Subscriber s "
     "WHERE s.CallHandlerObjectID = ch.CallHandlerObjectID)"},
    {"call handler's owner missing",
     "SELECT 'call handler ' || ch.CallHandlerObjectID || ' (' || ch.Alias || ') is owned by ' || "
     "ch.AdministratorObjectID FROM CallHandler ch WHERE ch.AdministratorObjectID IS NOT NULL "
     "AND NOT EXISTS (SELECT 1 FROM Subscriber s "
     "WHERE s.SubscriberObjectID = ch.AdministratorObjectID)"},
    {"call handler's recipient missing",
     "SELECT 'call handler ' || ch.CallHandlerObjectID || ' (' || ch.Alias || ') sends messages "
     "to ' || ch.RecipientObjectID FROM CallHandler ch WHERE ch.RecipientObjectID IS NOT NULL "
     "AND NOT EXISTS (SELECT 1 FROM Subscriber s WHERE s.SubscriberObjectID = "
     "ch.RecipientObjectID) AND NOT EXISTS (SELECT 1 FROM DistributionList l "
     "WHERE l.DistributionListObjectID = ch.RecipientObjectID)"},
    {"call handler's location missing",
     "SELECT 'call handler ' || ch.CallHandlerObjectID || ' (' || ch.Alias || ') names location ' "
     "|| IFNULL(ch.LocationObjectID, 'NULL') FROM CallHandler ch WHERE NOT EXISTS "
     "(SELECT 1 FROM Location l WHERE l.LocationObjectID = ch.LocationObjectID)"},

    // Rules and menus of call handlers (and of call handler templates).
    {"messaging rule without call handler",
     "SELECT 'messaging rule ' || r.MessagingRuleObjectID || ' (' || r.Alias || ') belongs to ' "
     "|| r.ParentObjectID FROM MessagingRule r WHERE NOT EXISTS (SELECT 1 FROM CallHandler ch "
     "WHERE ch.CallHandlerObjectID = r.ParentObjectID) AND NOT EXISTS (SELECT 1 FROM "
     "CallHandlerTemplate t WHERE t.CallHandlerTemplateObjectID = r.ParentObjectID)"},
    {"contact rule without call handler",
     "SELECT 'contact rule ' || r.ContactRuleObjectID || ' (' || r.Alias || ') belongs to ' "
     "|| r.ParentObjectID FROM ContactRule r WHERE NOT EXISTS (SELECT 1 FROM CallHandler ch "
     "WHERE ch.CallHandlerObjectID = r.ParentObjectID) AND NOT EXISTS (SELECT 1 FROM "
     "CallHandlerTemplate t WHERE t.CallHandlerTemplateObjectID = r.ParentObjectID)"},
    {"menu entry without call handler",
     "SELECT 'menu entry ' || m.MenuEntryObjectID || ' (key ' || m.Alias || ') belongs to ' "
     "|| m.ParentObjectID FROM MenuEntry m WHERE NOT EXISTS (SELECT 1 FROM CallHandler ch "
     "WHERE ch.CallHandlerObjectID = m.ParentObjectID) AND NOT EXISTS (SELECT 1 FROM "
     "CallHandlerTemplate t WHERE t.CallHandlerTemplateObjectID = m.ParentObjectID)"},
    {"menu entry's target missing",
     "SELECT 'menu entry ' || m.MenuEntryObjectID || ' (key ' || m.Alias || ' of ' || "
     "m.ParentObjectID || ') goes to ' || m.TargetHandlerObjectID FROM MenuEntry m "
     "WHERE m.TargetHandlerObjectID IS NOT NULL "
     "AND NOT EXISTS (SELECT 1 FROM CallHandler ch "
     "WHERE ch.CallHandlerObjectID = m.TargetHandlerObjectID) "
     "AND NOT EXISTS (SELECT 1 FROM InterviewHandler ih "
     "WHERE ih.InterviewHandlerObjectID = m.TargetHandlerObjectID) "
     "AND NOT EXISTS (SELECT 1 FROM DirectoryHandler dh "
     "WHERE dh.DirectoryHandlerObjectID = m.TargetHandlerObjectID)"},

    // Notification rows of subscribers (and of subscriber templates).
    {"notification device without subscriber",
     "SELECT 'notification device ' || n.NotificationDeviceObjectID || ' (' || n.Alias || ') "
     "belongs to ' || n.ParentObjectID FROM NotificationDevice n WHERE NOT EXISTS (SELECT 1 "
     "FROM Subscriber s WHERE s.SubscriberObjectID = n.ParentObjectID) AND NOT EXISTS (SELECT 1 "
     "FROM SubscriberTemplate t WHERE t.SubscriberTemplateObjectID = n.ParentObjectID)"},
    {"notification rule without subscriber",
     "SELECT 'notification rule ' || n.NotificationRuleObjectID || ' (' || n.Alias || ') "
     "belongs to ' || n.ParentObjectID FROM NotificationRule n WHERE NOT EXISTS (SELECT 1 "
     "FROM Subscriber s WHERE s.SubscriberObjectID = n.ParentObjectID) AND NOT EXISTS (SELECT 1 "
     "FROM SubscriberTemplate t WHERE t.SubscriberTemplateObjectID = n.ParentObjectID)"},
    {"notification MWI without subscriber",
     "SELECT 'notification MWI ' || n.NotificationMWIObjectID || ' (' || n.Alias || ') "
     "belongs to ' || n.ParentObjectID FROM NotificationMWI n WHERE NOT EXISTS (SELECT 1 "
     "FROM Subscriber s WHERE s.SubscriberObjectID = n.ParentObjectID) AND NOT EXISTS (SELECT 1 "
     "FROM SubscriberTemplate t WHERE t.SubscriberTemplateObjectID = n.ParentObjectID)"},
    {"notification rule's device missing",
     "SELECT 'notification rule ' || n.NotificationRuleObjectID || ' (' || n.Alias || ' of ' || "
     "n.ParentObjectID || ') uses device ' || n.DeviceObjectID FROM NotificationRule n "
     "WHERE n.DeviceObjectID IS NOT NULL AND NOT EXISTS (SELECT 1 FROM NotificationDevice d "
     "WHERE d.NotificationDeviceObjectID = n.DeviceObjectID "
     "AND d.ParentObjectID = n.ParentObjectID)"},

    // Distribution lists, interview handlers, templates.
    {"distribution list member without list",
     "SELECT 'member ' || m.MemberObjectID || ' of list ' || m.DistributionListObjectID "
     "FROM DistributionListMember m WHERE NOT EXISTS (SELECT 1 FROM DistributionList l "
     "WHERE l.DistributionListObjectID = m.DistributionListObjectID)"},
    {"distribution list member without subscriber",
     "SELECT 'list ' || m.DistributionListObjectID || ' (' || IFNULL(l.Alias, 'NULL') || ') holds "
     "member ' || m.MemberObjectID FROM DistributionListMember m LEFT JOIN DistributionList l "
     "ON l.DistributionListObjectID = m.DistributionListObjectID WHERE NOT EXISTS (SELECT 1 "
     "FROM Subscriber s WHERE s.SubscriberObjectID = m.MemberObjectID)"},
    {"distribution list's owner missing",
     "SELECT 'list ' || l.DistributionListObjectID || ' (' || l.Alias || ') is owned by ' || "
     "l.AdministratorObjectID FROM DistributionList l WHERE l.AdministratorObjectID IS NOT NULL "
     "AND NOT EXISTS (SELECT 1 FROM Subscriber s "
     "WHERE s.SubscriberObjectID = l.AdministratorObjectID)"},
    {"distribution list's directory group missing",
     "SELECT 'list ' || l.DistributionListObjectID || ' (' || l.Alias || ') names group ' || "
     "l.DirectoryID FROM DistributionList l WHERE l.DirectoryID IS NOT NULL AND NOT EXISTS "
     "(SELECT 1 FROM DirectoryObject d WHERE d.DirectoryID = l.DirectoryID)"},
    {"interview handler's recipient missing",
     "SELECT 'interview handler ' || h.InterviewHandlerObjectID || ' (' || h.Alias || ') sends "
     "messages to ' || h.RecipientObjectID FROM InterviewHandler h "
     "WHERE h.RecipientObjectID IS NOT NULL AND NOT EXISTS (SELECT 1 FROM Subscriber s "
     "WHERE s.SubscriberObjectID = h.RecipientObjectID) AND NOT EXISTS (SELECT 1 FROM "
     "DistributionList l WHERE l.DistributionListObjectID = h.RecipientObjectID)"},
    {"subscriber template reference missing",
     "SELECT 'template ' || t.SubscriberTemplateObjectID || ' (' || t.Alias || ') names a missing "
     "' || CASE WHEN NOT EXISTS (SELECT 1 FROM COS c WHERE c.COSObjectID = t.COSObjectID) "
     "THEN 'class of service ' || IFNULL(t.COSObjectID, 'NULL') ELSE 'call handler template ' || "
     "IFNULL(t.CallHandlerTemplateObjectID, 'NULL') END FROM SubscriberTemplate t "
     "WHERE NOT EXISTS (SELECT 1 FROM COS c WHERE c.COSObjectID = t.COSObjectID) "
     "OR NOT EXISTS (SELECT 1 FROM CallHandlerTemplate h "
     "WHERE h.CallHandlerTemplateObjectID = t.CallHandlerTemplateObjectID)"},

    // Extensions.
    {"extension without owner",
     "SELECT 'extension ' || d.DTMFAccessID || ' (' || IFNULL(d.Alias, 'NULL') || ') belongs to "
     "object ' || d.ParentObjectID || ' of type ' || d.ParentObjectIDType || ', which does not "
     "exist' FROM DTMFAccessID d WHERE NOT CASE d.ParentObjectIDType "
     "WHEN 1 THEN EXISTS (SELECT 1 FROM Subscriber x "
     "WHERE x.SubscriberObjectID = d.ParentObjectID) "
     "WHEN 2 THEN EXISTS (SELECT 1 FROM DistributionList x "
     "WHERE x.DistributionListObjectID = d.ParentObjectID) "
     "WHEN 3 THEN EXISTS (SELECT 1 FROM CallHandler x "
     "WHERE x.CallHandlerObjectID = d.ParentObjectID) "
     "WHEN 5 THEN EXISTS (SELECT 1 FROM InterviewHandler x "
     "WHERE x.InterviewHandlerObjectID = d.ParentObjectID) "
     "WHEN 6 THEN EXISTS (SELECT 1 FROM DirectoryHandler x "
     "WHERE x.DirectoryHandlerObjectID = d.ParentObjectID) "
     "WHEN 9 THEN EXISTS (SELECT 1 FROM Location x WHERE x.LocationObjectID = d.ParentObjectID) "
     "ELSE 0 END"},
    {"extension's location missing",
     "SELECT 'extension ' || d.DTMFAccessID || ' of ' || d.ParentObjectID || ' names location ' || "
     "IFNULL(d.LocationObjectID, 'NULL') FROM DTMFAccessID d "
     "WHERE NOT EXISTS (SELECT 1 FROM Location l "
     "WHERE l.LocationObjectID = d.LocationObjectID)"},
    {"subscriber without exactly one primary extension",
     "SELECT 'subscriber ' || s.SubscriberObjectID || ' (' || s.Alias || ') has ' || "
     "(SELECT COUNT(*) FROM DTMFAccessID d WHERE d.ParentObjectID = s.SubscriberObjectID "
     "AND d.IsPrimaryID = 1) || ' primary extensions' FROM Subscriber s WHERE (SELECT COUNT(*) "
     "FROM DTMFAccessID d WHERE d.ParentObjectID = s.SubscriberObjectID AND d.IsPrimaryID = 1) "
     "<> 1"},
    {"object with more than one primary extension",
     "SELECT 'object ' || ParentObjectID || ' of type ' || ParentObjectIDType || ' has ' || "
     "COUNT(*) || ' primary extensions' FROM DTMFAccessID WHERE IsPrimaryID = 1 "
     "AND ParentObjectIDType <> 1 GROUP BY ParentObjectID HAVING COUNT(*) > 1"},
    {"extension used twice at one location",
     "SELECT 'extension ' || DTMFAccessID || ' is used ' || COUNT(*) || ' times at location ' || "
     "IFNULL(LocationObjectID, 'NULL') FROM DTMFAccessID GROUP BY LocationObjectID, DTMFAccessID "
     "HAVING COUNT(*) > 1"},
};
// clang-format on

} // namespace

std::vector<std::string> checkInvariants(sqlite3 *db) {
    std::vector<std::string> violations;
    for (const auto &invariant : kInvariants) {
        Statement st(db, invariant.sql);
        int count = 0;
        while (st.step()) {
            if (++count <= kMaxPerKind)
                violations.push_back(std::string(invariant.kind) + ": " + st.text(0));
        }
        if (count > kMaxPerKind) {
            violations.push_back(std::string(invariant.kind) + ": " +
                                 std::to_string(count - kMaxPerKind) + " more of this kind");
        }
    }
    return violations;
}

} // namespace zeph::sqlite::server
