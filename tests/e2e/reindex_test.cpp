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

/* Whether the index exists, asked of the engine's catalogue. */
bool HasIndex(const vt::TestDb &db, const std::string &index)
{
   std::string query;
   switch (db.engine)
   {
      case vt::Engine::SQLite:
         query = "SELECT COUNT(*) FROM sqlite_master WHERE type='index' AND name='" + index + "'";
         break;
      case vt::Engine::MySQL:
         query = "SELECT COUNT(*) FROM information_schema.statistics WHERE table_schema=DATABASE() AND index_name='" +
                 index + "'";
         break;
      default:
         query = "SELECT COUNT(*) FROM pg_indexes WHERE indexname='" + index + "'";
         break;
   }
   return vt::QueryValue(db, query) != "0";
}

/* The indexes of the list that exist, as "name;" each. */
std::string IndexNames(const vt::TestDb &db)
{
   std::string out;
   for (const Index &i : kIndexes)
      if (HasIndex(db, i.index))
         out += std::string(i.index) + ";";
   return out;
}

/* Drops an index of the list behind the tool's back. */
void DropIndex(const vt::TestDb &db, const Index &i)
{
   if (db.engine == vt::Engine::MySQL)
      vt::Exec(db, std::string("DROP INDEX ") + i.index + " ON " + i.table);
   else
      vt::Exec(db, std::string("DROP INDEX ") + i.index);
}

std::string AllIndexNames()
{
   std::string out;
   for (const Index &i : kIndexes)
      out += std::string(i.index) + ";";
   return out;
}

/*
 * Nine indexes: a missing one is built (its failed drop is silent); those
 * that exist are dropped and built again without an error, on every run.
 */
TEST_P(ReindexTest, RebuildsTheList)
{
   vt::TestDb db = ct::MaintDb(GetParam());
   DropIndex(db, kIndexes[3]);
   DropIndex(db, kIndexes[6]);
   for (int run = 0; run < 2; run++)
   {
      SCOPED_TRACE(run);
      vt::RunResult r = vt::Run(db, { "reindex" });
      EXPECT_EQ(r.out, Expected(0, false));
      EXPECT_EQ(r.status, 0);
   }
   EXPECT_EQ(IndexNames(db), AllIndexNames());
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
   DropIndex(db, kIndexes[0]);
   vt::RunResult r = vt::Run(db, { "-t", "reindex" });
   EXPECT_EQ(r.out, Expected(1, true));
   EXPECT_EQ(IndexNames(db), AllIndexNames().substr(std::string(kIndexes[0].index).size() + 1));
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
   }
   EXPECT_EQ(r.status, 0);
   EXPECT_TRUE(HasIndex(db, kIndexes[7].index));
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
      DropIndex(db, kIndexes[6]);
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
      EXPECT_FALSE(HasIndex(db, kIndexes[6].index));
   }
}

INSTANTIATE_TEST_SUITE_P(Engines, ReindexTest, ::testing::ValuesIn(vt::TestEngines()),
                         [](const auto &info) { return std::string(vt::EngineName(info.param)); });

}  // namespace
