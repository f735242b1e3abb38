// The upgrade command from format version 48 and 65 to 83: the driver's own
// cases, the whole walk from the fixtures, the data the steps convert, and
// what happens when a step fails (with and without -X).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <stdio.h>

#include <set>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using vt::kBanner;
using Rows = std::vector<std::vector<std::string>>;

const char kSqliteWarning[] =
   "WARNING: Due to limitations of SQLite requested operation cannot be completed\n"
   "You system will still be limited to use SNMP commonity strings not longer than 32 characters.\n";

// A fresh database loaded from tests/fixtures/v<version>.sql, with the
// DBSyntax of its engine.
vt::TestDb FixtureDb(vt::Engine e, int version)
{
   vt::TestDb db = vt::NewDb(e);
   // One transaction: loading is quicker, and no half-loaded fixture is left.
   vt::Exec(db, "BEGIN;\n" + vt::ReadFile(vt::SourceDir() + "/tests/fixtures/v" + std::to_string(version) + ".sql") +
                   "COMMIT;\n");
   vt::SetConfigValue(db, "DBSyntax", vt::EngineSyntax(e));
   return db;
}

const char kMySqlPartlyApplied[] =
   "WARNING: MySQL commits every schema change at once: what the step from version %d to %d\n"
   "changed in the schema before the error cannot be rolled back, so the step may be partly applied.\n";

std::string MySqlPartlyApplied(int from)
{
   char text[512];
   snprintf(text, sizeof(text), kMySqlPartlyApplied, from, from + 1);
   return text;
}

// On MySQL a rebuild that did not get every row back keeps the old rows in
// a file and prints its path.  Takes that line out of *out and returns the
// file's contents ("" when there is no such line); the file is removed.
std::string TakeSavedRows(std::string *out, const std::string &table)
{
   const std::string head = "The rows of table " + table + " as they were before this step are saved in ";
   size_t at = out->find(head);
   if (at == std::string::npos)
      return "";
   size_t end = out->find('\n', at);
   std::string path = out->substr(at + head.size(), end - at - head.size());
   out->erase(at, end + 1 - at);
   std::string contents = vt::ReadFile(path);
   EXPECT_EQ(remove(path.c_str()), 0) << path;
   return contents;
}

bool IsSqlite(const vt::TestDb &db)
{
   return db.engine == vt::Engine::SQLite;
}

// What the walk prints from version `from` up to `to` on a fixture database
// whose syntax is that of its engine: one line per step, the progress of step
// 52 to 53 and the warning of step 64 to 65 on SQLite.
std::string Walk(const vt::TestDb &db, int from, int to, const std::string &nodes = "   * idata_5\n   * idata_9\n")
{
   std::string out;
   for (int v = from; v < to; v++)
   {
      out += "Upgrading from version " + std::to_string(v) + " to " + std::to_string(v + 1) + "\n";
      if (v == 52)
         out += "Reindexing database:\n" + nodes;
      if (v == 64 && IsSqlite(db))
         out += kSqliteWarning;
   }
   return out;
}

std::string Upgraded(const std::string &walk, const char *verdict = "succeeded")
{
   return std::string(kBanner) + "Upgrading database...\n" + walk + "Database upgrade " + verdict + "\n";
}

// True when the select runs, i.e. the table and its columns exist.
bool Selectable(const vt::TestDb &db, const std::string &what)
{
   return vt::TryExec(db, "SELECT " + what + ";\n");
}

class Upgrade48 : public ::testing::TestWithParam<vt::Engine>
{
};

INSTANTIATE_TEST_SUITE_P(Engines, Upgrade48, ::testing::ValuesIn(vt::TestEngines()),
                         [](const ::testing::TestParamInfo<vt::Engine> &info) {
                            return std::string(vt::EngineName(info.param));
                         });

