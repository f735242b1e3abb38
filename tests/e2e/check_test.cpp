/*
 * check_test.cpp - the check command end to end: version gate, lock
 * question, each kind of broken reference found and repaired or declined,
 * failing repairs, the commit question, stage lines and verdict colours.
 */
#include <gtest/gtest.h>

#include <string>

#include "check_testdb.h"
#include "harness.h"

using namespace ct;

namespace {

/* A properties row; last_modified 0 only where a test wants it. */
std::string Props(int id, const std::string &name, int deleted = 0, long modified = 1700000000)
{
   return "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
          "last_modified,status_calc_alg,status_prop_alg,status_fixed_val,status_shift,status_translation,"
          "status_single_threshold,status_thresholds,comments) VALUES (" +
          std::to_string(id) + ",'" + name + "',0," + std::to_string(deleted) + ",0,1," +
          std::to_string(modified) + ",0,0,0,0,0,0,'00000000','#00');\n";
}

/* A node row; the shipped schema wants a community text. */
std::string Node(int id, const std::string &address)
{
   return "INSERT INTO nodes (id,primary_ip,community) VALUES (" + std::to_string(id) + ",'" + address + "','public');\n";
}

/* A network service row of a node (MySQL has no default for its text columns). */
std::string Service(int id, int node)
{
   return "INSERT INTO network_services (id,node_id,poller_node_id,check_request,check_responce) VALUES (" +
          std::to_string(id) + "," + std::to_string(node) + ",0,'#00','#00');\n";
}

/* Sound rows of every kind: none of them is a problem. */
std::string SoundRows()
{
   return Node(10, "10.0.0.10") + Props(10, "router") +
          "INSERT INTO nsmap (subnet_id,node_id) VALUES (2,10);\n" +
          // deleted node without a subnet link, live node without an address
          Node(13, "10.0.0.13") + Props(13, "old", 1) +
          Node(14, "0.0.0.0") + Props(14, "noaddr") +
          "INSERT INTO interfaces (id,node_id) VALUES (11,10);\n" + Props(11, "eth0") +
          Service(12, 10) + Props(12, "http") +
          Props(20, "cluster20") + "INSERT INTO cluster_members (cluster_id,node_id) VALUES (20,10);\n" +
          Props(2, "subnet2") +
          "INSERT INTO event_cfg (event_code,event_name,description) VALUES (90001,'TEST_EVENT','#00');\n"
          "INSERT INTO event_groups (id) VALUES (-2147483647);\n"
          "INSERT INTO actions (action_id,action_data) VALUES (3,'#00');\n"
          "INSERT INTO policy_source_list (object_id) VALUES (10);\n"
          "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,90001);\n"
          "INSERT INTO policy_event_list (rule_id,event_code) VALUES (2,-2147483647);\n"
          "INSERT INTO policy_action_list (action_id) VALUES (3);\n";
}

std::string Head() { return std::string(vt::kBanner) + "Checking database:\n"; }

/* The output of stages first..last that found nothing. */
std::string PassedStages(int first, int last)
{
   static const char *const titles[] = { kNodes, kInterfaces, kServices, kClusters, kProperties, kPolicy };
   std::string out;
   for (int i = first; i <= last; i++)
      out += Passed(titles[i - 1]);
   return out;
}

const std::string kCommitted =
   "Commit changes (Y/N) Y\nCommitting changes...\nChanges was successfully committed to database\n"
   "Database check completed\n";

class CheckTest : public ::testing::TestWithParam<vt::Engine>
{
};

TEST_P(CheckTest, CleanDatabaseCommitsWithoutQuestion)
{
   vt::TestDb db = MaintDb(GetParam());
   vt::Exec(db, SoundRows());
   vt::RunResult r = vt::Run(db, { "check" });
   EXPECT_EQ(r.out, Head() + PassedStages(1, 6) + "Database doesn't contain any errors\nDatabase check completed\n");
   EXPECT_EQ(r.status, 0);
}

TEST_P(CheckTest, EmptyTablesPass)
{
   vt::TestDb db = MaintDb(GetParam());
   vt::RunResult r = vt::Run(db, { "-f", "check" });
   EXPECT_EQ(r.out, Head() + PassedStages(1, 6) + "Database doesn't contain any errors\nDatabase check completed\n");
   EXPECT_EQ(r.status, 0);
}

/* One kind of problem, repaired under -f: the stage output, and the rows afterwards. */
struct RepairCase
{
   const char *name;
   std::string rows;        /* added to the sound rows */
   std::string stages;      /* output of the six stages */
   int found;
   std::string probe;       /* a query on the repaired database */
   std::string expected;    /* its rows, "|" between columns, ";" after each row */
};

std::string Rows(const std::vector<std::vector<std::string>> &rows)
{
   std::string out;
   for (const auto &row : rows)
   {
      for (size_t i = 0; i < row.size(); i++)
         out += (i ? "|" : "") + row[i];
      out += ";";
   }
   return out;
}

std::vector<RepairCase> RepairCases()
{
   const std::string yes = "(Y/N) Y\n";
   return {
      { "NodeWithoutProperties", Node(30, "0.0.0.0"),
        Stage(kNodes) + "\rMissing node object 30 properties. Create? " + yes + Fixed(kNodes) +
           PassedStages(2, 4) + Stage(kProperties) +
           "\rObject 30 [lost_node_30] has invalid timestamp. Correct? " + yes + Fixed(kProperties) +
           PassedStages(6, 6),
        2,
        "SELECT name,status,is_deleted,image_id,inherit_access_rights,CASE WHEN last_modified>0 THEN 1 ELSE 0 END,status_thresholds "
        "FROM object_properties WHERE object_id=30",
        "lost_node_30|5|0|0|1|1|00000000;" },
      { "UnlinkedNode",
        Node(31, "10.0.0.31") + Props(31, "lonely") +
           "INSERT INTO acl (object_id) VALUES (31);\n"
           "INSERT INTO acl (object_id) VALUES (10);\n",
        Stage(kNodes) + "\rUnlinked node object 31 (\"lonely\"). Delete? " + yes + Fixed(kNodes) +
           PassedStages(2, 6),
        1,
        "SELECT (SELECT COUNT(*) FROM nodes WHERE id=31),(SELECT COUNT(*) FROM acl),"
        "(SELECT COUNT(*) FROM object_properties WHERE object_id=31)",
        "0|1|0;" },
      { "InterfaceWithoutProperties", "INSERT INTO interfaces (id,node_id) VALUES (40,10);\n",
        PassedStages(1, 1) + Stage(kInterfaces) + "\rMissing interface object 40 properties. Create? " + yes +
           Fixed(kInterfaces) + PassedStages(3, 4) + Stage(kProperties) +
           "\rObject 40 [lost_interface_40] has invalid timestamp. Correct? " + yes + Fixed(kProperties) +
           PassedStages(6, 6),
        2, "SELECT name,status FROM object_properties WHERE object_id=40", "lost_interface_40|5;" },
      { "InterfaceOfMissingNode", "INSERT INTO interfaces (id,node_id) VALUES (41,99);\n" + Props(41, "eth9"),
        PassedStages(1, 1) + Stage(kInterfaces) + "\rUnlinked interface object 41 (\"eth9\"). Delete? " + yes +
           Fixed(kInterfaces) + PassedStages(3, 6),
        1,
        "SELECT (SELECT COUNT(*) FROM interfaces),(SELECT COUNT(*) FROM object_properties WHERE object_id=41)",
        "1|0;" },
      { "ServiceOfDeletedNode", Service(50, 13) + Props(50, "ssh"),
        PassedStages(1, 2) + Stage(kServices) + "\rUnlinked network service object 50 (\"ssh\"). Delete? " + yes +
           Fixed(kServices) + PassedStages(4, 6),
        1, "SELECT id FROM network_services ORDER BY id", "12;" },
      { "ServiceWithoutProperties", Service(51, 10),
        PassedStages(1, 2) + Stage(kServices) + "\rMissing network service object 51 properties. Create? " + yes +
           Fixed(kServices) + PassedStages(4, 4) + Stage(kProperties) +
           "\rObject 51 [lost_network service_51] has invalid timestamp. Correct? " + yes + Fixed(kProperties) +
           PassedStages(6, 6),
        2, "SELECT name FROM object_properties WHERE object_id=51", "lost_network service_51;" },
      { "InterfaceWithNeitherPropertiesNorParent", "INSERT INTO interfaces (id,node_id) VALUES (42,98);\n",
        PassedStages(1, 1) + Stage(kInterfaces) + "\rMissing interface object 42 properties. Create? " + yes +
           "\rUnlinked interface object 42 (\"\"). Delete? " + yes + Fixed(kInterfaces) + PassedStages(3, 6),
        2,
        "SELECT (SELECT COUNT(*) FROM interfaces WHERE id=42),"
        "(SELECT COUNT(*) FROM object_properties WHERE object_id=42)",
        "0|0;" },
      { "ClusterMemberMissing",
        "INSERT INTO cluster_members (cluster_id,node_id) VALUES (20,97);\n"
        "INSERT INTO cluster_members (cluster_id,node_id) VALUES (21,10);\n"
        "INSERT INTO cluster_members (cluster_id,node_id) VALUES (21,96);\n",
        PassedStages(1, 3) + Stage(kClusters) +
           "\rCluster object cluster20 [20] refers to non-existing node 97. Dereference? " + yes +
           "\rCluster object <unknown> [21] refers to non-existing node 96. Dereference? " + yes +
           Fixed(kClusters) + PassedStages(5, 6),
        2, "SELECT cluster_id,node_id FROM cluster_members ORDER BY cluster_id,node_id", "20|10;21|10;" },
      { "InvalidTimestamp", Props(60, "stale", 0, 0),
        PassedStages(1, 4) + Stage(kProperties) + "\rObject 60 [stale] has invalid timestamp. Correct? " + yes +
           Fixed(kProperties) + PassedStages(6, 6),
        1, "SELECT CASE WHEN last_modified>1700000000 THEN 1 ELSE 0 END FROM object_properties WHERE object_id=60", "1;" },
      { "PolicyReferences",
        "INSERT INTO policy_source_list (object_id) VALUES (77);\n"
        "INSERT INTO policy_event_list (rule_id,event_code) VALUES (3,5000);\n"
        "INSERT INTO policy_event_list (rule_id,event_code) VALUES (4,-2147483643);\n"
        "INSERT INTO policy_action_list (action_id) VALUES (8);\n",
        PassedStages(1, 5) + Stage(kPolicy) + "\rInvalid object ID 77 used. Correct? " + yes +
           "\rInvalid event ID 0x00001388 used. Correct? " + yes +
           "\rInvalid event group ID 0x80000005 used. Correct? " + yes +
           "\rInvalid action ID 8 used. Correct? " + yes + Fixed(kPolicy),
        4,
        "SELECT (SELECT COUNT(*) FROM policy_source_list),(SELECT COUNT(*) FROM policy_event_list),"
        "(SELECT COUNT(*) FROM policy_action_list)",
        "1|2|1;" },
      { "SameMissingEventInThreeRules",
        "INSERT INTO policy_event_list (rule_id,event_code) VALUES (5,6000);\n"
        "INSERT INTO policy_event_list (rule_id,event_code) VALUES (6,6000);\n"
        "INSERT INTO policy_event_list (rule_id,event_code) VALUES (7,6000);\n",
        PassedStages(1, 5) + Stage(kPolicy) + "\rInvalid event ID 0x00001770 used. Correct? " + yes +
           "\rInvalid event ID 0x00001770 used. Correct? " + yes +
           "\rInvalid event ID 0x00001770 used. Correct? " + yes + Fixed(kPolicy),
        3, "SELECT COUNT(*) FROM policy_event_list", "2;" },
   };
}

TEST_P(CheckTest, EachKindOfProblemIsRepairedAndCommitted)
{
   for (const RepairCase &c : RepairCases())
   {
      SCOPED_TRACE(c.name);
      vt::TestDb db = MaintDb(GetParam());
      vt::Exec(db, SoundRows() + c.rows);
      vt::RunResult r = vt::Run(db, { "-f", "check" });
      std::string count = std::to_string(c.found);
      EXPECT_EQ(r.out, Head() + c.stages + count + " errors was found, " + count + " errors was corrected\n" +
                          "All errors in database was fixed\n" + kCommitted);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(Rows(vt::Query(db, c.probe)), c.expected);

      // The repaired database is clean.
      r = vt::Run(db, { "check" });
      EXPECT_EQ(r.out, Head() + PassedStages(1, 6) + "Database doesn't contain any errors\nDatabase check completed\n");
   }
}

/* Everything the repair cases break at once, every question declined: nothing changes. */
TEST_P(CheckTest, DeclinedRepairsRollBackSilently)
{
   vt::TestDb db = MaintDb(GetParam());
   std::string rows = SoundRows();
   for (const RepairCase &c : RepairCases())
      rows += c.rows;
   vt::Exec(db, rows);
   const std::string before = Rows(vt::Query(db, "SELECT object_id,name,last_modified FROM object_properties "
                                                 "ORDER BY object_id"));

   // No terminal: every question gets the safe answer at once.
   vt::RunResult r = vt::Run(db, { "check" });
   const std::string no = "(Y/N) N\n";
   EXPECT_EQ(r.out,
             Head() + Stage(kNodes) + "\rMissing node object 30 properties. Create? " + no +
                "\rUnlinked node object 31 (\"lonely\"). Delete? " + no + Error(kNodes) + Stage(kInterfaces) +
                "\rMissing interface object 40 properties. Create? " + no +
                "\rUnlinked interface object 41 (\"eth9\"). Delete? " + no +
                "\rMissing interface object 42 properties. Create? " + no +
                "\rUnlinked interface object 42 (\"\"). Delete? " + no + Error(kInterfaces) + Stage(kServices) +
                "\rUnlinked network service object 50 (\"ssh\"). Delete? " + no +
                "\rMissing network service object 51 properties. Create? " + no + Error(kServices) +
                Stage(kClusters) + "\rCluster object cluster20 [20] refers to non-existing node 97. Dereference? " +
                no + "\rCluster object <unknown> [21] refers to non-existing node 96. Dereference? " + no +
                Error(kClusters) + Stage(kProperties) + "\rObject 60 [stale] has invalid timestamp. Correct? " + no +
                Error(kProperties) + Stage(kPolicy) + "\rInvalid object ID 77 used. Correct? " + no +
                "\rInvalid event ID 0x00001388 used. Correct? " + no +
                "\rInvalid event group ID 0x80000005 used. Correct? " + no +
                "\rInvalid event ID 0x00001770 used. Correct? " + no +
                "\rInvalid event ID 0x00001770 used. Correct? " + no +
                "\rInvalid event ID 0x00001770 used. Correct? " + no + "\rInvalid action ID 8 used. Correct? " + no +
                Error(kPolicy) + "18 errors was found, 0 errors was corrected\nDatabase still contain errors\n"
                "Database check completed\n");
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(Rows(vt::Query(db, "SELECT object_id,name,last_modified FROM object_properties ORDER BY object_id")),
             before);
   EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM policy_event_list"), "7");
}

/* A stage line as the terminal gets it: marker and brackets white, verdict coloured. */
std::string ColorStage(const char *title)
{
   return "<15>*<7>" + Stage(title).substr(1);
}

std::string ColorLine(const char *title, const char *verdict)
{
   std::string colour = verdict[0] == 'P' ? "<10>" : verdict[0] == 'F' ? "<14>" : "<12>";
   return ColorStage(title) + "<15>[" + colour + verdict + "<15>]<7>\n";
}

/*
 * Keys typed on the terminal: keys other than y/n are ignored without echo;
 * the questions overwrite the stage line, the verdict goes on a second copy;
 * a stage with some repairs declined is an error; the commit is declined.
 */
TEST_P(CheckTest, TerminalAnswersAndDeclinedCommit)
{
   vt::TestDb db = MaintDb(GetParam());
   vt::Exec(db, SoundRows() + Node(30, "0.0.0.0") + Props(25, "stale", 0, 0));
   vt::RunOptions opt;
   opt.bPty = true;
   opt.keys = std::string("q\r1\x1by") + "n" + "Y" + "\nN";   // create; stamp of 25; stamp of 30; commit
   vt::RunResult r = vt::Run(db, { "check" }, opt);
   EXPECT_EQ(vt::ShowColors(r.out),
             Head() + ColorStage(kNodes) + "\rMissing node object 30 properties. Create? (Y/N) Y\n" +
                ColorLine(kNodes, "FIXED ") + ColorLine(kInterfaces, "PASSED") + ColorLine(kServices, "PASSED") +
                ColorLine(kClusters, "PASSED") + ColorStage(kProperties) +
                "\rObject 25 [stale] has invalid timestamp. Correct? (Y/N) N\n"
                "\rObject 30 [lost_node_30] has invalid timestamp. Correct? (Y/N) Y\n" +
                ColorLine(kProperties, "ERROR ") + ColorLine(kPolicy, "PASSED") +
                "3 errors was found, 2 errors was corrected\nDatabase still contain errors\n"
                "Commit changes (Y/N) N\nRolling back changes...\nAll changes made to database was cancelled\n"
                "Database check completed\n");
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM object_properties WHERE object_id=30"), "0");
   EXPECT_EQ(vt::QueryValue(db, "SELECT last_modified FROM object_properties WHERE object_id=25"), "0");
}

/* Some repairs taken, some declined, the commit confirmed: the taken ones stand. */
TEST_P(CheckTest, PartialRepairCommitted)
{
   vt::TestDb db = MaintDb(GetParam());
   vt::Exec(db, SoundRows() + Props(60, "stale", 0, 0) +
                   "INSERT INTO policy_action_list (action_id) VALUES (8);\n");
   vt::RunOptions opt;
   opt.bPty = true;
   opt.keys = "yny";
   vt::RunResult r = vt::Run(db, { "check" }, opt);
   EXPECT_EQ(vt::ShowColors(r.out),
             Head() + ColorLine(kNodes, "PASSED") + ColorLine(kInterfaces, "PASSED") + ColorLine(kServices, "PASSED") +
                ColorLine(kClusters, "PASSED") + ColorStage(kProperties) +
                "\rObject 60 [stale] has invalid timestamp. Correct? (Y/N) Y\n" + ColorLine(kProperties, "FIXED ") +
                ColorStage(kPolicy) + "\rInvalid action ID 8 used. Correct? (Y/N) N\n" + ColorLine(kPolicy, "ERROR ") +
                "2 errors was found, 1 errors was corrected\nDatabase still contain errors\n" + kCommitted);
   EXPECT_NE(vt::QueryValue(db, "SELECT last_modified FROM object_properties WHERE object_id=60"), "0");
   EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM policy_action_list"), "2");
}

/*
 * A live node with an address and no subnet link is tested only once its
 * properties row can be read: the run that creates the row does not delete
 * the node on the strength of data it could not read; the next run does ask.
 */
TEST_P(CheckTest, NodeWithoutPropertiesGetsNoSubnetTest)
{
   vt::TestDb db = MaintDb(GetParam());
   vt::Exec(db, SoundRows() + Node(30, "10.0.0.30"));
   vt::RunResult r = vt::Run(db, { "check" });
   EXPECT_EQ(r.out, Head() + Stage(kNodes) + "\rMissing node object 30 properties. Create? (Y/N) N\n" +
                       Error(kNodes) + PassedStages(2, 6) +
                       "1 errors was found, 0 errors was corrected\nDatabase still contain errors\n"
                       "Database check completed\n");

   r = vt::Run(db, { "-f", "check" });
   EXPECT_EQ(r.out, Head() + Stage(kNodes) + "\rMissing node object 30 properties. Create? (Y/N) Y\n" +
                       Fixed(kNodes) + PassedStages(2, 4) + Stage(kProperties) +
                       "\rObject 30 [lost_node_30] has invalid timestamp. Correct? (Y/N) Y\n" + Fixed(kProperties) +
                       PassedStages(6, 6) + "2 errors was found, 2 errors was corrected\n"
                       "All errors in database was fixed\n" + kCommitted);

   r = vt::Run(db, { "-f", "check" });
   EXPECT_EQ(r.out, Head() + Stage(kNodes) + "\rUnlinked node object 30 (\"lost_node_30\"). Delete? (Y/N) Y\n" +
                       Fixed(kNodes) + PassedStages(2, 6) + "1 errors was found, 1 errors was corrected\n"
                       "All errors in database was fixed\n" + kCommitted);
   EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM nodes WHERE id=30"), "0");
}

/* Database texts cannot steer the terminal: control characters in a name are shown visibly. */
TEST_P(CheckTest, StoredNameIsShownSafely)
{
   const vt::Engine e = GetParam();
   vt::TestDb db = MaintDb(e);
   vt::Exec(db, SoundRows() + Props(60, "stale", 0, 0));
   // 'x', ESC, '[2Jy' (an escape sequence that clears the screen)
   const char *name = e == vt::Engine::SQLite  ? "'x' || char(27) || '[2Jy'"
                      : e == vt::Engine::MySQL ? "CONCAT('x',CHAR(27 USING utf8mb4),'[2Jy')"
                                               : "'x' || chr(27) || '[2Jy'";
   vt::Exec(db, std::string("UPDATE object_properties SET name=") + name + " WHERE object_id=60");
   vt::RunResult r = vt::Run(db, { "check" });
   EXPECT_EQ(r.out, Head() + PassedStages(1, 4) + Stage(kProperties) +
                       "\rObject 60 [x^[[2Jy] has invalid timestamp. Correct? (Y/N) N\n" + Error(kProperties) +
                       PassedStages(6, 6) + "1 errors was found, 0 errors was corrected\nDatabase still contain errors\n"
                       "Database check completed\n");
}

/* A database of another format version is refused before the lock is read or a stage runs. */
TEST_P(CheckTest, OtherFormatVersionIsRefused)
{
   struct
   {
      const char *version;   /* stored DBFormatVersion; nullptr: no row */
      std::string message;
   } cases[] = {
      { "82", "Your database has format version 82, this tool is compiled for version 83.\n"
              "Use \"upgrade\" command to upgrade your database first.\n" },
      { "84", "Your database has format version 84, this tool is compiled for version 83.\n"
              "You need to upgrade your server before using this database.\n" },
      { nullptr, "Your database has format version 0, this tool is compiled for version 83.\n"
                 "Use \"upgrade\" command to upgrade your database first.\n" },
   };
   for (const auto &c : cases)
   {
      SCOPED_TRACE(c.version ? c.version : "no row");
      vt::TestDb db = MaintDb(GetParam());
      // A locked database with a broken row: neither the lock nor the row is looked at.
      vt::Exec(db, Props(60, "stale", 0, 0));
      vt::SetConfigValue(db, "DBLockStatus", "srv1");
      if (c.version)
         vt::SetConfigValue(db, "DBFormatVersion", c.version);
      else
         vt::Exec(db, "DELETE FROM config WHERE var_name='DBFormatVersion'");
      vt::RunResult r = vt::Run(db, { "-f", "check" });
      EXPECT_EQ(r.out, Head() + c.message + "Database check aborted\n");
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), "srv1");
      EXPECT_EQ(vt::QueryValue(db, "SELECT last_modified FROM object_properties WHERE object_id=60"), "0");
   }
}

