/*
 * upgrade14_steps_test.cpp - single steps between versions 14 and 48 on
 * small databases that hold only what the step reads and changes.
 *
 * Each database starts at the step's version; the walk then goes on until
 * the next step that finds a table missing, fails there and rolls that step
 * back, so the database is left just past the step under test and the
 * output shows where the walk stopped.  The error text of the database is
 * compared on SQLite only.
 */
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "harness.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

class Upgrade14Step : public ::testing::TestWithParam<vt::Engine>
{
protected:
   /* A database at format version nVersion with a config table and sql. */
   vt::TestDb Db(int nVersion, const std::string &sql)
   {
      vt::TestDb db = vt::NewDb(GetParam());
      vt::Exec(db, "CREATE TABLE config (var_name varchar(63) not null,var_value varchar(255),"
                   "is_visible integer not null,need_server_restart integer not null,PRIMARY KEY(var_name));\n"
                   "INSERT INTO config VALUES ('DBFormatVersion','" + std::to_string(nVersion) + "',0,1);\n"
                   "INSERT INTO config VALUES ('DBSyntax','" + vt::EngineSyntax(GetParam()) + "',0,1);\n" + sql);
      return db;
   }

   /* The database's error texts differ: compare them on SQLite only. */
   std::string Comparable(const std::string &out)
   {
      if (GetParam() == vt::Engine::SQLite)
         return out;
      return std::regex_replace(out, std::regex("SQL query failed \\([^\n]*\\):\n"), "SQL query failed (...):\n");
   }

   /*
    * Output of a walk through the step lines from..to, extra[v] after line v,
    * ending with the failure `end` of step `to`.  On MySQL, whose schema
    * changes commit at once, the driver warns that the rollback is partial.
    */
   std::string Walk(int from, int to, const std::map<int, std::string> &extra, const std::string &end)
   {
      std::string out = std::string(vt::kBanner) + "Upgrading database...\n";
      for (int v = from; v <= to; v++)
      {
         out += "Upgrading from version " + std::to_string(v) + " to " + std::to_string(v + 1) + "\n";
         auto it = extra.find(v);
         if (it != extra.end())
            out += it->second;
      }
      out += end + "Rolling back last stage due to upgrade errors...\n";
      if (GetParam() == vt::Engine::MySQL)
         out += "WARNING: MySQL commits every schema change at once: what the step from version " +
                std::to_string(to) + " to " + std::to_string(to + 1) +
                "\nchanged in the schema before the error cannot be rolled back, so the step may be partly applied.\n";
      return out + "Database upgrade failed\n";
   }
};

/*
 * A row that cannot go back into the rebuilt policy_event_list (the old
 * table had no key and held a row twice) fails the step.  SQLite and
 * PostgreSQL roll back to the old table with every row; MySQL has already
 * committed the DROP, so the rows are kept in a file whose path is printed.
 */
TEST_P(Upgrade14Step, Step17FailedReinsertLosesNoRow)
{
   vt::TestDb db = Db(17,
      "CREATE TABLE policy_event_list (rule_id integer not null,event_id integer not null);\n"
      "INSERT INTO policy_event_list VALUES (1,17);\n"
      "INSERT INTO policy_event_list VALUES (1,17);\n"
      "INSERT INTO policy_event_list VALUES (2,4000);\n");
   vt::RunResult r = vt::Run(db, { "upgrade" });

   std::string out = r.out;
   std::string saved;
   const std::string head = "The rows of table policy_event_list as they were before this step are saved in ";
   size_t at = out.find(head);
   if (at != std::string::npos)
   {
      size_t end = out.find('\n', at);
      std::string path = out.substr(at + head.size(), end - at - head.size());
      out.erase(at, end + 1 - at);
      saved = vt::ReadFile(path);
      EXPECT_EQ(remove(path.c_str()), 0) << path;
   }
   EXPECT_EQ(Comparable(out),
             Comparable(Walk(17, 17, {}, "SQL query failed (UNIQUE constraint failed: policy_event_list.rule_id, "
                                         "policy_event_list.event_code):\n"
                                         "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,17)\n")));
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "17");
   if (GetParam() == vt::Engine::MySQL)
   {
      EXPECT_EQ(saved, "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,17);\n"
                       "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,17);\n"
                       "INSERT INTO policy_event_list (rule_id,event_code) VALUES (2,4000);\n");
   }
   else
   {
      EXPECT_EQ(saved, "");
      EXPECT_EQ(vt::Query(db, "SELECT rule_id,event_id FROM policy_event_list ORDER BY rule_id"),
                (Rows{ { "1", "17" }, { "1", "17" }, { "2", "4000" } }));
   }
}

