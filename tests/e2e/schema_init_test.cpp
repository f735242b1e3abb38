// The shipped initial database: "init" with the shipped file of each engine
// gives a database at format version 83 that the other commands accept as
// it is, and whose tables serve every statement the check and reindex
// commands send.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "harness.h"

namespace {

using vt::kBanner;

class ShippedSchema : public ::testing::TestWithParam<vt::Engine>
{
};

std::string Guid(const vt::TestDb &db, const char *table, const char *id)
{
   return vt::QueryValue(db, std::string("SELECT guid FROM ") + table + " WHERE id=" + id);
}

bool IsGuidText(const std::string &s)
{
   static const std::regex form("[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}");
   return std::regex_match(s, form) && s != "00000000-0000-0000-0000-000000000000";
}

// The rows the tool itself reads: format version, syntax and the lock.
TEST_P(ShippedSchema, InitGivesAnUnlockedDatabaseOfVersion83)
{
   vt::TestDb db = vt::InitDb(GetParam());   // checks the whole output of init
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "83");
   EXPECT_EQ(vt::ConfigValue(db, "DBSyntax"), vt::EngineSyntax(GetParam()));
   EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), "UNLOCKED");
   EXPECT_EQ(vt::ConfigValue(db, "DBLockInfo"), "#00");
   EXPECT_EQ(vt::ConfigValue(db, "DBLockPID"), "0");
   // Each lock row exactly once (the lock test reads row 0 only).
   EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM config WHERE var_name IN "
                                "('DBLockStatus','DBLockInfo','DBLockPID','DBFormatVersion','DBSyntax')"),
             "5");
}

// The built-in user 0 and group 0x80000000 exist, so init's two updates
// reach them, and each init run hands out a fresh pair of GUIDs.
TEST_P(ShippedSchema, BuiltInUserAndGroupGetFreshGuids)
{
   vt::TestDb first = vt::InitDb(GetParam());
   vt::TestDb second = vt::InitDb(GetParam());
   std::string guids[4] = { Guid(first, "users", "0"), Guid(first, "user_groups", "-2147483648"),
                            Guid(second, "users", "0"), Guid(second, "user_groups", "-2147483648") };
   for (int i = 0; i < 4; i++)
   {
      EXPECT_TRUE(IsGuidText(guids[i])) << i << ": \"" << guids[i] << "\"";
      for (int j = 0; j < i; j++)
         EXPECT_NE(guids[i], guids[j]) << i << " and " << j;
   }
   EXPECT_EQ(vt::QueryValue(first, "SELECT COUNT(*) FROM users"), "1");
   EXPECT_EQ(vt::QueryValue(first, "SELECT COUNT(*) FROM user_groups"), "1");
}

// A fresh database is what check calls clean: six passed stages, nothing to
// commit, and no question asked.
TEST_P(ShippedSchema, CheckFindsNoErrorOnAFreshDatabase)
{
   vt::TestDb db = vt::InitDb(GetParam());
   const char *titles[] = { "Checking node objects...", "Checking interface objects...",
                            "Checking network service objects...", "Checking cluster objects...",
                            "Checking object properties...", "Checking event processing policy..." };
   std::string expected = std::string(kBanner) + "Checking database:\n";
   for (const char *title : titles)
   {
      char line[128];
      snprintf(line, sizeof(line), "* %-68s[PASSED]\n", title);
      expected += line;
   }
   expected += "Database doesn't contain any errors\nDatabase check completed\n";
   vt::RunResult r = vt::Run(db, { "check" });
   EXPECT_EQ(r.out, expected) << r.err;
   EXPECT_EQ(r.status, 0);
}

// The check stages find, repair and commit one problem of every kind on the
// shipped schema: every select, placeholder insert, delete and update that
// check sends finds its tables and columns.
TEST_P(ShippedSchema, ServesEveryRepairOfCheck)
{
   vt::TestDb db = vt::InitDb(GetParam());
   vt::Exec(db,
            // node 7: linked to a subnet, no properties row; node 20: live, unlinked
            "INSERT INTO nodes (id,primary_ip,community) VALUES (7,'10.0.0.7','public');\n"
            "INSERT INTO nsmap (subnet_id,node_id) VALUES (1,7);\n"
            "INSERT INTO nodes (id,primary_ip,community) VALUES (20,'10.0.0.20','public');\n"
            "INSERT INTO acl (object_id) VALUES (20);\n"
            "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,"
            "last_modified,comments) VALUES (20,'n20',0,0,0,1,1700000000,'#00');\n"
            // an interface and a service of node 7 without properties rows
            "INSERT INTO interfaces (id,node_id) VALUES (8,7);\n"
            "INSERT INTO network_services (id,node_id,check_request,check_responce,poller_node_id) "
            "VALUES (9,7,'#00','#00',0);\n"
            // a cluster member that is no node; policy rows naming nothing
            "INSERT INTO cluster_members (cluster_id,node_id) VALUES (5,70);\n"
            "INSERT INTO policy_source_list (object_id) VALUES (77);\n"
            "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,4242);\n"
            "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,-2147483647);\n"
            "INSERT INTO policy_action_list (action_id) VALUES (3);\n");
   vt::RunResult r = vt::Run(db, { "-f", "check" });
   EXPECT_EQ(r.out.find("SQL query failed"), std::string::npos) << r.out;
   const std::string tail = "12 errors was found, 12 errors was corrected\n"
                            "All errors in database was fixed\n"
                            "Commit changes (Y/N) Y\n"
                            "Committing changes...\n"
                            "Changes was successfully committed to database\n"
                            "Database check completed\n";
   ASSERT_GE(r.out.size(), tail.size()) << r.out;
   EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
   EXPECT_EQ(r.status, 0);

   EXPECT_EQ(vt::Query(db, "SELECT object_id,name,status,is_deleted FROM object_properties ORDER BY object_id"),
             (std::vector<std::vector<std::string>>{ { "7", "lost_node_7", "5", "0" },
                                                      { "8", "lost_interface_8", "5", "0" },
                                                      { "9", "lost_network service_9", "5", "0" } }));
   EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM object_properties WHERE last_modified=0"), "0");
   EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM nodes"), "1");
   for (const char *table : { "acl", "cluster_members", "policy_source_list", "policy_event_list", "policy_action_list" })
      EXPECT_EQ(vt::QueryValue(db, std::string("SELECT COUNT(*) FROM ") + table), "0") << table;
}

// Every index of the reindex list stands on a table and column of the
// shipped schema, and can be dropped and made again.
TEST_P(ShippedSchema, ReindexRebuildsTheWholeList)
{
   vt::TestDb db = vt::InitDb(GetParam());
   vt::RunResult r = vt::Run(db, { "reindex" });
   EXPECT_EQ(r.out, std::string(kBanner) +
                       "Reindexing table raw_dci_values by (item_id)...\n"
                       "Reindexing table event_log by (event_timestamp)...\n"
                       "Reindexing table thresholds by (item_id)...\n"
                       "Reindexing table thresholds by (sequence_number)...\n"
                       "Reindexing table alarm_change_log by (alarm_id)...\n"
                       "Reindexing table alarm_notes by (alarm_id)...\n"
                       "Reindexing table syslog by (msg_timestamp)...\n"
                       "Reindexing table snmp_trap_log by (trap_timestamp)...\n"
                       "Reindexing table address_lists by (list_type)...\n"
                       "Database reindexing complete.\n");
   EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, ShippedSchema, ::testing::ValuesIn(vt::TestEngines()),
                         [](const ::testing::TestParamInfo<vt::Engine> &info) {
                            return std::string(vt::EngineName(info.param));
                         });

}  // namespace