/* A locked database: the unlock question; no aborts, yes clears the lock and the check runs. */
TEST_P(CheckTest, LockedDatabaseAsksForUnlock)
{
   const std::string prompt = "Database is locked by server srv1 [pid 42]\nDo you wish to force database unlock? (Y/N) ";
   vt::TestDb db = MaintDb(GetParam());
   vt::Exec(db, SoundRows() + Props(60, "stale", 0, 0));
   vt::SetConfigValue(db, "DBLockStatus", "srv1");
   vt::SetConfigValue(db, "DBLockInfo", "pid#2042");

   vt::RunOptions opt;
   opt.bPty = true;
   opt.keys = "n";
   vt::RunResult r = vt::Run(db, { "check" }, opt);
   EXPECT_EQ(r.out, Head() + prompt + "N\nDatabase check aborted\n");
   EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), "srv1");

   // Without a terminal the answer is no as well.
   r = vt::Run(db, { "check" });
   EXPECT_EQ(r.out, Head() + prompt + "N\nDatabase check aborted\n");

   // The unlock stands by itself even though the check's repairs are rolled back.
   opt.keys = "yyn";
   r = vt::Run(db, { "check" }, opt);
   EXPECT_EQ(vt::ShowColors(r.out),
             Head() + prompt + "Y\nDatabase lock removed\n" + ColorLine(kNodes, "PASSED") +
                ColorLine(kInterfaces, "PASSED") + ColorLine(kServices, "PASSED") + ColorLine(kClusters, "PASSED") +
                ColorStage(kProperties) + "\rObject 60 [stale] has invalid timestamp. Correct? (Y/N) Y\n" +
                ColorLine(kProperties, "FIXED ") + ColorLine(kPolicy, "PASSED") +
                "1 errors was found, 1 errors was corrected\nAll errors in database was fixed\n"
                "Commit changes (Y/N) N\nRolling back changes...\nAll changes made to database was cancelled\n"
                "Database check completed\n");
   EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), "UNLOCKED");
   EXPECT_EQ(vt::QueryValue(db, "SELECT last_modified FROM object_properties WHERE object_id=60"), "0");

   // -f answers the lock question too.
   vt::SetConfigValue(db, "DBLockStatus", "srv1");
   r = vt::Run(db, { "-f", "check" });
   EXPECT_EQ(r.out, Head() + prompt + "Y\nDatabase lock removed\n" + PassedStages(1, 4) + Stage(kProperties) +
                       "\rObject 60 [stale] has invalid timestamp. Correct? (Y/N) Y\n" + Fixed(kProperties) +
                       PassedStages(6, 6) + "1 errors was found, 1 errors was corrected\n"
                       "All errors in database was fixed\n" + kCommitted);
   EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), "UNLOCKED");
   EXPECT_NE(vt::QueryValue(db, "SELECT last_modified FROM object_properties WHERE object_id=60"), "0");
}