TEST_P(Upgrade14Step, Step17KeepsEveryPolicyEventRow)
{
   vt::TestDb db = Db(17,
      "CREATE TABLE policy_event_list (rule_id integer not null,event_id integer not null,PRIMARY KEY(rule_id,event_id));\n"
      "INSERT INTO policy_event_list VALUES (1,17);\n"
      "INSERT INTO policy_event_list VALUES (1,4000);\n"
      "INSERT INTO policy_event_list VALUES (2,-2147483647);\n"
      "INSERT INTO policy_event_list VALUES (3,1);\n"
      "INSERT INTO policy_event_list VALUES (3,17);\n"
      "CREATE TABLE events (event_id integer not null,name varchar(63) not null,severity integer,flags integer,"
      "message varchar(255),description varchar(255),PRIMARY KEY(event_id));\n"
      "INSERT INTO events VALUES (1,'SYS_NODE_ADDED',0,1,'Node added','Generated when new node object added.');\n"
      "INSERT INTO events VALUES (17,'SYS_THRESHOLD_REACHED',3,1,'Threshold reached','Threshold.');\n"
      "CREATE TABLE nodes (id integer not null,is_agent integer,inherit_access_rights integer,PRIMARY KEY(id));\n"
      "INSERT INTO nodes VALUES (10,1,1);\n"
      "INSERT INTO nodes VALUES (11,0,1);\n"
      "CREATE TABLE event_group_members (group_id integer not null,event_id integer not null);\n"
      "INSERT INTO event_group_members VALUES (-2147483647,17);\n"
      "CREATE TABLE alarms (ack_by integer,source_event_id integer);\n"
      "INSERT INTO alarms VALUES (0,4000);\n"
      "CREATE TABLE snmp_trap_cfg (trap_id integer not null,event_id integer not null,PRIMARY KEY(trap_id));\n"
      "INSERT INTO snmp_trap_cfg VALUES (1,501);\n"
      "CREATE TABLE event_log (event_id integer not null,event_message varchar(255));\n"
      "INSERT INTO event_log VALUES (1,'lost');\n");

   vt::RunResult r = vt::Run(db, { "upgrade" });
   // Step 19 to 20 finds no images table.
   EXPECT_EQ(Comparable(r.out),
             Comparable(Walk(17, 19, {}, "SQL query failed (no such table: images):\nINSERT INTO images (image_id,name,"
                                         "file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (12,'Obj."
                                         "NetworkService','network_service.png','<invalid_hash>','network_service.ico',"
                                         "'<invalid_hash>')\n")));
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "19");

   EXPECT_EQ(vt::Query(db, "SELECT rule_id,event_code FROM policy_event_list ORDER BY rule_id,event_code"),
             (Rows{ { "1", "17" }, { "1", "4000" }, { "2", "-2147483647" }, { "3", "1" }, { "3", "17" } }));
   EXPECT_EQ(vt::Query(db, "SELECT event_code,event_name,severity,flags,message,description FROM event_cfg "
                           "WHERE event_code<25 ORDER BY event_code"),
             (Rows{ { "1", "SYS_NODE_ADDED", "0", "1", "Node added", "Generated when new node object added." },
                    { "17", "SYS_THRESHOLD_REACHED", "3", "1", "Threshold reached", "Threshold." } }));
   EXPECT_FALSE(vt::TryExec(db, "SELECT count(*) FROM events;\n"));
   EXPECT_EQ(vt::Query(db, "SELECT id,agent_version FROM nodes ORDER BY id"), (Rows{ { "10", "<unknown>" }, { "11", "" } }));
   EXPECT_EQ(vt::Query(db, "SELECT source_event_code,source_event_id FROM alarms"), (Rows{ { "4000", "0" } }));
   EXPECT_EQ(vt::Query(db, "SELECT trap_id,event_code FROM snmp_trap_cfg"), (Rows{ { "1", "501" } }));
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM event_log"), "0");
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM event_group_members"), "0");
   EXPECT_TRUE(vt::TryExec(db, "INSERT INTO event_group_members (group_id,event_code) VALUES (1,2);\n"
                               "INSERT INTO modules (module_id) VALUES (1);\n"));
}