TEST_P(Upgrade48, FromVersion48To83)
{
   vt::TestDb db = FixtureDb(GetParam(), 48);
   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(r.out, Upgraded(Walk(db, 48, 83))) << r.err;
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "83");

   // 48 to 52: new columns with their values, tool changes.
   EXPECT_EQ(vt::Query(db, "SELECT item_id,all_thresholds,resource_id,proxy_node FROM items ORDER BY item_id"),
             (Rows{ { "1", "0", "0", "0" }, { "2", "0", "0", "0" } }));
   EXPECT_EQ(vt::Query(db, "SELECT threshold_id,rearm_event_code,repeat_interval FROM thresholds ORDER BY threshold_id"),
             (Rows{ { "1", "18", "-1" }, { "2", "18", "-1" } }));
   EXPECT_EQ(vt::Query(db, "SELECT tool_id,flags,confirmation_text FROM object_tools WHERE tool_id IN (1,3,4) ORDER BY tool_id"),
             (Rows{ { "1", "10", "Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be shut down. Are you sure?" },
                    { "3", "0", "#00" },
                    { "4", "10", "Velmor agent on host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be restarted. Are you sure?" } }));
   EXPECT_EQ(vt::Query(db, "SELECT col_number,col_name,col_substr FROM object_tools_table_columns WHERE tool_id=12 ORDER BY col_number"),
             (Rows{ { "0", "IP address", "1" }, { "1", "Name", "5" }, { "2", "Packet size", "4" },
                    { "3", "Last RTT", "2" }, { "4", "Average RTT", "3" } }));
   EXPECT_EQ(vt::QueryValue(db, "SELECT tool_data FROM object_tools WHERE tool_id=16"),
             "Active User Sessions#7FSystem.ActiveUserSessions#7F^\"(.*)\" \"(.*)\" \"(.*)\"");
   EXPECT_EQ(vt::Query(db, "SELECT tool_id FROM object_tools_acl ORDER BY tool_id"),
             (Rows{ { "1" }, { "12" }, { "14" }, { "16" }, { "17" }, { "18" }, { "19" } }));
   EXPECT_EQ(vt::Query(db, "SELECT range_start,range_end FROM event_groups"), (Rows{ { "0", "0" } }));

   // 52 to 53: the template of the syntax replaced the old row.
   EXPECT_EQ(vt::Query(db, "SELECT var_value,is_visible,need_server_restart FROM config WHERE var_name='IDataIndexCreationCommand_1'"),
             (Rows{ { GetParam() == vt::Engine::MySQL
                         ? "CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)"
                         : "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)",
                      "0", "1" } }));

   // 54 to 55: descriptions are gone, clusters are there.
   for (const char *table : { "containers", "nodes", "templates", "zones" })
      EXPECT_FALSE(Selectable(db, std::string("description FROM ") + table)) << table;
   EXPECT_TRUE(Selectable(db, "id,cluster_type FROM clusters"));

   // 61 to 62: the ack key became the key of terminating rules.
   EXPECT_EQ(vt::Query(db, "SELECT rule_id,alarm_key,alarm_timeout,alarm_timeout_event,situation_id,situation_instance FROM event_policy ORDER BY rule_id"),
             (Rows{ { "0", "DC_THRESHOLD_%i", "0", "43", "0", "#00" }, { "1", "DC_THRESHOLD_%i", "0", "43", "0", "#00" } }));
   EXPECT_FALSE(Selectable(db, "alarm_ack_key FROM event_policy"));
   EXPECT_EQ(vt::Query(db, "SELECT event_code FROM event_cfg WHERE event_code>=38 ORDER BY event_code"),
             (Rows{ { "38" }, { "39" }, { "40" }, { "41" }, { "42" }, { "43" }, { "44" }, { "45" }, { "46" },
                    { "47" }, { "48" }, { "49" }, { "50" }, { "51" } }));
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM oid_to_type"), "21");

   // config rows: existing ones kept, deleted ones gone, converted ones in days.
   EXPECT_EQ(vt::ConfigValue(db, "MailEncoding"), "utf-8");
   EXPECT_EQ(vt::ConfigValue(db, "EventLogRetentionTime"), "3");
   EXPECT_EQ(vt::ConfigValue(db, "SyslogRetentionTime"), "60");
   EXPECT_EQ(vt::ConfigValue(db, "WindowsConsoleUpgradeURL").find("%version%") != std::string::npos, true);
   EXPECT_EQ(vt::ConfigValue(db, "BeaconHosts"), "#00");
   for (const char *gone : { "EnableAccessControl", "EnableEventAccessControl", "NumberOfEventProcessors",
                             "EventStormThreshold", "RetainCustomInterfaceNames" })
      EXPECT_EQ(vt::QueryValue(db, std::string("SELECT count(*) FROM config WHERE var_name='") + gone + "'"), "0") << gone;

   // 76 to 77 and 80 to 81: rows kept and numbered.
   EXPECT_EQ(vt::Query(db, "SELECT condition_id,sequence_number,dci_id,node_id,dci_func,num_polls FROM cond_dci_map ORDER BY condition_id,sequence_number"),
             (Rows{ { "3", "0", "1", "5", "0", "1" }, { "3", "1", "2", "9", "1", "3" }, { "3", "2", "7", "9", "3", "2" },
                    { "8", "0", "1", "5", "0", "1" }, { "8", "1", "2", "9", "2", "5" } }));
   EXPECT_EQ(vt::Query(db, "SELECT item_id,schedule_id,schedule FROM dci_schedules ORDER BY schedule_id"),
             (Rows{ { "10", "1", "*/5 * * * *" }, { "10", "2", "0 8#2C20 * * 1-5" }, { "12", "3", "30 2 * * *" } }));
   EXPECT_FALSE(Selectable(db, "module_id FROM modules"));
   for (const char *table : { "audit_log", "situations", "snmp_communities", "trusted_nodes", "object_custom_attributes",
                              "web_maps", "config_clob", "address_lists", "lpp_rules", "certificates", "graphs" })
      EXPECT_TRUE(Selectable(db, std::string("* FROM ") + table)) << table;
}

