// The server database as SQLite. Text compares without letter case everywhere (COLLATE NOCASE),
// as the server's own collation does, so an alias or an id matches in any letter case.
// Object ids are braced upper-case GUID texts.
#include "ServerSchema.h"

#include "ServerSql.h"

namespace zeph::sqlite::server {

namespace {

// A new braced GUID, for rows that the program adds without giving an id.
#define ZEPH_NEW_GUID_SQL                                                                          \
    "('{' || hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-4' ||"                           \
    " substr(hex(randomblob(2)), 2) || '-' || substr('89AB', 1 + (random() & 3), 1) ||"            \
    " substr(hex(randomblob(2)), 2) || '-' || hex(randomblob(6)) || '}')"

const char *kTables = R"SQL(
CREATE TABLE zeph_ViewKey (
    ViewName TEXT COLLATE NOCASE NOT NULL,
    KeyColumn TEXT COLLATE NOCASE NOT NULL,
    PRIMARY KEY (ViewName, KeyColumn)
);

CREATE TABLE Location (
    LocationObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias TEXT COLLATE NOCASE NOT NULL UNIQUE,
    DisplayName TEXT COLLATE NOCASE,
    DialingDomainID TEXT COLLATE NOCASE,
    DialingDomainName TEXT COLLATE NOCASE,
    IsLocal INTEGER NOT NULL DEFAULT 0,
    SMTPDomain TEXT COLLATE NOCASE
);

CREATE TABLE COS (
    COSObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias TEXT COLLATE NOCASE NOT NULL UNIQUE,
    TextName TEXT COLLATE NOCASE,
    MaxMsgLength INTEGER,
    MaxGreetingLength INTEGER,
    MaxNameLength INTEGER,
    CanRecordName INTEGER,
    AccessLiveReply INTEGER,
    CanSendToPublicDL INTEGER,
    PersonalAdministrator INTEGER,
    MessageAgingDays INTEGER,
    MaxPrivateDLs INTEGER
);

CREATE TABLE CallHandlerTemplate (
    CallHandlerTemplateObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias TEXT COLLATE NOCASE NOT NULL,
    Language INTEGER,
    MaxMsgLength INTEGER,
    EditMsg INTEGER,
    PlayAfterMessage INTEGER,
    SendUrgentMsg INTEGER,
    IsMsgSecure INTEGER
);

CREATE TABLE SubscriberTemplate (
    SubscriberTemplateObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias TEXT COLLATE NOCASE NOT NULL UNIQUE,
    TextName TEXT COLLATE NOCASE,
    IsDefault INTEGER NOT NULL DEFAULT 0,
    COSObjectID TEXT COLLATE NOCASE,
    LocationObjectID TEXT COLLATE NOCASE,
    CallHandlerTemplateObjectID TEXT COLLATE NOCASE,
    SwitchID INTEGER,
    Language INTEGER,
    TimeZone INTEGER,
    PlaybackSpeed INTEGER,
    PlaybackVolume INTEGER,
    ListInDirectory INTEGER,
    MessageSortOrder INTEGER,
    UseBriefPrompts INTEGER
);

CREATE TABLE Subscriber (
    SubscriberObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias TEXT COLLATE NOCASE NOT NULL UNIQUE,
    SubscriberType INTEGER NOT NULL,
    DisplayName TEXT COLLATE NOCASE,
    FirstName TEXT COLLATE NOCASE,
    LastName TEXT COLLATE NOCASE,
    DirectoryID TEXT COLLATE NOCASE,
    Uid TEXT COLLATE NOCASE,
    HomeServer TEXT COLLATE NOCASE,
    SMTPAddress TEXT COLLATE NOCASE,
    LegacyMailbox TEXT COLLATE NOCASE,
    RemoteNodeID TEXT COLLATE NOCASE,
    CallHandlerObjectID TEXT COLLATE NOCASE,
    COSObjectID TEXT COLLATE NOCASE,
    LocationObjectID TEXT COLLATE NOCASE,
    SubscriberTemplateObjectID TEXT COLLATE NOCASE,
    SwitchID INTEGER,
    StreamPath TEXT COLLATE NOCASE,
    Language INTEGER,
    TimeZone INTEGER,
    PlaybackSpeed INTEGER,
    PlaybackVolume INTEGER,
    ListInDirectory INTEGER,
    MessageSortOrder INTEGER,
    UseBriefPrompts INTEGER,
    Undeletable INTEGER NOT NULL DEFAULT 0,
    CreationTime TEXT COLLATE NOCASE,
    ModificationTime TEXT COLLATE NOCASE
);

CREATE TABLE GlobalSubscriber (
    SubscriberObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias TEXT COLLATE NOCASE,
    DisplayName TEXT COLLATE NOCASE,
    FirstName TEXT COLLATE NOCASE,
    LastName TEXT COLLATE NOCASE,
    SubscriberType INTEGER,
    CallHandlerObjectID TEXT COLLATE NOCASE,
    LocationObjectID TEXT COLLATE NOCASE,
    DirectoryID TEXT COLLATE NOCASE,
    SMTPAddress TEXT COLLATE NOCASE,
    DTMFAccessID TEXT COLLATE NOCASE,
    StreamPath TEXT COLLATE NOCASE,
    ListInDirectory INTEGER
);

CREATE TABLE CallHandler (
    CallHandlerObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias TEXT COLLATE NOCASE NOT NULL,
    DisplayName TEXT COLLATE NOCASE,
    IsPrimary INTEGER NOT NULL DEFAULT 0,
    AdministratorObjectID TEXT COLLATE NOCASE,
    RecipientObjectID TEXT COLLATE NOCASE,
    LocationObjectID TEXT COLLATE NOCASE,
    StreamPath TEXT COLLATE NOCASE,
    Language INTEGER,
    MaxMsgLength INTEGER,
    EditMsg INTEGER,
    PlayAfterMessage INTEGER,
    SendUrgentMsg INTEGER,
    IsMsgSecure INTEGER,
    CreationTime TEXT COLLATE NOCASE
);

CREATE TABLE MessagingRule (
    MessagingRuleObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    ParentObjectID TEXT COLLATE NOCASE NOT NULL,
    Alias TEXT COLLATE NOCASE NOT NULL,
    Enabled INTEGER NOT NULL DEFAULT 0,
    PlayWhat INTEGER NOT NULL DEFAULT 0,
    StreamPath TEXT COLLATE NOCASE,
    TimeExpires TEXT COLLATE NOCASE,
    IgnoreDigits INTEGER NOT NULL DEFAULT 0,
    AfterGreetingAction INTEGER NOT NULL DEFAULT 1,
    Reprompts INTEGER NOT NULL DEFAULT 0,
    UNIQUE (ParentObjectID, Alias)
);

CREATE TABLE ContactRule (
    ContactRuleObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    ParentObjectID TEXT COLLATE NOCASE NOT NULL,
    Alias TEXT COLLATE NOCASE NOT NULL,
    Enabled INTEGER NOT NULL DEFAULT 0,
    TransferType INTEGER NOT NULL DEFAULT 0,
    UsePrimaryExtension INTEGER NOT NULL DEFAULT 1,
    Extension TEXT COLLATE NOCASE,
    RingsToWait INTEGER NOT NULL DEFAULT 4,
    UNIQUE (ParentObjectID, Alias)
);

CREATE TABLE MenuEntry (
    MenuEntryObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    ParentObjectID TEXT COLLATE NOCASE NOT NULL,
    Alias TEXT COLLATE NOCASE NOT NULL,
    Action INTEGER NOT NULL DEFAULT 0,
    TargetHandlerObjectID TEXT COLLATE NOCASE,
    TargetConversation TEXT COLLATE NOCASE,
    Locked INTEGER NOT NULL DEFAULT 0,
    UNIQUE (ParentObjectID, Alias)
);

CREATE TABLE NotificationDevice (
    NotificationDeviceObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    ParentObjectID TEXT COLLATE NOCASE NOT NULL,
    Alias TEXT COLLATE NOCASE NOT NULL,
    DeviceType INTEGER NOT NULL DEFAULT 1,
    PhoneNumber TEXT COLLATE NOCASE,
    SMTPAddress TEXT COLLATE NOCASE,
    SwitchID INTEGER,
    Active INTEGER NOT NULL DEFAULT 0,
    UNIQUE (ParentObjectID, Alias)
);

CREATE TABLE NotificationRule (
    NotificationRuleObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    ParentObjectID TEXT COLLATE NOCASE NOT NULL,
    Alias TEXT COLLATE NOCASE NOT NULL,
    DeviceObjectID TEXT COLLATE NOCASE,
    EventList TEXT COLLATE NOCASE,
    Active INTEGER NOT NULL DEFAULT 0,
    UNIQUE (ParentObjectID, Alias)
);

CREATE TABLE NotificationMWI (
    NotificationMWIObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    ParentObjectID TEXT COLLATE NOCASE NOT NULL,
    Alias TEXT COLLATE NOCASE NOT NULL,
    Extension TEXT COLLATE NOCASE,
    SwitchID INTEGER,
    Active INTEGER NOT NULL DEFAULT 1,
    UNIQUE (ParentObjectID, Alias)
);

CREATE TABLE DTMFAccessID (
    DTMFAccessObjectID TEXT COLLATE NOCASE PRIMARY KEY DEFAULT )SQL" ZEPH_NEW_GUID_SQL R"SQL(,
    ParentObjectID TEXT COLLATE NOCASE NOT NULL,
    ParentObjectIDType INTEGER NOT NULL,
    DTMFAccessID TEXT COLLATE NOCASE NOT NULL,
    DTMFAccessIDType INTEGER NOT NULL DEFAULT 1,
    Alias TEXT COLLATE NOCASE,
    IsPrimaryID INTEGER NOT NULL DEFAULT 0,
    LocationObjectID TEXT COLLATE NOCASE
);

CREATE TABLE DistributionList (
    DistributionListObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias TEXT COLLATE NOCASE NOT NULL UNIQUE,
    DisplayName TEXT COLLATE NOCASE,
    DirectoryID TEXT COLLATE NOCASE,
    LocationObjectID TEXT COLLATE NOCASE,
    AdministratorObjectID TEXT COLLATE NOCASE,
    IsPublic INTEGER NOT NULL DEFAULT 1
);

CREATE TABLE DistributionListMember (
    DistributionListObjectID TEXT COLLATE NOCASE NOT NULL,
    MemberObjectID TEXT COLLATE NOCASE NOT NULL,
    PRIMARY KEY (DistributionListObjectID, MemberObjectID)
);

CREATE TABLE InterviewHandler (
    InterviewHandlerObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias TEXT COLLATE NOCASE NOT NULL,
    DisplayName TEXT COLLATE NOCASE,
    RecipientObjectID TEXT COLLATE NOCASE,
    LocationObjectID TEXT COLLATE NOCASE,
    QuestionCount INTEGER
);

CREATE TABLE DirectoryHandler (
    DirectoryHandlerObjectID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    Alias TEXT COLLATE NOCASE NOT NULL,
    DisplayName TEXT COLLATE NOCASE,
    LocationObjectID TEXT COLLATE NOCASE,
    SearchByLastName INTEGER,
    SayExtension INTEGER
);

CREATE TABLE DirectoryObject (
    DirectoryID TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    ObjectClass TEXT COLLATE NOCASE NOT NULL,
    Alias TEXT COLLATE NOCASE,
    DisplayName TEXT COLLATE NOCASE,
    FirstName TEXT COLLATE NOCASE,
    LastName TEXT COLLATE NOCASE,
    Mail TEXT COLLATE NOCASE,
    HomeServer TEXT COLLATE NOCASE,
    LegacyMailbox TEXT COLLATE NOCASE,
    Extension TEXT COLLATE NOCASE,
    TarvoObjectID TEXT COLLATE NOCASE,
    VoiceEnabled INTEGER NOT NULL DEFAULT 0,
    LastSyncTime TEXT COLLATE NOCASE
);

CREATE TABLE DirectoryGroupMember (
    GroupDirectoryID TEXT COLLATE NOCASE NOT NULL,
    MemberDirectoryID TEXT COLLATE NOCASE NOT NULL,
    PRIMARY KEY (GroupDirectoryID, MemberDirectoryID)
);

CREATE TABLE DirectorySyncTicket (
    Ticket TEXT COLLATE NOCASE NOT NULL PRIMARY KEY,
    ObjectID TEXT COLLATE NOCASE,
    Operation TEXT COLLATE NOCASE,
    result INTEGER,
    Created TEXT COLLATE NOCASE,
    Completed TEXT COLLATE NOCASE
);
)SQL";

const char *kIndexes = R"SQL(
CREATE INDEX IX_Subscriber_CallHandler ON Subscriber (CallHandlerObjectID);
CREATE INDEX IX_Subscriber_Directory ON Subscriber (DirectoryID);
CREATE INDEX IX_Subscriber_COS ON Subscriber (COSObjectID);
CREATE INDEX IX_Subscriber_HomeServer ON Subscriber (HomeServer);
CREATE INDEX IX_Subscriber_LastName ON Subscriber (LastName);
CREATE INDEX IX_GlobalSubscriber_CallHandler ON GlobalSubscriber (CallHandlerObjectID);
CREATE INDEX IX_CallHandler_Administrator ON CallHandler (AdministratorObjectID);
CREATE INDEX IX_CallHandler_Recipient ON CallHandler (RecipientObjectID);
CREATE INDEX IX_MenuEntry_Target ON MenuEntry (TargetHandlerObjectID);
CREATE INDEX IX_NotificationRule_Device ON NotificationRule (DeviceObjectID);
CREATE INDEX IX_DTMFAccessID_Parent ON DTMFAccessID (ParentObjectID);
CREATE INDEX IX_DTMFAccessID_Digits ON DTMFAccessID (DTMFAccessID);
CREATE UNIQUE INDEX IX_DTMFAccessID_Location ON DTMFAccessID (LocationObjectID, DTMFAccessID);
CREATE INDEX IX_DistributionListMember_Member ON DistributionListMember (MemberObjectID);
CREATE INDEX IX_DirectoryGroupMember_Member ON DirectoryGroupMember (MemberDirectoryID);
CREATE INDEX IX_DirectoryObject_Tarvo ON DirectoryObject (TarvoObjectID);
)SQL";