/* -t echoes every select and repair of the stages, in white and green on a terminal. */
TEST_P(CheckTest, TraceShowsStageStatements)
{
   vt::TestDb db = MaintDb(GetParam());
   vt::Exec(db, "INSERT INTO cluster_members (cluster_id,node_id) VALUES (20,97);\n");
   vt::RunResult r = vt::Run(db, { "-t", "-f", "check" });
   auto t = [](const std::string &q) { return ">>> " + q + "\n"; };
   EXPECT_EQ(r.out, Head() + Stage(kNodes) + t("SELECT id,primary_ip FROM nodes") + "[PASSED]\n" +
                       Stage(kInterfaces) + t("SELECT id,node_id FROM interfaces") + "[PASSED]\n" + Stage(kServices) +
                       t("SELECT id,node_id FROM network_services") + "[PASSED]\n" + Stage(kClusters) +
                       t("SELECT cluster_id,node_id FROM cluster_members") + t("SELECT id FROM nodes WHERE id=97") +
                       t("SELECT name FROM object_properties WHERE object_id=20") +
                       "\rCluster object <unknown> [20] refers to non-existing node 97. Dereference? (Y/N) Y\n" +
                       t("DELETE FROM cluster_members WHERE cluster_id=20 AND node_id=97") + Fixed(kClusters) +
                       Stage(kProperties) + t("SELECT object_id,name,last_modified FROM object_properties") +
                       "[PASSED]\n" + Stage(kPolicy) + t("SELECT object_id FROM policy_source_list") +
                       t("SELECT event_code FROM policy_event_list") + t("SELECT action_id FROM policy_action_list") +
                       "[PASSED]\n1 errors was found, 1 errors was corrected\nAll errors in database was fixed\n" +
                       kCommitted);
}