TEST_P(Upgrade48, FromVersion65To83)
{
   vt::TestDb db = FixtureDb(GetParam(), 65);
   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(r.out, Upgraded(Walk(db, 65, 83))) << r.err;
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "83");

   EXPECT_EQ(vt::Query(db, "SELECT port1,port2 FROM submap_links"), (Rows{ { "#00", "#00" } }));
   EXPECT_EQ(vt::Query(db, "SELECT synthetic_mask,required_polls FROM interfaces ORDER BY id"), (Rows{ { "0", "0" }, { "0", "0" } }));
   EXPECT_EQ(vt::Query(db, "SELECT synthetic_mask FROM subnets"), (Rows{ { "0" } }));
   EXPECT_EQ(vt::Query(db, "SELECT user_tag FROM snmp_trap_cfg"), (Rows{ { "#00" } }));
   EXPECT_EQ(vt::Query(db, "SELECT user_tag FROM event_log"), (Rows{ { "#00" } }));
   EXPECT_EQ(vt::Query(db, "SELECT required_polls,uname FROM nodes ORDER BY id"), (Rows{ { "0", "#00" }, { "0", "#00" } }));
   EXPECT_EQ(vt::Query(db, "SELECT required_polls FROM network_services"), (Rows{ { "0" } }));
   // Step 82 to 83 resets every alarm's timeout.
   EXPECT_EQ(vt::Query(db, "SELECT alarm_id,timeout,timeout_event FROM alarms ORDER BY alarm_id"),
             (Rows{ { "1", "0", "43" }, { "2", "0", "43" } }));

   // A condition id of 0 is numbered like any other; the rows stay as they were.
   EXPECT_EQ(vt::Query(db, "SELECT condition_id,sequence_number,dci_id,node_id,dci_func,num_polls FROM cond_dci_map ORDER BY condition_id,sequence_number"),
             (Rows{ { "0", "0", "3", "5", "1", "2" }, { "0", "1", "4", "9", "0", "1" },
                    { "3", "0", "1", "5", "0", "1" }, { "3", "1", "2", "9", "1", "3" }, { "3", "2", "7", "9", "3", "2" },
                    { "8", "0", "1", "5", "0", "1" }, { "8", "1", "2", "9", "2", "5" } }));
   // Schedule ids run over the whole table; they do not restart per item.
   EXPECT_EQ(vt::Query(db, "SELECT item_id,schedule_id,schedule FROM dci_schedules ORDER BY schedule_id"),
             (Rows{ { "10", "1", "*/5 * * * *" }, { "10", "2", "0 8#2C20 * * 1-5" }, { "12", "3", "30 2 * * *" },
                    { "1", "4", "0 */6 * * *" } }));
   EXPECT_EQ(vt::Query(db, "SELECT list_type,community_id,addr_type,addr1,addr2 FROM address_lists ORDER BY list_type,addr_type"),
             (Rows{ { "1", "0", "0", "10.0.0.0", "255.0.0.0" }, { "1", "0", "1", "192.168.1.1", "192.168.1.20" },
                    { "2", "0", "0", "172.16.0.0", "255.240.0.0" } }));

   // 1.5 days -> 1, 10 days -> 10; an existing CheckTrustedNodes keeps its value.
   EXPECT_EQ(vt::Query(db, "SELECT var_value,is_visible,need_server_restart FROM config WHERE var_name='EventLogRetentionTime'"),
             (Rows{ { "1", "1", "0" } }));
   EXPECT_EQ(vt::ConfigValue(db, "SyslogRetentionTime"), "10");
   EXPECT_EQ(vt::ConfigValue(db, "CheckTrustedNodes"), "0");
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM config WHERE var_name IN ('NumberOfEventProcessors','EventStormThreshold','RetainCustomInterfaceNames')"), "0");
   EXPECT_EQ(vt::ConfigValue(db, "EventStormEventsPerSecond"), "100");
}