TEST_P(Upgrade14Step, Step20FoldsNodeFlagsIntoOneMask)
{
   vt::TestDb db = Db(20,
      "CREATE TABLE nodes (id integer not null,is_deleted integer,is_snmp integer,is_agent integer,is_bridge integer,"
      "is_router integer,is_local_mgmt integer,is_ospf integer,PRIMARY KEY(id));\n"
      "INSERT INTO nodes VALUES (10,0,1,0,0,1,0,1);\n"
      "INSERT INTO nodes VALUES (11,0,0,0,2,0,-1,0);\n"
      "INSERT INTO nodes VALUES (12,1,0,0,0,0,0,0);\n"
      "INSERT INTO nodes VALUES (13,0,0,5,0,0,0,-1);\n"
      "CREATE TABLE thresholds (item_id integer not null,sequence_number integer not null);\n"
      "CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63) not null,severity integer,"
      "flags integer,message varchar(255),description varchar(255),PRIMARY KEY(event_code));\n");

   // Without a terminal the question is answered "N"; step 22 to 23 finds no items.
   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(Comparable(r.out),
             Comparable(Walk(20, 22, { { 20, "Create indexes on existing IDATA tables? (Y/N) N\n" } },
                             "SQL query failed (no such table: items):\nALTER TABLE items ADD template_item_id integer\n")));
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "22");
   // 0x01|0x08|0x40; 2 and -1 set their bits; 5 and -1 give 0x02|0x40.
   EXPECT_EQ(vt::Query(db, "SELECT id,node_flags FROM nodes ORDER BY id"),
             (Rows{ { "10", "73" }, { "11", "20" }, { "12", "0" }, { "13", "66" } }));
   EXPECT_FALSE(vt::TryExec(db, "SELECT is_snmp FROM nodes;\n"));
   EXPECT_FALSE(vt::TryExec(db, "SELECT is_ospf FROM nodes;\n"));
   EXPECT_EQ(vt::ConfigValue(db, "IDataIndexCreationCommand"), "CREATE INDEX idx_item_id ON idata_%d(item_id)");
   EXPECT_EQ(vt::QueryValue(db, "SELECT description FROM event_cfg WHERE event_code=30"),
             "Generated when server is unable to send SMS.#0D#0A   Parameters:#0D#0A   1) Phone number");
}

TEST_P(Upgrade14Step, Step25MovesTheIndexCommandUnchanged)
{
   // Step 26 to 27 finds no access_options (a failed select shows no error text).
   const std::string stop = "SQL query failed:\nSELECT object_id,inherit_rights FROM access_options\n";
   const std::string command1 = "CREATE INDEX idx_timestamp ON idata_%d(idata_timestamp)";

   // A command of the operator's own, stored encoded: it holds quotes.
   const std::string stored = "CREATE INDEX idx_item_id ON idata_%d(item_id) WHERE item_id<>#270#27";
   vt::TestDb db = Db(25, "INSERT INTO config VALUES ('IDataIndexCreationCommand','" + stored + "',0,1);\n");
   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(r.out, Walk(25, 26, {}, stop));
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "26");
   EXPECT_EQ(vt::Query(db, "SELECT var_name,var_value,is_visible,need_server_restart FROM config "
                           "WHERE var_name LIKE 'IDataIndexCreationCommand%' ORDER BY var_name"),
             (Rows{ { "IDataIndexCreationCommand_0", stored, "0", "1" },
                    { "IDataIndexCreationCommand_1", command1, "0", "1" } }));

   // No old row: nothing to move, the second command still comes.
   db = Db(25, "");
   r = vt::Run(db, { "-t", "upgrade" });
   EXPECT_EQ(r.out.substr(0, r.out.find("Upgrading from version 26")),
             std::string(vt::kBanner) + "Upgrading database...\nUpgrading from version 25 to 26\n"
             ">>> SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand'\n"
             ">>> DELETE FROM config WHERE var_name='IDataIndexCreationCommand'\n"
             ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
             "('IDataIndexCreationCommand_1','" + command1 + "',0,1)\n"
             ">>> UPDATE config SET var_value='26' WHERE var_name='DBFormatVersion'\n");
   EXPECT_EQ(vt::Query(db, "SELECT var_name FROM config WHERE var_name LIKE 'IDataIndexCreationCommand%'"),
             (Rows{ { "IDataIndexCreationCommand_1" } }));
}