/* A trigger that refuses to delete the row of `table` where `condition` holds, with `message`. */
std::string Refusal(vt::Engine e, const std::string &name, const std::string &table, const std::string &condition,
                    const std::string &message)
{
   switch (e)
   {
      case vt::Engine::SQLite:
         return "CREATE TRIGGER " + name + " BEFORE DELETE ON " + table + " WHEN " + condition +
                " BEGIN SELECT RAISE(ABORT,'" + message + "'); END;\n";
      case vt::Engine::MySQL:
         return "CREATE TRIGGER " + name + " BEFORE DELETE ON " + table + " FOR EACH ROW BEGIN IF " + condition +
                " THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT='" + message + "'; END IF; END;\n";
      default:
         return "CREATE FUNCTION " + name + "_f() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION '" + message +
                "'; END $$ LANGUAGE plpgsql;\n"
                "CREATE TRIGGER " + name + " BEFORE DELETE ON " + table + " FOR EACH ROW WHEN (" + condition +
                ") EXECUTE PROCEDURE " + name + "_f();\n";
   }
}

/* The output with every engine error text replaced by "<error>". */
std::string MaskErrors(const std::string &out)
{
   std::string masked;
   size_t pos = 0;
   const std::string head = "SQL query failed (";
   for (;;)
   {
      size_t at = out.find(head, pos);
      size_t close = at == std::string::npos ? at : out.find("):\n", at);
      if (close == std::string::npos)
         break;
      masked += out.substr(pos, at - pos) + head + "<error>";
      pos = close;
   }
   return masked + out.substr(pos);
}