// Seconds in, days out: truncated, at least 1, a missing row created with 60.
TEST_P(Upgrade48, RetentionTimesBecomeDays)
{
   struct Case
   {
      const char *seconds;   // nullptr: no row
      const char *days;
   };
   const Case pairs[][2] = {
      { { "5184000", "60" }, { "259200", "3" } },
      { { "129600", "1" }, { "86399", "1" } },
      { { "0", "1" }, { "-432000", "1" } },
      { { "ten days", "1" }, { nullptr, "60" } },
   };
   for (const auto &pair : pairs)
   {
      vt::TestDb db = FixtureDb(GetParam(), 65);
      vt::Exec(db, "DELETE FROM config WHERE var_name IN ('EventLogRetentionTime','SyslogRetentionTime');\n");
      if (pair[0].seconds != nullptr)
         vt::SetConfigValue(db, "EventLogRetentionTime", pair[0].seconds);
      if (pair[1].seconds != nullptr)
         vt::SetConfigValue(db, "SyslogRetentionTime", pair[1].seconds);
      vt::RunResult r = vt::Run(db, { "upgrade" });
      EXPECT_EQ(r.out, Upgraded(Walk(db, 65, 83))) << r.err;
      EXPECT_EQ(vt::ConfigValue(db, "EventLogRetentionTime"), pair[0].days) << pair[0].seconds;
      EXPECT_EQ(vt::ConfigValue(db, "SyslogRetentionTime"), pair[1].days)
         << (pair[1].seconds != nullptr ? pair[1].seconds : "no row");
   }
}