TEST_P(Upgrade14Step, Step26MovesObjectProperties)
{
   const std::string objectTable = " (id integer not null,name varchar(63),status integer,is_deleted integer,"
                                   "image_id integer,PRIMARY KEY(id));\n";
   vt::TestDb db = Db(26,
      "CREATE TABLE nodes" + objectTable + "CREATE TABLE interfaces" + objectTable + "CREATE TABLE subnets" +
      objectTable + "CREATE TABLE network_services" + objectTable + "CREATE TABLE containers" + objectTable +
      "CREATE TABLE templates (id integer not null,name varchar(63),is_deleted integer,image_id integer,PRIMARY KEY(id));\n"
      "CREATE TABLE access_options (object_id integer not null,inherit_rights integer not null,PRIMARY KEY(object_id));\n"
      "CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63) not null,severity integer,"
      "flags integer,message varchar(255),description varchar(255),PRIMARY KEY(event_code));\n"
      // the same id in nodes and templates; a template; a service
      "INSERT INTO nodes VALUES (10,'node#2Dten',2,0,3);\n"
      "INSERT INTO templates VALUES (10,'template-ten',1,9);\n"
      "INSERT INTO templates VALUES (40,'tmpl',0,7);\n"
      "INSERT INTO network_services VALUES (60,'http',1,3,11);\n"
      // root 1: image but no name row; root 2: a name with quotes, no image row; root 3: nothing
      "INSERT INTO config VALUES ('TopologyRootImageId','4',1,1);\n"
      "INSERT INTO config VALUES ('ServiceRootObjectName','O#27Brien#27s services',1,1);\n"
      "INSERT INTO access_options VALUES (0,1);\n"
      "INSERT INTO access_options VALUES (1,1);\n"
      "INSERT INTO access_options VALUES (2,0);\n"
      "INSERT INTO access_options VALUES (3,1);\n"
      "INSERT INTO access_options VALUES (9,1);\n"
      "INSERT INTO access_options VALUES (10,1);\n"
      "INSERT INTO access_options VALUES (40,0);\n"
      "INSERT INTO access_options VALUES (60,5);\n"
      "INSERT INTO access_options VALUES (99,1);\n");

   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(Comparable(r.out),
             Comparable(Walk(26, 27,
                             { { 26, "WARNING: Invalid built-in object ID 0\n"
                                     "WARNING: Invalid built-in object ID 9\n"
                                     "WARNING: object with ID 99 presented in access control tables but cannot be "
                                     "found in data tables\n" } },
                             "SQL query failed (no such table: users):\nALTER TABLE users ADD system_access integer\n")));
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "27");
   EXPECT_EQ(vt::Query(db, "SELECT object_id,name,status,is_deleted,image_id,inherit_access_rights "
                           "FROM object_properties ORDER BY object_id"),
             (Rows{ { "1", "Entire Network", "5", "0", "4", "1" },
                    { "2", "O#27Brien#27s services", "5", "0", "0", "0" },
                    { "3", "Templates", "5", "0", "0", "1" },
                    { "10", "node#2Dten", "2", "0", "3", "1" },
                    { "40", "tmpl", "5", "0", "7", "0" },
                    { "60", "http", "1", "1", "11", "1" } }));
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM config WHERE var_name LIKE '%Root%'"), "0");
   EXPECT_FALSE(vt::TryExec(db, "SELECT name FROM nodes;\n"));
   EXPECT_FALSE(vt::TryExec(db, "SELECT image_id FROM templates;\n"));
   EXPECT_FALSE(vt::TryExec(db, "SELECT object_id FROM access_options;\n"));
   EXPECT_EQ(vt::Query(db, "SELECT event_code,message FROM event_cfg ORDER BY event_code"),
             (Rows{ { "31", "Connectivity with SNMP agent restored" }, { "32", "Connectivity with native agent restored" } }));
}