// An extension row added without its location or id (the program adds alternate extensions
// that way) takes the location of the object it belongs to, else the local location. The
// update fails on the location's unique index when the extension is already taken there,
// which aborts the insert.
const char *kTriggers = R"SQL(
CREATE TRIGGER trg_DTMFAccessID_Complete AFTER INSERT ON DTMFAccessID
WHEN NEW.LocationObjectID IS NULL OR NEW.DTMFAccessObjectID IS NULL
BEGIN
    UPDATE DTMFAccessID SET
        DTMFAccessObjectID = COALESCE(DTMFAccessObjectID, )SQL" ZEPH_NEW_GUID_SQL R"SQL(),
        LocationObjectID = COALESCE(LocationObjectID,
            CASE NEW.ParentObjectIDType
                WHEN 1 THEN (SELECT LocationObjectID FROM Subscriber
                             WHERE SubscriberObjectID = NEW.ParentObjectID)
                WHEN 2 THEN (SELECT LocationObjectID FROM DistributionList
                             WHERE DistributionListObjectID = NEW.ParentObjectID)
                WHEN 3 THEN (SELECT LocationObjectID FROM CallHandler
                             WHERE CallHandlerObjectID = NEW.ParentObjectID)
                WHEN 5 THEN (SELECT LocationObjectID FROM InterviewHandler
                             WHERE InterviewHandlerObjectID = NEW.ParentObjectID)
                WHEN 6 THEN (SELECT LocationObjectID FROM DirectoryHandler
                             WHERE DirectoryHandlerObjectID = NEW.ParentObjectID)
                WHEN 9 THEN NEW.ParentObjectID
            END,
            (SELECT LocationObjectID FROM Location WHERE IsLocal = 1 ORDER BY rowid LIMIT 1))
    WHERE rowid = NEW.rowid;