/*
 * Repairs that fail: shown where they happen, counted only by each stage's
 * own rule, and the other repairs of the same transaction still committed.
 */
TEST_P(CheckTest, FailingRepairs)
{
   const vt::Engine e = GetParam();
   vt::TestDb db = MaintDb(e);
   vt::Exec(db, SoundRows() +
                   // node 31: its delete fails; node 32: its acl delete fails
                   Node(31, "10.0.0.31") + Props(31, "n31") +
                   "INSERT INTO acl (object_id) VALUES (31);\n" +
                   Node(32, "10.0.0.32") + Props(32, "n32") +
                   "INSERT INTO acl (object_id) VALUES (32);\n" +
                   // interface 41: gone, but its properties delete fails; it still counts
                   "INSERT INTO interfaces (id,node_id) VALUES (41,99);\n" + Props(41, "eth9") +
                   Refusal(e, "keep31", "nodes", "old.id=31", "node 31 is protected") +
                   Refusal(e, "keepacl32", "acl", "old.object_id=32", "acl 32 is protected") +
                   Refusal(e, "keep41", "object_properties", "old.object_id=41", "properties 41 are protected"));
   vt::RunResult r = vt::Run(db, { "-f", "check" });
   const std::string expected = Head() + Stage(kNodes) + "\rUnlinked node object 31 (\"n31\"). Delete? (Y/N) Y\n" +
                       "SQL query failed (node 31 is protected):\nDELETE FROM nodes WHERE id=31\n" +
                       "\rUnlinked node object 32 (\"n32\"). Delete? (Y/N) Y\n" +
                       "SQL query failed (acl 32 is protected):\nDELETE FROM acl WHERE object_id=32\n" +
                       Error(kNodes) + Stage(kInterfaces) + "\rUnlinked interface object 41 (\"eth9\"). Delete? (Y/N) Y\n" +
                       "SQL query failed (properties 41 are protected):\n"
                       "DELETE FROM object_properties WHERE object_id=41\n" +
                       Fixed(kInterfaces) + PassedStages(3, 6) + "3 errors was found, 1 errors was corrected\n"
                       "Database still contain errors\n" + kCommitted;
   EXPECT_EQ(MaskErrors(r.out), MaskErrors(expected));
   if (e == vt::Engine::SQLite)
   {
      EXPECT_EQ(r.out, expected);
   }
   // Node 31 stays whole: its access rights and properties are not taken from it.
   EXPECT_EQ(Rows(vt::Query(db, "SELECT (SELECT COUNT(*) FROM nodes WHERE id=31),"
                                "(SELECT COUNT(*) FROM acl WHERE object_id=31),"
                                "(SELECT COUNT(*) FROM object_properties WHERE object_id=31)")),
             "1|1|1;");
   // Node 32 is gone with its properties; only the protected acl row remains.
   EXPECT_EQ(Rows(vt::Query(db, "SELECT (SELECT COUNT(*) FROM nodes WHERE id=32),"
                                "(SELECT COUNT(*) FROM acl WHERE object_id=32),"
                                "(SELECT COUNT(*) FROM object_properties WHERE object_id=32)")),
             "0|1|0;");
   EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM interfaces WHERE id=41"), "0");
}