// The version read, the lock test and a version without a step.
TEST_P(Upgrade48, DriverStopsBeforeTheWalk)
{
   struct Case
   {
      const char *title;
      const char *version;   // nullptr: no DBFormatVersion row
      const char *lock;      // nullptr: no DBLockStatus row
      std::string out;       // after "Upgrading database...\n"
   };
   const Case cases[] = {
      { "up to date, lock never read", "83", "LOCKED", "Your database format is up to date\n" },
      { "newer than the tool, lock never read", "84", "LOCKED",
        "Your database has format version 84, this tool is compiled for version 83.\n"
        "You need to upgrade your server before using this database.\n" },
      { "locked", "65", "LOCKED", "Database is locked\n" },
      { "lower-case unlocked is a lock", "65", "unlocked", "Database is locked\n" },
      { "lock value compared as stored, not decoded", "65", "#55NLOCKED", "Database is locked\n" },
      { "UNLOCKED with a trailing blank", "65", "UNLOCKED ", "Database is locked\n" },
      { "below the oldest step", "13", "UNLOCKED",
        "Unable to find upgrade procedure for version 13\nDatabase upgrade failed\n" },
      { "no version row", nullptr, "UNLOCKED", "Unable to find upgrade procedure for version 0\nDatabase upgrade failed\n" },
      { "version that is not a number", "version 48", nullptr,
        "Unable to find upgrade procedure for version 0\nDatabase upgrade failed\n" },
      { "negative version", "-1", "UNLOCKED", "Unable to find upgrade procedure for version -1\nDatabase upgrade failed\n" },
   };
   for (const auto &c : cases)
   {
      vt::TestDb db = FixtureDb(GetParam(), 65);
      vt::Exec(db, "DELETE FROM config WHERE var_name IN ('DBFormatVersion','DBLockStatus');\n");
      if (c.version != nullptr)
         vt::SetConfigValue(db, "DBFormatVersion", c.version);
      if (c.lock != nullptr)
         vt::SetConfigValue(db, "DBLockStatus", c.lock);
      vt::RunResult r = vt::Run(db, { "upgrade" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Upgrading database...\n" + c.out) << c.title << "\n" << r.err;
      EXPECT_EQ(r.status, 0) << c.title;
      EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), c.version != nullptr ? c.version : "") << c.title;
      EXPECT_TRUE(Selectable(db, "module_id FROM modules")) << c.title << ": nothing may be changed";
   }
}

TEST_P(Upgrade48, MissingLockRowCountsAsUnlocked)
{
   vt::TestDb db = FixtureDb(GetParam(), 65);
   vt::Exec(db, "DELETE FROM config WHERE var_name='DBLockStatus';\n");
   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(r.out, Upgraded(Walk(db, 65, 83))) << r.err;
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "83");
}

