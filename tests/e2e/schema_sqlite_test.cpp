// The shipped SQLite database: the lookups that check makes once per row are
// answered through a key, so check stays proportional to the rows, and the
// indexes of the reindex list stand on the tables and columns it names.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

// The query plan's steps, one detail text per step.
std::vector<std::string> Plan(const vt::TestDb &db, const std::string &query)
{
   std::vector<std::string> steps;
   for (const auto &row : vt::Query(db, "EXPLAIN QUERY PLAN " + query))
      steps.push_back(row.back());
   return steps;
}

TEST(ShippedSqliteSchema, PerRowLookupsOfCheckSearchAKey)
{
   vt::TestDb db = vt::InitDb();
   const char *lookups[] = {
      "SELECT name,is_deleted FROM object_properties WHERE object_id=7",
      "SELECT name FROM object_properties WHERE object_id=7 AND is_deleted=0",
      "SELECT object_id FROM object_properties WHERE object_id=7",
      "SELECT subnet_id FROM nsmap WHERE node_id=7",
      "SELECT id FROM nodes WHERE id=7",
      "SELECT id FROM event_groups WHERE id=-2147483647",
      "SELECT event_code FROM event_cfg WHERE event_code=7",
      "SELECT action_id FROM actions WHERE action_id=7",
      "DELETE FROM acl WHERE object_id=7",
      "DELETE FROM nodes WHERE id=7",
      "DELETE FROM object_properties WHERE object_id=7",
      "DELETE FROM cluster_members WHERE cluster_id=5 AND node_id=7",
      "UPDATE object_properties SET last_modified=1 WHERE object_id=7",
   };
   for (const char *q : lookups)
   {
      std::vector<std::string> plan = Plan(db, q);
      ASSERT_EQ(plan.size(), 1u) << q;
      EXPECT_EQ(plan[0].rfind("SEARCH ", 0), 0u) << q << "\n" << plan[0];
   }
}

TEST(ShippedSqliteSchema, ReindexListStandsOnItsTablesAndColumns)
{
   vt::TestDb db = vt::InitDb();
   struct { const char *index, *table, *column; } list[] = {
      { "idx_raw_dci_values_item_id", "raw_dci_values", "item_id" },
      { "idx_event_log_event_timestamp", "event_log", "event_timestamp" },
      { "idx_thresholds_item_id", "thresholds", "item_id" },
      { "idx_thresholds_sequence", "thresholds", "sequence_number" },
      { "idx_alarm_change_log_alarm_id", "alarm_change_log", "alarm_id" },
      { "idx_alarm_notes_alarm_id", "alarm_notes", "alarm_id" },
      { "idx_syslog_msg_timestamp", "syslog", "msg_timestamp" },
      { "idx_snmp_trap_log_trap_timestamp", "snmp_trap_log", "trap_timestamp" },
      { "idx_address_lists_list_type", "address_lists", "list_type" },
   };
   for (const auto &e : list)
   {
      EXPECT_EQ(vt::QueryValue(db, std::string("SELECT tbl_name FROM sqlite_master WHERE type='index' AND name='") +
                                      e.index + "'"),
                e.table)
         << e.index;
      EXPECT_EQ(vt::QueryValue(db, std::string("SELECT group_concat(name) FROM pragma_index_info('") + e.index + "')"),
                e.column)
         << e.index;
   }
}

// The 64-bit columns take the SQLite spelling of the type macro, and
// nodes.community keeps the width that SQLite cannot widen.
TEST(ShippedSqliteSchema, DeclaredTypesFollowTheSqliteMacros)
{
   vt::TestDb db = vt::InitDb();
   struct { const char *table, *column, *type; } cols[] = {
      { "syslog", "msg_id", "number(20)" },
      { "snmp_trap_log", "trap_id", "number(20)" },
      { "alarm_change_log", "change_id", "number(20)" },
      { "event_log", "event_id", "bigint" },
      { "event_cfg", "description", "varchar" },
      { "object_properties", "comments", "varchar" },
      { "nodes", "community", "varchar(32)" },
   };
   for (const auto &c : cols)
      EXPECT_EQ(vt::QueryValue(db, std::string("SELECT type FROM pragma_table_info('") + c.table + "') WHERE name='" +
                                      c.column + "'"),
                c.type)
         << c.table << "." << c.column;
}

}  // namespace