/* A table that cannot be read ends its stage with a verdict and the next stage runs. */
TEST_P(CheckTest, UnreadableTableSkipsItsWork)
{
   vt::TestDb db = MaintDb(GetParam());
   vt::Exec(db, Props(60, "stale", 0, 0) + "DROP TABLE interfaces;\nDROP TABLE policy_event_list;\n"
                "INSERT INTO policy_action_list (action_id) VALUES (8);\n");
   vt::RunResult r = vt::Run(db, { "-f", "check" });
   EXPECT_EQ(r.out, Head() + PassedStages(1, 1) + Stage(kInterfaces) +
                       "SQL query failed:\nSELECT id,node_id FROM interfaces\n[PASSED]\n" + PassedStages(3, 4) +
                       Stage(kProperties) + "\rObject 60 [stale] has invalid timestamp. Correct? (Y/N) Y\n" +
                       Fixed(kProperties) + Stage(kPolicy) +
                       "SQL query failed:\nSELECT event_code FROM policy_event_list\n" +
                       "\rInvalid action ID 8 used. Correct? (Y/N) Y\n" + Fixed(kPolicy) +
                       "2 errors was found, 2 errors was corrected\nAll errors in database was fixed\n" + kCommitted);
}

/* The sample of examples/: batch loads it, check -f repairs all of it, and a second check is clean. */
TEST_P(CheckTest, DemoBrokenReferences)
{
   vt::TestDb db = MaintDb(GetParam());
   vt::RunResult r = vt::Run(db, { "batch", vt::SourceDir() + "/examples/demo_broken_refs.sql" });
   ASSERT_EQ(r.out, vt::kBanner);
   r = vt::Run(db, { "-f", "check" });
   const std::string yes = "(Y/N) Y\n";
   EXPECT_EQ(r.out, Head() + Stage(kNodes) + "\rMissing node object 110 properties. Create? " + yes +
                       "\rUnlinked node object 140 (\"old-switch\"). Delete? " + yes + Fixed(kNodes) + Stage(kInterfaces) +
                       "\rUnlinked interface object 121 (\"eth9\"). Delete? " + yes + Fixed(kInterfaces) +
                       Passed(kServices) + Stage(kClusters) +
                       "\rCluster object web-cluster [130] refers to non-existing node 998. Dereference? " + yes +
                       Fixed(kClusters) + Stage(kProperties) +
                       "\rObject 110 [lost_node_110] has invalid timestamp. Correct? " + yes + Fixed(kProperties) +
                       Stage(kPolicy) + "\rInvalid action ID 7 used. Correct? " + yes + Fixed(kPolicy) +
                       "6 errors was found, 6 errors was corrected\nAll errors in database was fixed\n" + kCommitted);
   r = vt::Run(db, { "check" });
   EXPECT_EQ(r.out, Head() + PassedStages(1, 6) + "Database doesn't contain any errors\nDatabase check completed\n");
}

INSTANTIATE_TEST_SUITE_P(Engines, CheckTest, ::testing::ValuesIn(vt::TestEngines()),
                         [](const auto &info) { return std::string(vt::EngineName(info.param)); });

}  // namespace