// A re-insert of step 80 to 81 fails (two equal address rows cannot both go
// under the new primary key): the step is rolled back with both tables and
// all their rows, the version stays at the last committed step, and the next
// run resumes there.
TEST_P(Upgrade48, FailedStepIsRolledBackAndTheNextRunResumes)
{
   vt::TestDb db = FixtureDb(GetParam(), 65);
   vt::Exec(db, "INSERT INTO address_lists (list_type,addr_type,addr1,addr2) VALUES (1,0,'10.0.0.0','255.0.0.0');\n");
   const std::string dupInsert =
      "INSERT INTO address_lists (list_type,community_id,addr_type,addr1,addr2) VALUES(1,0,0,'10.0.0.0','255.0.0.0')\n";

   vt::RunResult r = vt::Run(db, { "upgrade" });
   const bool mysql = GetParam() == vt::Engine::MySQL;
   std::string out = r.out;
   std::string saved = TakeSavedRows(&out, "address_lists");
   std::string before = std::string(kBanner) + "Upgrading database...\n" + Walk(db, 65, 81) + "SQL query failed (";
   std::string after = "):\n" + dupInsert + "Rolling back last stage due to upgrade errors...\n" +
                       (mysql ? MySqlPartlyApplied(80) : "") + "Database upgrade failed\n";
   EXPECT_EQ(out.substr(0, before.size()), before) << r.out;
   ASSERT_GE(out.size(), after.size());
   EXPECT_EQ(out.substr(out.size() - after.size()), after) << r.out;
   if (IsSqlite(db))
   {
      EXPECT_EQ(out, before + "UNIQUE constraint failed: address_lists.list_type, address_lists.community_id, "
                              "address_lists.addr_type, address_lists.addr1, address_lists.addr2" + after);
   }
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "80");
   EXPECT_FALSE(Selectable(db, "* FROM object_custom_attributes"));

   if (!mysql)
   {
      // Both rebuilt tables are back as they were, every row included.
      EXPECT_EQ(saved, "");
      EXPECT_EQ(vt::Query(db, "SELECT item_id,schedule FROM dci_schedules ORDER BY item_id,schedule"),
                (Rows{ { "1", "0 */6 * * *" }, { "10", "*/5 * * * *" }, { "10", "0 8#2C20 * * 1-5" }, { "12", "30 2 * * *" } }));
      EXPECT_FALSE(Selectable(db, "schedule_id FROM dci_schedules"));
      EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM address_lists"), "4");
      vt::Exec(db, "DELETE FROM address_lists WHERE list_type=1 AND addr_type=0;\n"
                   "INSERT INTO address_lists (list_type,addr_type,addr1,addr2,community_id) VALUES (1,0,'10.0.0.0','255.0.0.0',0);\n");
   }
   else
   {
      // MySQL committed the DROP: the new address_lists is empty, and the
      // old rows are in the file, ready for the batch command.
      EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM address_lists"), "0");
      EXPECT_EQ(saved, "INSERT INTO address_lists (list_type,community_id,addr_type,addr1,addr2) VALUES(1,0,0,'10.0.0.0','255.0.0.0');\n"
                       "INSERT INTO address_lists (list_type,community_id,addr_type,addr1,addr2) VALUES(1,0,1,'192.168.1.1','192.168.1.20');\n"
                       "INSERT INTO address_lists (list_type,community_id,addr_type,addr1,addr2) VALUES(2,0,0,'172.16.0.0','255.240.0.0');\n" +
                          dupInsert.substr(0, dupInsert.size() - 1) + ";\n");
      EXPECT_FALSE(vt::TryExec(db, saved));   // the last row is the duplicate
      // The schedules were rebuilt whole, so their file is gone.
      EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM dci_schedules"), "4");
   }
   r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(r.out, Upgraded(Walk(db, 80, 83))) << r.err;
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "83");
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM dci_schedules"), "4");
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM address_lists"), "3");
}

// With -X a failed statement is shown and the step goes on; a row that could
// not be copied back is named in a warning; the version still advances.
TEST_P(Upgrade48, IgnoreErrorsGoesOnAndSaysWhatWasLost)
{
   vt::TestDb db = FixtureDb(GetParam(), 65);
   vt::Exec(db, "INSERT INTO address_lists (list_type,addr_type,addr1,addr2) VALUES (1,0,'10.0.0.0','255.0.0.0');\n"
                "ALTER TABLE submap_links ADD port1 varchar(255);\n");
   vt::RunResult r = vt::Run(db, { "-X", "upgrade" });
   std::string saved = TakeSavedRows(&r.out, "address_lists");
   EXPECT_EQ(saved.empty(), GetParam() != vt::Engine::MySQL) << saved;
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "83");
   const std::string lost = "WARNING: 1 of 4 rows of table address_lists could not be copied back and are lost\n";
   EXPECT_NE(r.out.find("ALTER TABLE submap_links ADD port1 varchar(255)\nUpgrading") , std::string::npos) << r.out;
   EXPECT_NE(r.out.find("'255.0.0.0')\n" + lost + "Upgrading from version 81 to 82\n"), std::string::npos) << r.out;
   EXPECT_EQ(r.out.find("Rolling back"), std::string::npos);
   EXPECT_EQ(r.out.substr(r.out.size() - 27), "Database upgrade succeeded\n");
   // The script went on after its failed first line.
   EXPECT_EQ(vt::Query(db, "SELECT port1,port2 FROM submap_links"), (Rows{ { "#00", "#00" } }));
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM address_lists"), "3");
   if (IsSqlite(db))
   {
      std::string walk = Walk(db, 65, 83);
      std::string failedAlter = "SQL query failed (duplicate column name: port1):\nALTER TABLE submap_links ADD port1 varchar(255)\n";
      std::string failedInsert =
         "SQL query failed (UNIQUE constraint failed: address_lists.list_type, address_lists.community_id, "
         "address_lists.addr_type, address_lists.addr1, address_lists.addr2):\n"
         "INSERT INTO address_lists (list_type,community_id,addr_type,addr1,addr2) VALUES(1,0,0,'10.0.0.0','255.0.0.0')\n";
      walk.insert(walk.find("Upgrading from version 66"), failedAlter);
      walk.insert(walk.find("Upgrading from version 81"), failedInsert + lost);
      EXPECT_EQ(r.out, Upgraded(walk));
   }
}