END;
)SQL";

// The views the program reads. vw_Subscriber is the one it writes to (StreamPath), through
// the INSTEAD OF trigger below; its key is listed in zeph_ViewKey.
const char *kViews = R"SQL(
CREATE VIEW vw_Subscriber AS
SELECT s.SubscriberObjectID, s.Alias, s.SubscriberType, s.DisplayName, s.FirstName, s.LastName,
       s.CallHandlerObjectID, d.DTMFAccessID, s.DirectoryID, s.Uid, s.StreamPath, s.SMTPAddress,
       s.HomeServer, s.LegacyMailbox, s.RemoteNodeID, s.COSObjectID, s.LocationObjectID,
       s.SubscriberTemplateObjectID, s.SwitchID, s.Language, s.TimeZone, s.PlaybackSpeed,
       s.PlaybackVolume, s.ListInDirectory, s.MessageSortOrder, s.UseBriefPrompts,
       s.Undeletable, s.CreationTime, s.ModificationTime
FROM Subscriber s
LEFT JOIN DTMFAccessID d
       ON d.ParentObjectID = s.SubscriberObjectID AND d.IsPrimaryID = 1
          AND d.ParentObjectIDType = 1;

CREATE TRIGGER trg_vw_Subscriber_Update INSTEAD OF UPDATE ON vw_Subscriber
BEGIN
    SELECT RAISE(ABORT, 'The object id of a subscriber cannot be changed through vw_Subscriber.')
    WHERE NEW.SubscriberObjectID IS NOT OLD.SubscriberObjectID;
    UPDATE Subscriber SET
        Alias = NEW.Alias, SubscriberType = NEW.SubscriberType, DisplayName = NEW.DisplayName,
        FirstName = NEW.FirstName, LastName = NEW.LastName,
        CallHandlerObjectID = NEW.CallHandlerObjectID, DirectoryID = NEW.DirectoryID,
        Uid = NEW.Uid, StreamPath = NEW.StreamPath, SMTPAddress = NEW.SMTPAddress,
        HomeServer = NEW.HomeServer, LegacyMailbox = NEW.LegacyMailbox,
        RemoteNodeID = NEW.RemoteNodeID, COSObjectID = NEW.COSObjectID,
        LocationObjectID = NEW.LocationObjectID,
        SubscriberTemplateObjectID = NEW.SubscriberTemplateObjectID, SwitchID = NEW.SwitchID,
        Language = NEW.Language, TimeZone = NEW.TimeZone, PlaybackSpeed = NEW.PlaybackSpeed,
        PlaybackVolume = NEW.PlaybackVolume, ListInDirectory = NEW.ListInDirectory,
        MessageSortOrder = NEW.MessageSortOrder, UseBriefPrompts = NEW.UseBriefPrompts,
        Undeletable = NEW.Undeletable, CreationTime = NEW.CreationTime,
        ModificationTime = NEW.ModificationTime
    WHERE SubscriberObjectID = OLD.SubscriberObjectID;
    UPDATE DTMFAccessID SET DTMFAccessID = NEW.DTMFAccessID
    WHERE NEW.DTMFAccessID IS NOT OLD.DTMFAccessID AND ParentObjectID = OLD.SubscriberObjectID
          AND IsPrimaryID = 1 AND ParentObjectIDType = 1;
