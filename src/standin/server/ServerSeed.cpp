// The seeded server: three locations (two of them in the local dialing domain), classes of
// service and subscriber templates whose settings differ from the seeded subscribers', the
// subscribers with their call handlers, greetings, contact rules, menu entries, notification
// rows and extensions, the auto attendant, distribution lists built from the directory's
// groups, recordings and mailboxes. docs/stand-in-server.md lists the deliberate oddities.
#include "ServerSeed.h"

#include "ServerSchema.h"
#include "ServerSql.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <vector>

namespace fs = std::filesystem;

namespace zeph::sqlite::server {

std::uint64_t Rng::next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::string Rng::guid() {
    std::uint64_t a = (next() & ~0xF000ULL) | 0x4000ULL;                        // version 4
    std::uint64_t b = (next() & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL; // RFC variant
    static const char *digits = "0123456789ABCDEF";
    std::string text(38, '-');
    text.front() = '{';
    text.back() = '}';
    std::size_t at = 1;
    for (int i = 0; i < 32; ++i, ++at) {
        if (i == 8 || i == 12 || i == 16 || i == 20)
            ++at; // the dash stays
        std::uint64_t word = i < 16 ? a : b;
        int shift = (15 - (i % 16)) * 4;
        text[at] = digits[(word >> shift) & 0xF];
    }
    return text;
}

std::string seededExtension(int index) {
    return std::to_string(4000 + index);
}

namespace {

using V = DbValue;
V num(std::int64_t v) {
    return V(v);
}
V txt(std::string s) {
    return V(std::move(s));
}
V opt(const std::optional<std::string> &s) {
    return s ? V(*s) : V();
}
V optNum(const std::optional<int> &n) {
    return n ? V(std::int64_t{*n}) : V();
}
const V kNull;

// One prepared INSERT, reused for every row of a table.
class Inserter {
public:
    Inserter(sqlite3 *db, std::string_view table, const std::vector<std::string_view> &columns)
        : m_st(db, sql(table, columns)) {}
    void add(std::initializer_list<V> values) {
        int index = 0;
        for (const V &v : values)
            m_st.bind(++index, v);
        m_st.run();
    }

private:
    static std::string sql(std::string_view table, const std::vector<std::string_view> &columns) {
        std::string text = "INSERT INTO " + std::string(table) + " (";
        std::string marks;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            text += (i ? ", " : "") + std::string(columns[i]);
            marks += i ? ", ?" : "?";
        }
        return text + ") VALUES (" + marks + ")";
    }
    Statement m_st;
};

// Seeded subscribers with a fixed part to play; docs/stand-in-server.md lists them.
namespace role {
constexpr int kInstaller = 0;           // undeletable administrator
constexpr int kTwelveAltExt = 2;        // 12 alternate extensions
constexpr int kConflictHandler = 3;     // extension shared with a call handler of the branch
constexpr int kNoDirectory = 4;         // NULL DirectoryID
constexpr int kNoSmtp = 5;              // NULL SMTPAddress
constexpr int kNoMailbox = 6;           // SMTPAddress without a mailbox folder
constexpr int kInternetContact = 7;     // SubscriberType 2
constexpr int kNetworkContact = 8;      // SubscriberType 5
constexpr int kApostrophe = 9;          // a quote in the last and display name
constexpr int kNoNames = 10;            // NULL FirstName and LastName
constexpr int kFullPathVoice = 11;      // voice name given as a full path
constexpr int kReadOnlyRecordings = 12; // every recording read-only
constexpr int kMissingRecordings = 13;  // StreamPaths whose files are missing
constexpr int kConflictList = 14;       // extension shared with a distribution list of the branch
constexpr int kOtherDomainTwin = 15;    // extension reused in another dialing domain
constexpr int kModel = 16;              // an ordinary subscriber that many things point at
} // namespace role

const char *kFirstNames[] = {
    "James",  "Mary",    "Robert", "Patricia", "John",   "Jennifer", "Michael", "Linda",
    "David",  "Susan",   "Thomas", "Karen",    "Daniel", "Nancy",    "Paul",    "Lisa",
    "Mark",   "Betty",   "Steven", "Sandra",   "Andrew", "Ashley",   "Joshua",  "Donna",
    "Kevin",  "Emily",   "Brian",  "Michelle", "George", "Carol",    "Edward",  "Amanda",
    "Ronald", "Melissa", "Jason",  "Deborah",  "Ryan",   "Laura",    "Gary",    "Rebecca",
    "Eric",   "Sharon",  "Peter",  "Cynthia",  "Frank",  "Kathleen", "Scott",   "Helen",
};
const char *kLastNames[] = {
    "Smith",    "Johnson",  "Williams", "Brown",      "Jones",   "Garcia",   "Miller",   "Davis",
    "Wilson",   "Anderson", "Taylor",   "Thomas",     "Moore",   "Jackson",  "Martin",   "Lee",
    "Thompson", "White",    "Harris",   "Clark",      "Lewis",   "Robinson", "Walker",   "Young",
    "Allen",    "King",     "Wright",   "Scott",      "Hill",    "Green",    "Adams",    "Nelson",
    "Baker",    "Hall",     "Campbell", "Mitchell",   "Carter",  "Roberts",  "Phillips", "Evans",
    "Turner",   "Parker",   "Collins",  "Edwards",    "Stewart", "Morris",   "Murphy",   "Cook",
    "Rogers",   "Morgan",   "Cooper",   "Peterson",   "Reed",    "Bailey",   "Bell",     "Kelly",
    "Howard",   "Ward",     "Cox",      "Richardson", "Wood",    "Watson",   "Brooks",   "Bennett",
};
const char *kGreetings[] = {"Standard", "Off Hours", "Alternate", "Busy", "Internal", "Error"};
const char *kContactRules[] = {"Standard", "Off Hours", "Alternate"};
const char *kMenuKeys[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "*", "#"};
const char *kHomeServers[] = {"MAILHQ01", "MAILHQ02", "MAILBR01"};
const char *kMailDomain = "zephrane.example";

// Menu entry actions.
constexpr int kActIgnore = 0;
constexpr int kActGoto = 2;
constexpr int kActSkipGreeting = 4;
constexpr int kActSignIn = 6;

// Recordings and messages are kept small. Every subscriber has the recordings and mailbox of a
// busy one unless options.busySubscribers is set: those after it then have few recordings and
// no mailbox folder at all (their mailboxes do not resolve), for a light host.

// The subscriber templates. Two share a display name; the kiosk template has no message
// waiting indicator, one notification device and a locked menu.
struct TemplateDef {
    const char *alias, *name, *cos;
    int isDefault, switchId, language, maxMsg;
    bool kiosk;
};
const TemplateDef kTemplates[] = {
    {"defaultTemplate", "Default Subscriber Template", "defaultCos", 1, 0, 1033, 300, false},
    {"defaultAdminTemplate", "Default Administrator Template", "adminCos", 0, 0, 1033, 600, false},
    {"salesTemplate", "Sales Staff", "defaultCos", 0, 1, 1033, 300, false},
    {"salesTemplateEast", "Sales Staff", "defaultCos", 0, 0, 2057, 300, false},
    {"kioskTemplate", "Lobby Kiosk", "kioskCos", 0, 0, 1033, 30, true},
};

struct PlannedSubscriber {
    int index = 0;
    std::string id, chId, alias, display, ext;
    std::optional<std::string> first, last, dirId, smtp, home, legacy, remoteNode;
    int type = 1;
    std::optional<int> switchId;
    std::string cos;
    bool undeletable = false;
    bool mailbox = false;
    bool isVoice() const { return type == 1 || type == 3; }
};

struct Handler {
    std::string id, alias, display, location;
    std::optional<std::string> ext, admin, recipient;
    // Menu keys that go to another handler: key -> target id.
    std::map<std::string, std::string> menu;
};

class Seeder {
public:
    Seeder(sqlite3 *db, const SeedOptions &options)
        : m_db(db)
        , m_options(options)
        , m_rng(0x5EEDF00DULL ^ (std::uint64_t{options.seed} * 0x100000001B3ULL)) {}

    void run();

private:
    // The subscriber of that index has the recordings and mailbox of a busy host.
    bool busy(int index) const {
        return m_options.busySubscribers < 0 || index < m_options.busySubscribers;
    }
    void prepare();
    void seedLocations();
    void seedClassesOfService();
    void seedTemplates();
    void seedTemplate(const TemplateDef &t, Inserter &templates, Inserter &handlerTemplates);
    void planSubscribers();
    PlannedSubscriber planSubscriber(int index);
    void nameSubscriber(PlannedSubscriber &p, const std::string &first, const std::string &last);
    void planHandlers();
    void planLists();
    void planList(const std::string &alias, const std::string &display,
                  std::optional<std::string> ext, int percent, const std::string &location);
    void planAutoAttendant();
    void planMenus();
    void seedSubscriber(const PlannedSubscriber &p);
    std::optional<std::string> voiceName(const PlannedSubscriber &p);
    void addSubscriberRows(const PlannedSubscriber &p, const std::optional<std::string> &voice);
    std::map<std::string, std::string> personalMenu(const PlannedSubscriber &p);
    void addNotifications(const PlannedSubscriber &p);
    void addSubscriberExtensions(const PlannedSubscriber &p);
    void seedHandler(const Handler &h, bool recorded);
    void seedLists();
    void seedDirectoryUsers();
    void addGreetings(const std::string &parent, int recordPercent, bool readOnly,
                      bool missingFiles);
    void addContactRules(const std::string &parent, const std::string &ext);
    void addMenu(const std::string &parent, const std::map<std::string, std::string> &gotoKeys,
                 bool locked = false);
    std::string listId(const std::string &alias) const;
    std::string handlerId(const std::string &alias) const;
    void addExtension(const std::string &parent, int type, const std::string &digits, bool primary,
                      const std::string &alias, const std::string &location);
    std::string newRecording(bool readOnly, bool writeFile);
    std::string importedRecording(const std::string &alias);
    void writeWav(const fs::path &file, bool readOnly);
    void writeMailbox(const PlannedSubscriber &p);
    std::string creationTime(int n) const;
    std::string uniqueAlias(std::string base);

    sqlite3 *m_db;
    SeedOptions m_options;
    Rng m_rng;
    fs::path m_streamFolder;

    std::string m_hq, m_branch, m_partner;
    std::map<std::string, std::string> m_cos; // alias -> id
    std::vector<PlannedSubscriber> m_subs;
    std::vector<Handler> m_handlers;
    std::map<std::string, std::string> m_handlerByAlias;
    std::string m_interviewJobs, m_interviewFeedback, m_directoryAll, m_directorySales;
    std::map<std::string, int> m_aliasCount;

    struct ListPlan {
        std::string id, alias, display, dirId, location;
        std::optional<std::string> ext;
        std::vector<int> members; // subscriber indexes
    };
    std::vector<ListPlan> m_lists;

    std::optional<Inserter> m_subscriber, m_global, m_callHandler, m_greeting, m_contact, m_menu,
        m_device, m_rule, m_mwi, m_extension, m_directory, m_groupMember, m_listMember;
};

void Seeder::run() {
    prepare();
    seedLocations();
    seedClassesOfService();
    planSubscribers();
    planHandlers();
    seedTemplates();
    for (const auto &p : m_subs)
        seedSubscriber(p);
    for (const auto &h : m_handlers)
        seedHandler(h, true);
    seedLists();
    seedDirectoryUsers();
}

void Seeder::prepare() {
    m_streamFolder = fs::path(m_options.rootPath + "Stream Files");
    fs::create_directories(m_streamFolder);
    if (!m_options.mailstoreFolder.empty()) {
        for (const char *server : kHomeServers)
            fs::create_directories(fs::path(m_options.mailstoreFolder) / server);
    }
    m_subscriber.emplace(
        m_db, "Subscriber",
        std::vector<std::string_view>{
            "SubscriberObjectID",  "Alias",           "SubscriberType",   "DisplayName",
            "FirstName",           "LastName",        "DirectoryID",      "Uid",
            "HomeServer",          "SMTPAddress",     "LegacyMailbox",    "RemoteNodeID",
            "CallHandlerObjectID", "COSObjectID",     "LocationObjectID", "SwitchID",
            "StreamPath",          "Language",        "TimeZone",         "PlaybackSpeed",
            "PlaybackVolume",      "ListInDirectory", "MessageSortOrder", "UseBriefPrompts",
            "Undeletable",         "CreationTime",    "ModificationTime"});
    m_global.emplace(m_db, "GlobalSubscriber",
                     std::vector<std::string_view>{
                         "SubscriberObjectID", "Alias", "DisplayName", "FirstName", "LastName",
                         "SubscriberType", "CallHandlerObjectID", "LocationObjectID", "DirectoryID",
                         "SMTPAddress", "DTMFAccessID", "StreamPath", "ListInDirectory"});
    m_callHandler.emplace(m_db, "CallHandler",
                          std::vector<std::string_view>{
                              "CallHandlerObjectID", "Alias", "DisplayName", "IsPrimary",
                              "AdministratorObjectID", "RecipientObjectID", "LocationObjectID",
                              "StreamPath", "Language", "MaxMsgLength", "EditMsg",
                              "PlayAfterMessage", "SendUrgentMsg", "IsMsgSecure", "CreationTime"});
    m_greeting.emplace(m_db, "MessagingRule",
                       std::vector<std::string_view>{"MessagingRuleObjectID", "ParentObjectID",
                                                     "Alias", "Enabled", "PlayWhat", "StreamPath",
                                                     "IgnoreDigits", "AfterGreetingAction",
                                                     "Reprompts"});
    m_contact.emplace(m_db, "ContactRule",
                      std::vector<std::string_view>{
                          "ContactRuleObjectID", "ParentObjectID", "Alias", "Enabled",
                          "TransferType", "UsePrimaryExtension", "Extension", "RingsToWait"});
    m_menu.emplace(m_db, "MenuEntry",
                   std::vector<std::string_view>{"MenuEntryObjectID", "ParentObjectID", "Alias",
                                                 "Action", "TargetHandlerObjectID",
                                                 "TargetConversation", "Locked"});
    m_device.emplace(m_db, "NotificationDevice",
                     std::vector<std::string_view>{"NotificationDeviceObjectID", "ParentObjectID",
                                                   "Alias", "DeviceType", "PhoneNumber",
                                                   "SMTPAddress", "SwitchID", "Active"});
    m_rule.emplace(m_db, "NotificationRule",
                   std::vector<std::string_view>{"NotificationRuleObjectID", "ParentObjectID",
                                                 "Alias", "DeviceObjectID", "EventList", "Active"});
    m_mwi.emplace(m_db, "NotificationMWI",
                  std::vector<std::string_view>{"NotificationMWIObjectID", "ParentObjectID",
                                                "Alias", "Extension", "SwitchID", "Active"});
    m_extension.emplace(m_db, "DTMFAccessID",
                        std::vector<std::string_view>{"DTMFAccessObjectID", "ParentObjectID",
                                                      "ParentObjectIDType", "DTMFAccessID",
                                                      "DTMFAccessIDType", "Alias", "IsPrimaryID",
                                                      "LocationObjectID"});
    m_directory.emplace(m_db, "DirectoryObject",
                        std::vector<std::string_view>{
                            "DirectoryID", "ObjectClass", "Alias", "DisplayName", "FirstName",
                            "LastName", "Mail", "HomeServer", "LegacyMailbox", "Extension",
                            "TarvoObjectID", "VoiceEnabled", "LastSyncTime"});
    m_groupMember.emplace(m_db, "DirectoryGroupMember",
                          std::vector<std::string_view>{"GroupDirectoryID", "MemberDirectoryID"});
    m_listMember.emplace(
        m_db, "DistributionListMember",
        std::vector<std::string_view>{"DistributionListObjectID", "MemberObjectID"});
}

std::string Seeder::creationTime(int n) const {
    // Spread over the days after the server was installed, a few minutes apart.
    int minutes = n * 7;
    int day = 3 + (minutes / (24 * 60)) % 25;
    int month = 1 + (minutes / (24 * 60 * 25)) % 12;
    int hour = (minutes / 60) % 24;
    int minute = minutes % 60;
    char text[32];
    std::snprintf(text, sizeof text, "2005-%02d-%02d %02d:%02d:00", month, day, hour, minute);
    return text;
}

void Seeder::seedLocations() {
    m_hq = m_rng.guid();
    m_branch = m_rng.guid();
    m_partner = m_rng.guid();
    std::string corporate = m_rng.guid();
    std::string partnerDomain = m_rng.guid();
    Inserter locations(m_db, "Location",
                       {"LocationObjectID", "Alias", "DisplayName", "DialingDomainID",
                        "DialingDomainName", "IsLocal", "SMTPDomain"});
    locations.add({txt(m_hq), txt("hq"), txt("Headquarters"), txt(corporate), txt("Corporate"),
                   num(1), txt(kMailDomain)});
    locations.add({txt(m_branch), txt("branch"), txt("Branch Office"), txt(corporate),
                   txt("Corporate"), num(0), txt(kMailDomain)});
    locations.add({txt(m_partner), txt("partner"), txt("Partner Site"), txt(partnerDomain),
                   txt("Partner"), num(0), txt("partner.example")});
    addExtension(m_hq, objtype::kLocation, "100", true, "SYSTEM_DEFINED_LOCATION", m_hq);
    addExtension(m_branch, objtype::kLocation, "200", true, "SYSTEM_DEFINED_LOCATION", m_branch);
    addExtension(m_partner, objtype::kLocation, "300", true, "SYSTEM_DEFINED_LOCATION", m_partner);
}

void Seeder::seedClassesOfService() {
    struct Cos {
        const char *alias, *name;
        int maxMsg, maxGreeting, maxName, recordName, liveReply, publicDl, personalAdmin, aging,
            privateDls;
    };
    // The first two and kioskCos belong to templates; seeded subscribers use the others.
    const Cos all[] = {
        {"defaultCos", "Default COS", 300, 90, 30, 1, 0, 1, 1, 30, 5},
        {"adminCos", "Administrators", 1200, 300, 30, 1, 1, 1, 1, 0, 25},
        {"kioskCos", "Lobby Kiosk", 30, 30, 0, 0, 0, 0, 0, 1, 0},
        {"execCos", "Executives", 600, 180, 30, 1, 1, 1, 1, 60, 20},
        {"restrictedCos", "Restricted", 60, 60, 10, 0, 0, 0, 0, 14, 0},
        {"restrictedCos2", "Restricted", 90, 60, 10, 0, 0, 0, 0, 7, 0},
        {"legacyCos", "Legacy Users", 180, 120, 20, 1, 0, 1, 0, 45, 10},
    };
    Inserter cos(m_db, "COS",
                 {"COSObjectID", "Alias", "TextName", "MaxMsgLength", "MaxGreetingLength",
                  "MaxNameLength", "CanRecordName", "AccessLiveReply", "CanSendToPublicDL",
                  "PersonalAdministrator", "MessageAgingDays", "MaxPrivateDLs"});
    for (const auto &c : all) {
        std::string id = m_rng.guid();
        m_cos[c.alias] = id;
        cos.add({txt(id), txt(c.alias), txt(c.name), num(c.maxMsg), num(c.maxGreeting),
                 num(c.maxName), num(c.recordName), num(c.liveReply), num(c.publicDl),
                 num(c.personalAdmin), num(c.aging), num(c.privateDls)});
    }
}

void Seeder::seedTemplates() {
    Inserter templates(m_db, "SubscriberTemplate",
                       {"SubscriberTemplateObjectID", "Alias", "TextName", "IsDefault",
                        "COSObjectID", "LocationObjectID", "CallHandlerTemplateObjectID",
                        "SwitchID", "Language", "TimeZone", "PlaybackSpeed", "PlaybackVolume",
                        "ListInDirectory", "MessageSortOrder", "UseBriefPrompts"});
    Inserter handlerTemplates(m_db, "CallHandlerTemplate",
                              {"CallHandlerTemplateObjectID", "Alias", "Language", "MaxMsgLength",
                               "EditMsg", "PlayAfterMessage", "SendUrgentMsg", "IsMsgSecure"});
    for (const auto &t : kTemplates)
        seedTemplate(t, templates, handlerTemplates);
}

void Seeder::seedTemplate(const TemplateDef &t, Inserter &templates, Inserter &handlerTemplates) {
    std::string id = m_rng.guid();
    std::string chTemplate = m_rng.guid();
    templates.add({txt(id), txt(t.alias), txt(t.name), num(t.isDefault), txt(m_cos.at(t.cos)),
                   txt(m_hq), txt(chTemplate), num(t.switchId), num(t.language), num(4), num(1),
                   num(1), num(1), num(0), num(0)});
    handlerTemplates.add({txt(chTemplate), txt(std::string(t.alias) + "_CallHandler"),
                          num(t.language), num(t.maxMsg), num(1), num(1), num(0), num(0)});
    // The greetings use the system's recordings; only Standard and Error are on.
    for (const char *g : kGreetings) {
        bool on = std::string(g) == "Standard" || std::string(g) == "Error";
        m_greeting->add({txt(m_rng.guid()), txt(chTemplate), txt(g), num(on ? 1 : 0), num(0), kNull,
                         num(0), num(1), num(1)});
    }
    for (const char *c : kContactRules) {
        m_contact->add({txt(m_rng.guid()), txt(chTemplate), txt(c),
                        num(std::string(c) == "Standard" ? 1 : 0), num(0), num(1), kNull, num(4)});
    }
    std::map<std::string, std::string> gotoKeys;
    if (!handlerId("operator").empty())
        gotoKeys["0"] = handlerId("operator");
    addMenu(chTemplate, gotoKeys, t.kiosk);

    // Notification rows of a template belong to the subscriber template itself; an MWI
    // without an extension takes the new subscriber's.
    static const std::pair<const char *, int> devices[] = {
        {"Home Phone", 1}, {"Work Phone", 1}, {"Mobile Phone", 1}, {"Pager", 2}, {"SMTP", 3}};
    for (std::size_t d = 0; d < (t.kiosk ? 1 : std::size(devices)); ++d) {
        std::string device = m_rng.guid();
        m_device->add({txt(device), txt(id), txt(devices[d].first), num(devices[d].second), kNull,
                       kNull, kNull, num(0)});
        m_rule->add({txt(m_rng.guid()), txt(id), txt(devices[d].first), txt(device),
                     txt("NewVoiceMail"), num(0)});
    }
    if (!t.kiosk)
        m_mwi->add({txt(m_rng.guid()), txt(id), txt("Default MWI"), kNull, kNull, num(1)});
}

std::string Seeder::uniqueAlias(std::string base) {
    int &n = m_aliasCount[base];
    ++n;
    return n == 1 ? base : base + std::to_string(n);
}

void Seeder::planSubscribers() {
    m_subs.reserve(static_cast<std::size_t>(m_options.subscribers));
    for (int i = 0; i < m_options.subscribers; ++i)
        m_subs.push_back(planSubscriber(i));
}

PlannedSubscriber Seeder::planSubscriber(int i) {
    PlannedSubscriber p;
    p.index = i;
    p.id = m_rng.guid();
    p.chId = m_rng.guid();
    p.ext = seededExtension(i);
    std::string first = kFirstNames[m_rng.below(std::size(kFirstNames))];
    std::string last = kLastNames[m_rng.below(std::size(kLastNames))];
    int kind = m_rng.below(100);
    p.type = kind < 70 ? 1 : kind < 93 ? 3 : kind < 97 ? 2 : 5;
    int sw = m_rng.below(100);
    p.switchId = sw < 70 ? std::optional<int>(0) : sw < 95 ? std::optional<int>(1) : std::nullopt;
    static const char *seededCos[] = {"legacyCos",      "legacyCos",     "legacyCos",
                                      "legacyCos",      "restrictedCos", "restrictedCos",
                                      "restrictedCos2", "execCos"};
    p.cos = seededCos[m_rng.below(std::size(seededCos))];
    bool noDirectory = m_rng.chance(2);
    bool noSmtp = m_rng.chance(2);
    bool noMailbox = m_rng.chance(3);

    // The named roles are ordinary resettable subscribers but for their one oddity.
    if (i <= role::kModel) {
        p.type = 1;
        p.switchId = 0;
        noDirectory = i == role::kNoDirectory;
        noSmtp = i == role::kNoSmtp;
        noMailbox = i == role::kNoMailbox;
    }
    if (i == role::kInstaller) {
        first = "Installer";
        last = "Administrator";
        p.undeletable = true;
        p.cos = "adminCos";
    } else if (i == role::kInternetContact) {
        p.type = 2;
    } else if (i == role::kNetworkContact) {
        p.type = 5;
    } else if (i == role::kApostrophe) {
        last = "O'Brien";
    }
    nameSubscriber(p, first, last);

    if (!noDirectory)
        p.dirId = m_rng.guid();
    if (!p.isVoice()) {
        p.switchId = std::nullopt;
        if (p.type == 5)
            p.remoteNode = "NODE" + std::to_string(100 + m_rng.below(900));
    } else if (!noSmtp) {
        p.smtp = p.alias + "@" + kMailDomain;
        p.home = kHomeServers[i % 7 == 6 ? 2 : m_rng.below(2)];
        p.legacy = "/o=Zephrane/ou=First Administrative Group/cn=Recipients/cn=" + p.alias;
        p.mailbox = !noMailbox && busy(i);
    }
    return p;
}

void Seeder::nameSubscriber(PlannedSubscriber &p, const std::string &first,
                            const std::string &last) {
    if (p.index == role::kNoNames) {
        p.display = "Conference Room A";
        p.alias = uniqueAlias("confrooma");
        return;
    }
    p.first = first;
    p.last = last;
    p.display = first + " " + last;
    // First initial and last name, letters only: "O'Brien" gives "obrien".
    std::string base(1, static_cast<char>(std::tolower(static_cast<unsigned char>(first[0]))));
    for (char c : last) {
        if (std::isalpha(static_cast<unsigned char>(c)))
            base += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    p.alias = uniqueAlias(p.index == role::kInstaller ? "installer" : base);
}

std::string Seeder::listId(const std::string &alias) const {
    for (const auto &l : m_lists) {
        if (l.alias == alias)
            return l.id;
    }
    return {};
}

std::string Seeder::handlerId(const std::string &alias) const {
    auto it = m_handlerByAlias.find(alias);
    return it == m_handlerByAlias.end() ? std::string() : it->second;
}

void Seeder::planHandlers() {
    m_interviewJobs = m_rng.guid();
    m_interviewFeedback = m_rng.guid();
    m_directoryAll = m_rng.guid();
    m_directorySales = m_rng.guid();
    planLists(); // first: handlers send messages to lists
    planAutoAttendant();
    planMenus();
}

void Seeder::planList(const std::string &alias, const std::string &display,
                      std::optional<std::string> ext, int percent, const std::string &location) {
    ListPlan l;
    l.id = m_rng.guid();
    l.alias = alias;
    l.display = display;
    l.dirId = m_rng.guid();
    l.location = location;
    l.ext = std::move(ext);
    for (const auto &p : m_subs) {
        if (p.isVoice() && p.dirId && (percent >= 100 || m_rng.chance(percent)))
            l.members.push_back(p.index);
    }
    m_lists.push_back(std::move(l));
}

void Seeder::planLists() {
    struct ListDef {
        const char *alias, *display;
        int ext;
        int percent; // of the subscribers in it
    };
    const ListDef lists[] = {
        {"allvoicemailusers", "All Voice Mail Users", 2000, 100},
        {"sales", "Sales", 2001, 8},
        {"support", "Support", 2002, 8},
        {"engineering", "Engineering", 2003, 8},
        {"finance", "Finance", 2004, 5},
        {"management", "Management", 2005, 3},
    };
    for (const auto &l : lists)
        planList(l.alias, l.display, std::to_string(l.ext), l.percent, m_hq);
    for (int t = 0; t < m_options.subscribers / 1000; ++t) {
        char alias[16];
        std::snprintf(alias, sizeof alias, "team%02d", t + 1);
        planList(alias, "Team " + std::to_string(t + 1), std::to_string(2100 + t), 1, m_hq);
    }
    if (m_options.subscribers > role::kConflictList)
        planList("branchstaff", "Branch Staff", seededExtension(role::kConflictList), 20, m_branch);
}

void Seeder::planAutoAttendant() {
    std::optional<std::string> installer;
    if (!m_subs.empty())
        installer = m_subs[role::kInstaller].id;
    auto add = [&](const std::string &alias, const std::string &display,
                   std::optional<std::string> ext, std::optional<std::string> recipient,
                   const std::string &location) {
        Handler h;
        h.id = m_rng.guid();
        h.alias = alias;
        h.display = display;
        h.ext = std::move(ext);
        h.admin = installer;
        h.recipient = std::move(recipient);
        h.location = location;
        m_handlerByAlias[alias] = h.id;
        m_handlers.push_back(std::move(h));
    };
    add("openinggreeting", "Opening Greeting", "3000", installer, m_hq);
    add("operator", "Operator", "3001", installer, m_hq);
    add("goodbye", "Goodbye", "3002", std::nullopt, m_hq);
    add("salesmenu", "Sales", "3003", listId("sales"), m_hq);
    add("supportmenu", "Support", "3004", listId("support"), m_hq);
    add("billingmenu", "Billing", "3005", listId("finance"), m_hq);
    add("afterhours", "After Hours", "3006", installer, m_hq);
    add("holiday", "Holiday", std::nullopt, installer, m_hq);
    for (int d = 0; d < m_options.subscribers / 250; ++d) {
        char alias[24];
        std::snprintf(alias, sizeof alias, "department%03d", d + 1);
        add(alias, "Department " + std::to_string(d + 1), std::to_string(3100 + d), installer,
            m_hq);
    }
    if (m_options.subscribers > role::kConflictHandler) {
        add("branchreception", "Branch Reception", seededExtension(role::kConflictHandler),
            installer, m_branch);
    }
    if (m_options.subscribers > role::kOtherDomainTwin) {
        add("partnerreception", "Partner Reception", seededExtension(role::kOtherDomainTwin),
            installer, m_partner);
    }
}

// The opening greeting leads to the department menus, the directory, the job line and a few
// people; the department menus lead to people; every handler's 0 to the operator.
void Seeder::planMenus() {
    std::vector<int> voice;
    for (const auto &p : m_subs) {
        if (p.isVoice())
            voice.push_back(p.index);
    }
    auto anyPerson = [&]() -> std::string {
        return voice.empty() ? std::string() : m_subs[voice[m_rng.below(voice.size())]].chId;
    };
    const bool model = m_options.subscribers > role::kModel;
    for (auto &h : m_handlers) {
        if (h.alias != "operator")
            h.menu["0"] = handlerId("operator");
        if (h.alias == "openinggreeting") {
            h.menu["1"] = handlerId("salesmenu");
            h.menu["2"] = handlerId("supportmenu");
            h.menu["3"] = handlerId("billingmenu");
            h.menu["4"] = m_directoryAll;
            h.menu["5"] = m_interviewJobs;
            if (model)
                h.menu["6"] = m_subs[role::kModel].chId;
            for (const char *key : {"7", "8"}) {
                if (std::string target = anyPerson(); !target.empty())
                    h.menu[key] = target;
            }
        } else if (h.alias == "salesmenu" || h.alias == "supportmenu" || h.alias == "billingmenu" ||
                   h.alias.rfind("department", 0) == 0) {
            for (const char *key : {"1", "2", "3", "4", "5"}) {
                if (std::string target = anyPerson(); !target.empty())
                    h.menu[key] = target;
            }
        }
        if (h.alias == "salesmenu") {
            h.menu["9"] = m_directorySales;
            if (model)
                h.menu["1"] = m_subs[role::kModel].chId;
        }
    }
}

void Seeder::addExtension(const std::string &parent, int type, const std::string &digits,
                          bool primary, const std::string &alias, const std::string &location) {
    m_extension->add({txt(m_rng.guid()), txt(parent), num(type), txt(digits), num(1), txt(alias),
                      num(primary ? 1 : 0), txt(location)});
}

void Seeder::writeWav(const fs::path &file, bool readOnly) {
    // A canonical PCM header (8 kHz, 16-bit, mono) and 400 bytes of silence (25 ms): a real
    // recording to the server, small on disk.
    constexpr std::uint32_t dataBytes = 400;
    auto le32 = [](std::string &s, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    auto le16 = [](std::string &s, std::uint16_t v) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>((v >> 8) & 0xFF);
    };
    std::string wav = "RIFF";
    le32(wav, 36 + dataBytes);
    wav += "WAVEfmt ";
    le32(wav, 16);
    le16(wav, 1); // PCM
    le16(wav, 1); // mono
    le32(wav, 8000);
    le32(wav, 16000);
    le16(wav, 2);
    le16(wav, 16);
    wav += "data";
    le32(wav, dataBytes);
    wav.append(dataBytes, '\0');
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(wav.data(), static_cast<std::streamsize>(wav.size()));
    out.close();
    if (!out)
        throw Error(dberr::kFailed, "cannot write the recording " + file.string());
    if (readOnly) {
        fs::permissions(file,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
}

std::string Seeder::importedRecording(const std::string &alias) {
    fs::path folder = fs::absolute(fs::path(m_options.rootPath) / "Imported Names");
    fs::create_directories(folder);
    fs::path file = folder / (alias + ".wav");
    writeWav(file, false);
    if (!m_options.serverRootPath.empty())
        return m_options.serverRootPath + "Imported Names\\" + alias + ".wav";
    return file.string();
}

std::string Seeder::newRecording(bool readOnly, bool writeFile) {
    std::string name = m_rng.guid();
    name = name.substr(1, 36) + ".wav";
    if (writeFile)
        writeWav(m_streamFolder / name, readOnly);
    return name;
}

void Seeder::addGreetings(const std::string &parent, int recordPercent, bool readOnly,
                          bool missingFiles) {
    for (const char *g : kGreetings) {
        std::string name = g;
        bool standard = name == "Standard";
        int enabled = standard || name == "Error" ? 1 : m_rng.chance(30) ? 1 : 0;
        bool recorded = m_rng.chance(standard ? recordPercent + 15 : recordPercent);
        if (readOnly)
            recorded = true;
        if (missingFiles)
            recorded = standard || name == "Alternate";
        V path = kNull;
        if (recorded)
            path = txt(newRecording(readOnly, !missingFiles));
        m_greeting->add({txt(m_rng.guid()), txt(parent), txt(name), num(enabled),
                         num(recorded           ? 1
                             : m_rng.chance(20) ? 2
                                                : 0),
                         path, num(m_rng.chance(10) ? 1 : 0), num(1), num(m_rng.below(3))});
    }
}

void Seeder::addContactRules(const std::string &parent, const std::string &ext) {
    for (const char *c : kContactRules) {
        bool standard = std::string(c) == "Standard";
        bool ownExtension = standard || m_rng.chance(70);
        m_contact->add(
            {txt(m_rng.guid()), txt(parent), txt(c), num(standard || m_rng.chance(25) ? 1 : 0),
             num(m_rng.below(2)), num(ownExtension ? 1 : 0),
             ownExtension ? txt(ext) : txt(std::to_string(5000000 + m_rng.below(999999))),
             num(3 + m_rng.below(4))});
    }
}

void Seeder::addMenu(const std::string &parent, const std::map<std::string, std::string> &gotoKeys,
                     bool locked) {
    for (const char *key : kMenuKeys) {
        std::string k = key;
        int action = kActIgnore;
        V target = kNull, conversation = kNull;
        if (auto it = gotoKeys.find(k); it != gotoKeys.end()) {
            action = kActGoto;
            target = txt(it->second);
        } else if (k == "*") {
            action = kActSignIn;
            conversation = txt("SubSignIn");
        } else if (k == "#") {
            action = kActSkipGreeting;
        }
        m_menu->add({txt(m_rng.guid()), txt(parent), txt(k), num(action), target, conversation,
                     num(locked ? 1 : 0)});
    }
}

void Seeder::seedSubscriber(const PlannedSubscriber &p) {
    addSubscriberRows(p, voiceName(p));
    int recordPercent = !p.isVoice() ? 0 : busy(p.index) ? 25 : 1;
    if (p.index == role::kModel)
        recordPercent = 60;
    addGreetings(p.chId, recordPercent, p.index == role::kReadOnlyRecordings,
                 p.index == role::kMissingRecordings);
    addContactRules(p.chId, p.ext);
    addMenu(p.chId, personalMenu(p));
    if (p.isVoice())
        addNotifications(p);
    addSubscriberExtensions(p);
    if (p.dirId) {
        m_directory->add({txt(*p.dirId), txt(p.isVoice() ? "user" : "contact"), txt(p.alias),
                          txt(p.display), opt(p.first), opt(p.last), opt(p.smtp), opt(p.home),
                          opt(p.legacy), txt(p.ext), txt(p.id), num(1),
                          txt(creationTime(p.index + 500))});
    }
    if (p.mailbox)
        writeMailbox(p);
}

// The voice name: relative to the stream folder, except for a few given as full paths (names
// imported from elsewhere).
std::optional<std::string> Seeder::voiceName(const PlannedSubscriber &p) {
    const bool isBusy = busy(p.index);
    if (p.index == role::kFullPathVoice)
        return importedRecording(p.alias);
    if (p.index == role::kReadOnlyRecordings || p.index == role::kModel)
        return newRecording(p.index == role::kReadOnlyRecordings, true);
    if (p.index == role::kMissingRecordings)
        return newRecording(false, false);
    if (p.isVoice() && p.index > role::kModel && m_rng.chance(isBusy ? 30 : 2))
        return isBusy && m_rng.chance(5) ? importedRecording(p.alias) : newRecording(false, true);
    return std::nullopt;
}

void Seeder::addSubscriberRows(const PlannedSubscriber &p,
                               const std::optional<std::string> &voice) {
    static const int languages[] = {1031, 1036, 3082, 1043, 1040};
    int language = languages[m_rng.below(std::size(languages))];
    m_subscriber->add({txt(p.id),
                       txt(p.alias),
                       num(p.type),
                       txt(p.display),
                       opt(p.first),
                       opt(p.last),
                       opt(p.dirId),
                       txt(p.alias),
                       opt(p.home),
                       opt(p.smtp),
                       opt(p.legacy),
                       opt(p.remoteNode),
                       txt(p.chId),
                       txt(m_cos.at(p.cos)),
                       txt(m_hq),
                       optNum(p.switchId),
                       opt(voice),
                       num(language),
                       num(std::array{10, 20, 35, 110}[m_rng.below(4)]),
                       num(m_rng.below(2) * 2),
                       num(m_rng.below(2) * 2),
                       num(m_rng.chance(90) ? 1 : 0),
                       num(1),
                       num(1),
                       num(p.undeletable ? 1 : 0),
                       txt(creationTime(p.index)),
                       txt(creationTime(p.index + 500))});
    m_global->add({txt(p.id), txt(p.alias), txt(p.display), opt(p.first), opt(p.last), num(p.type),
                   txt(p.chId), txt(m_hq), opt(p.dirId), opt(p.smtp), txt(p.ext), opt(voice),
                   num(1)});
    m_callHandler->add({txt(p.chId), txt(p.alias), txt(p.display), num(1), txt(p.id), txt(p.id),
                        txt(m_hq), kNull, num(language),
                        num(std::array{120, 240, 900}[m_rng.below(3)]), num(0), num(0),
                        num(1 + m_rng.below(2)), num(m_rng.below(2)), txt(creationTime(p.index))});
}

// Personal menus: 0 goes to the operator; some subscribers send callers on to a colleague or
// the sales menu.
std::map<std::string, std::string> Seeder::personalMenu(const PlannedSubscriber &p) {
    std::map<std::string, std::string> gotoKeys;
    if (!handlerId("operator").empty())
        gotoKeys["0"] = handlerId("operator");
    if (p.isVoice() && m_rng.chance(15) && m_subs.size() > 1) {
        const auto &colleague = m_subs[m_rng.below(m_subs.size())];
        if (colleague.index != p.index)
            gotoKeys["1"] = colleague.chId;
    }
    if (p.index == role::kModel + 1)
        gotoKeys["1"] = m_subs[role::kModel].chId;
    if (p.isVoice() && m_rng.chance(5))
        gotoKeys["2"] = handlerId("salesmenu");
    return gotoKeys;
}

void Seeder::addNotifications(const PlannedSubscriber &p) {
    static const std::pair<const char *, int> devices[] = {
        {"Home Phone", 1}, {"Work Phone", 1}, {"Pager", 2}, {"Mobile Phone", 1}};
    int deviceCount = m_rng.chance(10) ? 4 : 3;
    for (int d = 0; d < deviceCount; ++d) {
        std::string device = m_rng.guid();
        bool active = m_rng.chance(30);
        m_device->add({txt(device), txt(p.id), txt(devices[d].first), num(devices[d].second),
                       txt("555" + std::to_string(1000000 + m_rng.below(8999999))), kNull,
                       optNum(p.switchId), num(active ? 1 : 0)});
        m_rule->add({txt(m_rng.guid()), txt(p.id), txt(devices[d].first), txt(device),
                     txt(m_rng.chance(50) ? "NewVoiceMail" : "NewVoiceMail,NewUrgentVoiceMail"),
                     num(active ? 1 : 0)});
    }
    m_mwi->add(
        {txt(m_rng.guid()), txt(p.id), txt("Default MWI"), txt(p.ext), optNum(p.switchId), num(1)});
}

void Seeder::addSubscriberExtensions(const PlannedSubscriber &p) {
    addExtension(p.id, objtype::kSubscriber, p.ext, true, "SYSTEM_DEFINED_PRIMARY_EXT", m_hq);
    int alternates = 0;
    if (p.index == role::kTwelveAltExt)
        alternates = 12;
    else if (p.index == role::kModel)
        alternates = 2;
    else if (p.index > role::kModel && p.isVoice() && m_rng.chance(10))
        alternates = 1 + m_rng.below(3);
    for (int k = 0; k < alternates; ++k) {
        addExtension(p.id, objtype::kSubscriber, std::to_string(5550000 + 16 * p.index + k), false,
                     "SYSTEM_DEFINED_ALT_EXT_" + std::to_string(k + 1), m_hq);
    }
}

void Seeder::writeMailbox(const PlannedSubscriber &p) {
    if (m_options.mailstoreFolder.empty())
        return;
    fs::path box = fs::path(m_options.mailstoreFolder) / *p.home / *p.smtp;
    const char *folders[] = {"Inbox", "Sent Items", "Deleted Items"};
    const int most[] = {6, 3, 4};
    for (int f = 0; f < 3; ++f) {
        fs::path folder = box / folders[f];
        fs::create_directories(folder);
        int messages = busy(p.index) ? m_rng.below(most[f]) : 0;
        if (p.index == role::kModel)
            messages = 5 - f * 2;
        for (int m = 0; m < messages; ++m) {
            char name[16];
            std::snprintf(name, sizeof name, "%04d.msg", m + 1);
            std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
            out << "From: " << m_subs[m_rng.below(m_subs.size())].alias << "@" << kMailDomain
                << "\r\nTo: " << *p.smtp << "\r\nSubject: Voice message (" << 5 + m_rng.below(90)
                << " seconds)\r\n\r\n";
            if (!out)
                throw Error(dberr::kFailed, "cannot write the message " + (folder / name).string());
        }
    }
}

void Seeder::seedHandler(const Handler &h, bool recorded) {
    m_callHandler->add({txt(h.id), txt(h.alias), txt(h.display), num(0), opt(h.admin),
                        opt(h.recipient), txt(h.location), kNull, num(1033), num(300), num(1),
                        num(1), num(0), num(0), txt(creationTime(0))});
    addGreetings(h.id, recorded ? 50 : 0, false, false);
    addContactRules(h.id, h.ext.value_or("3001"));
    addMenu(h.id, h.menu);
    if (h.ext)
        addExtension(h.id, objtype::kCallHandler, *h.ext, true, "SYSTEM_DEFINED_PRIMARY_EXT",
                     h.location);
}

void Seeder::seedLists() {
    std::optional<std::string> installer;
    if (!m_subs.empty())
        installer = m_subs[role::kInstaller].id;
    Inserter lists(m_db, "DistributionList",
                   {"DistributionListObjectID", "Alias", "DisplayName", "DirectoryID",
                    "LocationObjectID", "AdministratorObjectID", "IsPublic"});
    for (const auto &l : m_lists) {
        lists.add({txt(l.id), txt(l.alias), txt(l.display), txt(l.dirId), txt(l.location),
                   opt(installer), num(1)});
        m_directory->add({txt(l.dirId), txt("group"), txt(l.alias), txt(l.display), kNull, kNull,
                          txt(l.alias + "@" + kMailDomain), kNull, kNull, opt(l.ext), txt(l.id),
                          num(1), txt(creationTime(0))});
        for (int member : l.members) {
            m_groupMember->add({txt(l.dirId), txt(*m_subs[member].dirId)});
            m_listMember->add({txt(l.id), txt(m_subs[member].id)});
        }
        if (l.ext) {
            addExtension(l.id, objtype::kDistributionList, *l.ext, true,
                         "SYSTEM_DEFINED_PRIMARY_EXT", l.location);
        }
    }

    Inserter interviews(m_db, "InterviewHandler",
                        {"InterviewHandlerObjectID", "Alias", "DisplayName", "RecipientObjectID",
                         "LocationObjectID", "QuestionCount"});
    std::optional<std::string> jobsRecipient;
    if (!m_subs.empty())
        jobsRecipient = m_subs[std::min<std::size_t>(role::kModel, m_subs.size() - 1)].id;
    interviews.add({txt(m_interviewJobs), txt("jobline"), txt("Job Line"), opt(jobsRecipient),
                    txt(m_hq), num(4)});
    std::string support;
    for (const auto &l : m_lists) {
        if (l.alias == "support")
            support = l.id;
    }
    interviews.add({txt(m_interviewFeedback), txt("feedback"), txt("Customer Feedback"),
                    txt(support), txt(m_hq), num(3)});
    addExtension(m_interviewJobs, objtype::kInterviewHandler, "2500", true,
                 "SYSTEM_DEFINED_PRIMARY_EXT", m_hq);
    addExtension(m_interviewFeedback, objtype::kInterviewHandler, "2501", true,
                 "SYSTEM_DEFINED_PRIMARY_EXT", m_hq);

    Inserter directories(m_db, "DirectoryHandler",
                         {"DirectoryHandlerObjectID", "Alias", "DisplayName", "LocationObjectID",
                          "SearchByLastName", "SayExtension"});
    directories.add({txt(m_directoryAll), txt("companydirectory"), txt("Company Directory"),
                     txt(m_hq), num(1), num(1)});
    directories.add({txt(m_directorySales), txt("salesdirectory"), txt("Sales Directory"),
                     txt(m_hq), num(1), num(0)});
    addExtension(m_directoryAll, objtype::kDirectoryHandler, "2600", true,
                 "SYSTEM_DEFINED_PRIMARY_EXT", m_hq);
    addExtension(m_directorySales, objtype::kDirectoryHandler, "2601", true,
                 "SYSTEM_DEFINED_PRIMARY_EXT", m_hq);
}

void Seeder::seedDirectoryUsers() {
    // Directory accounts that are not subscribers; some are in the lists' groups, which the
    // distribution-list synchronisation passes over.
    int count = 3 + m_options.subscribers / 10;
    for (int u = 0; u < count; ++u) {
        std::string id = m_rng.guid();
        std::string first = kFirstNames[m_rng.below(std::size(kFirstNames))];
        std::string last = kLastNames[m_rng.below(std::size(kLastNames))];
        std::string alias = "user" + std::to_string(u + 1);
        m_directory->add({txt(id), txt("user"), txt(alias), txt(first + " " + last), txt(first),
                          txt(last), txt(alias + "@" + kMailDomain), txt(kHomeServers[0]), kNull,
                          kNull, kNull, num(0), txt(creationTime(0))});
        for (const auto &l : m_lists) {
            if (l.alias != "allvoicemailusers" && m_rng.chance(10))
                m_groupMember->add({txt(l.dirId), txt(id)});
        }
    }
}

} // namespace

void seedServer(sqlite3 *db, const SeedOptions &options) {
    Seeder seeder(db, options);
    seeder.run();
}

} // namespace zeph::sqlite::server