// Stored texts are copied as they stand, and a damaged one with quotes
// cannot end its literal.
TEST_P(Upgrade48, StoredTextsAreCopiedExactly)
{
   vt::TestDb db = FixtureDb(GetParam(), 65);
   vt::Exec(db, "DELETE FROM dci_schedules;\n"
                "INSERT INTO dci_schedules (item_id,schedule) VALUES (7,'it''s #27 %d %s');\n"
                "INSERT INTO dci_schedules (item_id,schedule) VALUES (7,''');DROP TABLE nodes;--');\n"
                "INSERT INTO address_lists (list_type,addr_type,addr1,addr2) VALUES (3,0,'10.''1','#2710.2');\n");
   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(r.out, Upgraded(Walk(db, 65, 83))) << r.err;
   EXPECT_EQ(vt::Query(db, "SELECT schedule_id,schedule FROM dci_schedules ORDER BY schedule_id"),
             (Rows{ { "1", "it's #27 %d %s" }, { "2", "');DROP TABLE nodes;--" } }));
   EXPECT_EQ(vt::Query(db, "SELECT addr1,addr2 FROM address_lists WHERE list_type=3"), (Rows{ { "10.'1", "#2710.2" } }));
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM nodes"), "2");
}

// Step 52 to 53: a node without a data table shows the failed CREATE and the
// loop goes on; without nodes only the heading is printed.
TEST_P(Upgrade48, ReindexOfNodeDataTables)
{
   vt::TestDb db = FixtureDb(GetParam(), 48);
   vt::Exec(db, "INSERT INTO nodes (id,primary_ip,node_flags,snmp_version,community,status_poll_type,agent_port,auth_method,secret,snmp_oid,description,node_type,agent_version,platform_name,poller_node_id,zone_guid) "
                "VALUES (11,'10.0.0.11',0,1,'public',0,4700,0,'#00','#00','#00',0,'#00','#00',0,0);\n");
   vt::RunResult r = vt::Run(db, { "upgrade" });
   std::string out = r.out;
   std::string index11 = "CREATE INDEX idx_idata_11_timestamp_id ON idata_11(idata_timestamp,item_id)\n";
   if (GetParam() == vt::Engine::MySQL)
      index11 = "CREATE INDEX idx_idata_11_id_timestamp ON idata_11(item_id,idata_timestamp)\n";
   size_t at = out.find("   * idata_11\nSQL query failed (");
   ASSERT_NE(at, std::string::npos) << out;
   size_t end = out.find("):\n" + index11, at);
   ASSERT_NE(end, std::string::npos) << out;
   out.replace(at, end + 3 + index11.size() - at, "   * idata_11\n");
   EXPECT_EQ(out, Upgraded(Walk(db, 48, 83, "   * idata_5\n   * idata_9\n   * idata_11\n"))) << r.out;
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "83");

   vt::TestDb empty = FixtureDb(GetParam(), 48);
   vt::Exec(empty, "DELETE FROM nodes;\n");
   r = vt::Run(empty, { "upgrade" });
   EXPECT_EQ(r.out, Upgraded(Walk(empty, 48, 83, ""))) << r.err;
   EXPECT_EQ(vt::ConfigValue(empty, "DBFormatVersion"), "83");
}