END;

CREATE VIEW vw_DTMFAccessID AS
SELECT d.DTMFAccessObjectID, d.ParentObjectID, d.ParentObjectIDType,
       d.ParentObjectIDType AS ObjectType, d.DTMFAccessID, d.DTMFAccessIDType, d.Alias,
       d.IsPrimaryID, d.LocationObjectID
FROM DTMFAccessID d;

CREATE VIEW vw_DTMFAccessID_DialingDomain AS
SELECT d.DTMFAccessID, d.ParentObjectIDType AS ObjectType,
       COALESCE(s.DisplayName, dl.DisplayName, ch.DisplayName, ih.DisplayName, dh.DisplayName,
                lo.DisplayName) AS DisplayName,
       d.ParentObjectID AS ObjectID, d.IsPrimaryID, d.LocationObjectID,
       l.DialingDomainID
FROM DTMFAccessID d
JOIN Location l ON l.LocationObjectID = d.LocationObjectID
LEFT JOIN Subscriber s ON d.ParentObjectIDType = 1 AND s.SubscriberObjectID = d.ParentObjectID
LEFT JOIN DistributionList dl
       ON d.ParentObjectIDType = 2 AND dl.DistributionListObjectID = d.ParentObjectID
LEFT JOIN CallHandler ch ON d.ParentObjectIDType = 3 AND ch.CallHandlerObjectID = d.ParentObjectID
LEFT JOIN InterviewHandler ih
       ON d.ParentObjectIDType = 5 AND ih.InterviewHandlerObjectID = d.ParentObjectID