TEST_P(Upgrade14Step, Step34RecreatesStatusCalculationAlgorithm)
{
   vt::TestDb db = Db(34,
      "INSERT INTO config VALUES ('StatusCalculationAlgorithm','0',1,1);\n"
      "INSERT INTO config VALUES ('StatusShift','7',1,1);\n"
      "CREATE TABLE object_properties (object_id integer not null,status_alg integer,PRIMARY KEY(object_id));\n"
      "INSERT INTO object_properties VALUES (1,-1);\n");
   vt::RunResult r = vt::Run(db, { "upgrade" });
   EXPECT_EQ(Comparable(r.out),
             Comparable(Walk(34, 35, {}, "SQL query failed (no such table: nodes):\nALTER TABLE nodes ADD proxy_node integer\n")));
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "35");
   EXPECT_EQ(vt::Query(db, "SELECT var_name,var_value FROM config WHERE var_name LIKE 'Status%' OR var_name='FixedStatusValue' "
                           "ORDER BY var_name"),
             (Rows{ { "FixedStatusValue", "0" }, { "StatusCalculationAlgorithm", "1" },
                    { "StatusPropagationAlgorithm", "1" }, { "StatusShift", "7" },
                    { "StatusSingleThreshold", "75" }, { "StatusThresholds", "503C2814" },
                    { "StatusTranslation", "01020304" } }));
   EXPECT_EQ(vt::Query(db, "SELECT object_id,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,"
                           "status_translation,status_single_threshold,status_thresholds FROM object_properties"),
             (Rows{ { "1", "0", "0", "0", "0", "01020304", "75", "503C2814" } }));
   EXPECT_FALSE(vt::TryExec(db, "SELECT status_alg FROM object_properties;\n"));
}

TEST_P(Upgrade14Step, Step40GivesEveryGroupAGuidWhenThereAreNoUsers)
{
   vt::TestDb db = Db(40,
      "CREATE TABLE users (id integer not null,PRIMARY KEY(id));\n"
      "CREATE TABLE user_groups (id integer not null,PRIMARY KEY(id));\n"
      "INSERT INTO user_groups VALUES (-2147483648);\n"
      "INSERT INTO user_groups VALUES (7);\n");
   vt::RunResult r = vt::Run(db, { "-t", "upgrade" });
   // No user row, so no update of users; one per group, each with a GUID of its own.
   std::regex guid("guid='[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}'");
   std::string out = std::regex_replace(r.out, guid, "guid='<GUID>'");
   EXPECT_EQ(out.substr(0, out.find("Upgrading from version 41")),
             std::string(vt::kBanner) + "Upgrading database...\nUpgrading from version 40 to 41\n"
             ">>> ALTER TABLE users ADD guid varchar(36)\n"
             ">>> ALTER TABLE users ADD auth_method integer\n"
             ">>> ALTER TABLE user_groups ADD guid varchar(36)\n"
             ">>> UPDATE users SET auth_method=0\n"
             "Generating GUIDs...\n"
             ">>> SELECT id FROM users\n"
             ">>> SELECT id FROM user_groups\n"
             ">>> UPDATE user_groups SET guid='<GUID>' WHERE id=-2147483648\n"
             ">>> UPDATE user_groups SET guid='<GUID>' WHERE id=7\n"
             ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RADIUSServer','localhost',1,0)\n"
             ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RADIUSSecret','quelba',1,0)\n"
             ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RADIUSNumRetries','5',1,0)\n"
             ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('RADIUSTimeout','3',1,0)\n"
             ">>> UPDATE config SET var_value='41' WHERE var_name='DBFormatVersion'\n");
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "41");
   Rows guids = vt::Query(db, "SELECT guid FROM user_groups ORDER BY id");
   ASSERT_EQ(guids.size(), 2u);
   EXPECT_EQ(guids[0][0].size(), 36u);
   EXPECT_EQ(guids[1][0].size(), 36u);
   EXPECT_NE(guids[0][0], guids[1][0]);
}

INSTANTIATE_TEST_SUITE_P(Engines, Upgrade14Step, ::testing::ValuesIn(vt::TestEngines()),
                         [](const ::testing::TestParamInfo<vt::Engine> &info) { return vt::EngineName(info.param); });

}  // namespace