// ---- SQLite only: what needs triggers, locks or SQLite's own error texts ----

// Every step stores its own new version, in a transaction that commits.
TEST(Upgrade48Sqlite, EveryStepStoresItsVersion)
{
   vt::TestDb db = FixtureDb(vt::Engine::SQLite, 48);
   vt::Exec(db, "CREATE TABLE version_log (seq integer primary key autoincrement, version varchar(10));\n"
                "CREATE TRIGGER log_version AFTER UPDATE ON config WHEN new.var_name='DBFormatVersion' "
                "BEGIN INSERT INTO version_log (version) VALUES (new.var_value); END;\n");
   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(r.out, Upgraded(Walk(db, 48, 83))) << r.err;
   Rows expected;
   for (int v = 49; v <= 83; v++)
      expected.push_back({ std::to_string(v) });
   EXPECT_EQ(vt::Query(db, "SELECT version FROM version_log ORDER BY seq"), expected);
}

// On a database whose syntax is MySQL, a failed step says that it may be
// partly applied, since MySQL commits every schema change at once.  Here
// the MySQL-only script of step 78 to 79 fails at its first line on SQLite.
TEST(Upgrade48Sqlite, MySqlSyntaxFailureSaysStepMayBePartlyApplied)
{
   vt::TestDb db = FixtureDb(vt::Engine::SQLite, 65);
   vt::SetConfigValue(db, "DBSyntax", "MYSQL");
   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(r.out, std::string(kBanner) + "Upgrading database...\n" + Walk(db, 65, 79) +
                       "SQL query failed (near \"MODIFY\": syntax error):\n"
                       "ALTER TABLE users MODIFY COLUMN cert_mapping_data text not null\n"
                       "Rolling back last stage due to upgrade errors...\n"
                       "WARNING: MySQL commits every schema change at once: what the step from version 78 to 79\n"
                       "changed in the schema before the error cannot be rolled back, so the step may be partly applied.\n"
                       "Database upgrade failed\n");
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "78");
   // SQLite does roll back: the table the step dropped is still there.
   EXPECT_TRUE(Selectable(db, "module_id FROM modules"));
}

// A step whose commit fails is a failed step: here another connection holds a
// read lock, so the commit cannot get the write lock it needs.
TEST(Upgrade48Sqlite, FailedCommitFailsTheStep)
{
   vt::TestDb db = FixtureDb(vt::Engine::SQLite, 65);
   vt::Exec(db, "UPDATE config SET var_value='82' WHERE var_name='DBFormatVersion';\n");
   sqlite3 *pReader = nullptr;
   ASSERT_EQ(sqlite3_open(db.name.c_str(), &pReader), SQLITE_OK);
   ASSERT_EQ(sqlite3_exec(pReader, "BEGIN; SELECT count(*) FROM alarms;", nullptr, nullptr, nullptr), SQLITE_OK);

   vt::RunResult r = vt::Run(db, { "upgrade" });
   sqlite3_exec(pReader, "ROLLBACK", nullptr, nullptr, nullptr);
   sqlite3_close(pReader);

   EXPECT_EQ(r.out, std::string(kBanner) + "Upgrading database...\n"
                                           "Upgrading from version 82 to 83\n"
                                           "Unable to commit the upgrade from version 82 to 83\n"
                                           "Rolling back last stage due to upgrade errors...\n"
                                           "Database upgrade failed\n");
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "82");
   EXPECT_EQ(vt::Query(db, "SELECT timeout FROM alarms ORDER BY alarm_id"), (Rows{ { "600" }, { "0" } }));
}

}  // namespace