LEFT JOIN DirectoryHandler dh
       ON d.ParentObjectIDType = 6 AND dh.DirectoryHandlerObjectID = d.ParentObjectID
LEFT JOIN Location lo ON d.ParentObjectIDType = 9 AND lo.LocationObjectID = d.ParentObjectID
WHERE l.DialingDomainID IN (SELECT DialingDomainID FROM Location WHERE IsLocal = 1);

CREATE VIEW vw_CallHandler_Primary AS
SELECT ch.CallHandlerObjectID, ch.Alias, ch.DisplayName, ch.IsPrimary,
       ch.AdministratorObjectID, ch.RecipientObjectID, ch.LocationObjectID, ch.StreamPath,
       ch.Language, ch.MaxMsgLength, ch.EditMsg, ch.PlayAfterMessage, ch.SendUrgentMsg,
       ch.IsMsgSecure, ch.CreationTime, s.SubscriberObjectID, d.DTMFAccessID
FROM CallHandler ch
LEFT JOIN Subscriber s ON s.CallHandlerObjectID = ch.CallHandlerObjectID
LEFT JOIN DTMFAccessID d
       ON d.ParentObjectID = s.SubscriberObjectID AND d.IsPrimaryID = 1
          AND d.ParentObjectIDType = 1
WHERE ch.IsPrimary = 1;

