/*
 * reindex_test.cpp - the reindex command end to end: the fixed list of
 * indexes, the Oracle exception, silent drops, failing creates, the version
 * gate and the lock.
 */
#include <gtest/gtest.h>

#include <string>

#include "check_testdb.h"
#include "harness.h"

namespace {

class ReindexTest : public ::testing::TestWithParam<vt::Engine>
{
};

struct Index
{
   const char *index, *table, *column;
};

const Index kIndexes[] = {
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

std::string Progress(const Index &i)
{
   return std::string("Reindexing table ") + i.table + " by (" + i.column + ")...\n";
}

/* The whole output of a run over the list from index `first` on, -t echoing the creates when `trace`. */
std::string Expected(size_t first, bool trace)
{
   std::string out = vt::kBanner;
   for (size_t n = first; n < sizeof(kIndexes) / sizeof(kIndexes[0]); n++)
   {
      out += Progress(kIndexes[n]);
      if (trace)
         out += std::string(">>> CREATE INDEX ") + kIndexes[n].index + " ON " + kIndexes[n].table + "(" +
                kIndexes[n].column + ")\n";
   }
   return out + "Database reindexing complete.\n";
}

/* The indexes of the list that exist (SQLite only). */
std::string IndexNames(const vt::TestDb &db)
{
   std::string out;
   for (const auto &row : vt::Query(db, "SELECT name FROM sqlite_master WHERE type='index' AND name LIKE 'idx_%' "
                                        "AND name<>'idx_nsmap_node_id' ORDER BY name"))
      out += row[0] + ";";
   return out;
}

/* Nine indexes; a second run drops them (silently) and builds them again without an error. */
TEST_P(ReindexTest, RebuildsTheList)
{
   vt::TestDb db = ct::MaintDb(GetParam());
   for (int run = 0; run < 2; run++)
   {
      SCOPED_TRACE(run);
      vt::RunResult r = vt::Run(db, { "reindex" });
      EXPECT_EQ(r.out, Expected(0, false));
      EXPECT_EQ(r.status, 0);
   }
   if (GetParam() == vt::Engine::SQLite)
   {
      EXPECT_EQ(IndexNames(db),
                "idx_address_lists_list_type;idx_alarm_change_log_alarm_id;idx_alarm_notes_alarm_id;"
                "idx_event_log_event_timestamp;idx_raw_dci_values_item_id;idx_snmp_trap_log_trap_timestamp;"
                "idx_syslog_msg_timestamp;idx_thresholds_item_id;idx_thresholds_sequence;");
   }
}

/* -t echoes each create; the drops are never shown. */
TEST_P(ReindexTest, TraceShowsCreatesOnly)
{
   vt::TestDb db = ct::MaintDb(GetParam());
   vt::Run(db, { "reindex" });
   vt::RunResult r = vt::Run(db, { "-t", "reindex" });
   EXPECT_EQ(r.out, Expected(0, true));
}

/* On a database whose syntax is Oracle the raw_dci_values index is left out. */
TEST_P(ReindexTest, OracleSkipsRawValues)
{
   if (GetParam() != vt::Engine::SQLite)
      GTEST_SKIP() << "sets DBSyntax to ORACLE on an engine whose statements are the same";
   vt::TestDb db = ct::MaintDb(GetParam());
   vt::SetConfigValue(db, "DBSyntax", "ORACLE");
   vt::RunResult r = vt::Run(db, { "-t", "reindex" });
   EXPECT_EQ(r.out, Expected(1, true));
   EXPECT_EQ(IndexNames(db).find("idx_raw_dci_values_item_id"), std::string::npos);
}

/* A create that fails is shown, and the list goes on to the end. */
TEST_P(ReindexTest, FailingCreateDoesNotStopTheList)
{
   vt::TestDb db = ct::MaintDb(GetParam());
   vt::Exec(db, "DROP TABLE syslog");
   vt::RunResult r = vt::Run(db, { "reindex" });
   std::string before = std::string(vt::kBanner);
   for (size_t n = 0; n <= 6; n++)
      before += Progress(kIndexes[n]);
   before += "SQL query failed (";
   const std::string after = "):\nCREATE INDEX idx_syslog_msg_timestamp ON syslog(msg_timestamp)\n" +
                             Progress(kIndexes[7]) + Progress(kIndexes[8]) + "Database reindexing complete.\n";
   ASSERT_GT(r.out.size(), before.size() + after.size());
   EXPECT_EQ(r.out.substr(0, before.size()), before);
   EXPECT_EQ(r.out.substr(r.out.size() - after.size()), after);
   if (GetParam() == vt::Engine::SQLite)
   {
      EXPECT_EQ(r.out, before + "no such table: main.syslog" + after);
      EXPECT_NE(IndexNames(db).find("idx_snmp_trap_log_trap_timestamp"), std::string::npos);
   }
   EXPECT_EQ(r.status, 0);
}

/* A locked database, or one of another version, is left alone; the version comes first. */
TEST_P(ReindexTest, RefusedDatabases)
{
   struct
   {
      const char *name;
      const char *version;   /* nullptr: no DBFormatVersion row */
      const char *lock;      /* DBLockStatus */
      std::string out;
   } cases[] = {
      { "Locked", "83", "srv1", "Database is locked by server srv1 [pid 42]\n" },
      { "LockedEmptyName", "83", "", "Database is locked by server  [pid 42]\n" },
      { "Version82", "82", "srv1",
        "Your database has format version 82, this tool is compiled for version 83.\n"
        "Use \"upgrade\" command to upgrade your database first.\n" },
      { "Version84", "84", "srv1",
        "Your database has format version 84, this tool is compiled for version 83.\n"
        "You need to upgrade your server before using this database.\n" },
      { "NoVersion", nullptr, "UNLOCKED",
        "Your database has format version 0, this tool is compiled for version 83.\n"
        "Use \"upgrade\" command to upgrade your database first.\n" },
   };
   for (const auto &c : cases)
   {
      SCOPED_TRACE(c.name);
      vt::TestDb db = ct::MaintDb(GetParam());
      vt::SetConfigValue(db, "DBLockStatus", c.lock);
      vt::SetConfigValue(db, "DBLockInfo", "pid#2042");
      if (c.version)
         vt::SetConfigValue(db, "DBFormatVersion", c.version);
      else
         vt::Exec(db, "DELETE FROM config WHERE var_name='DBFormatVersion'");
      vt::RunResult r = vt::Run(db, { "-f", "reindex" });
      EXPECT_EQ(r.out, vt::kBanner + c.out);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), c.lock);
      if (GetParam() == vt::Engine::SQLite)
      {
         EXPECT_EQ(IndexNames(db), "");
      }
   }
}

INSTANTIATE_TEST_SUITE_P(Engines, ReindexTest, ::testing::ValuesIn(vt::TestEngines()),
                         [](const auto &info) { return std::string(vt::EngineName(info.param)); });

}  // namespace