CREATE VIEW vw_CallHandler_NonPrimary AS
SELECT ch.CallHandlerObjectID, ch.Alias, ch.DisplayName, ch.IsPrimary,
       ch.AdministratorObjectID, ch.RecipientObjectID, ch.LocationObjectID, ch.StreamPath,
       ch.Language, ch.MaxMsgLength, ch.EditMsg, ch.PlayAfterMessage, ch.SendUrgentMsg,
       ch.IsMsgSecure, ch.CreationTime, d.DTMFAccessID
FROM CallHandler ch
LEFT JOIN DTMFAccessID d
       ON d.ParentObjectID = ch.CallHandlerObjectID AND d.IsPrimaryID = 1
          AND d.ParentObjectIDType = 3
WHERE ch.IsPrimary = 0;

CREATE VIEW vw_SubscriberTemplate AS
SELECT t.SubscriberTemplateObjectID, t.Alias, t.TextName, t.IsDefault, t.COSObjectID,
       t.LocationObjectID, t.CallHandlerTemplateObjectID, t.SwitchID, t.Language, t.TimeZone,
       t.PlaybackSpeed, t.PlaybackVolume, t.ListInDirectory, t.MessageSortOrder,
       t.UseBriefPrompts
FROM SubscriberTemplate t;

CREATE VIEW vw_COS AS
SELECT c.COSObjectID, c.Alias, c.TextName, c.MaxMsgLength, c.MaxGreetingLength, c.MaxNameLength,
       c.CanRecordName, c.AccessLiveReply, c.CanSendToPublicDL, c.PersonalAdministrator,
       c.MessageAgingDays, c.MaxPrivateDLs
FROM COS c;

CREATE VIEW vw_DirectorySyncTicket AS
SELECT t.Ticket, t.result, t.ObjectID, t.Operation, t.Created, t.Completed
FROM DirectorySyncTicket t;

CREATE VIEW vw_DistributionList AS
SELECT dl.DistributionListObjectID, dl.Alias, dl.DisplayName, dl.DirectoryID,
       dl.LocationObjectID, dl.AdministratorObjectID, dl.IsPublic,
       (SELECT COUNT(*) FROM DistributionListMember m
        WHERE m.DistributionListObjectID = dl.DistributionListObjectID) AS MemberCount
FROM DistributionList dl;

CREATE VIEW vw_Location AS
SELECT l.LocationObjectID, l.Alias, l.DisplayName, l.DialingDomainID, l.DialingDomainName,
       l.IsLocal, l.SMTPDomain
FROM Location l;

INSERT INTO zeph_ViewKey (ViewName, KeyColumn) VALUES ('vw_Subscriber', 'SubscriberObjectID');
)SQL";

#undef ZEPH_NEW_GUID_SQL

} // namespace

void createSchema(sqlite3 *db) {
    exec(db, kTables);
    exec(db, kIndexes);
    exec(db, kTriggers);
    exec(db, kViews);
}

const std::vector<std::string> &dateTimeColumns() {
    static const std::vector<std::string> columns = {"CreationTime", "ModificationTime",
                                                     "TimeExpires", "LastSyncTime"};
    return columns;
}

} // namespace zeph::sqlite::server
