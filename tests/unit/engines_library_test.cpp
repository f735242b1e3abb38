// The server drivers (pgsql, mysql, odbc) through the database library, on
// the test servers: rows, NULLs, text, errors and transactions, plus what
// each engine does differently inside a transaction.  Runs on every server
// engine whose environment is set (see scripts/servers.sh); nothing runs
// without one.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>

#include "harness.h"
#include <vlsrv.h>

namespace {

/* The server engines reachable here; of those only the listed ones when a
   list is given. */
std::vector<vt::Engine> ServerEngines(std::vector<vt::Engine> only = {})
{
   std::vector<vt::Engine> out;
   for (vt::Engine e : vt::TestEngines())
      if (e != vt::Engine::SQLite && (only.empty() || std::find(only.begin(), only.end(), e) != only.end()))
         out.push_back(e);
   return out;
}

std::string ParamName(const ::testing::TestParamInfo<vt::Engine> &info)
{
   return vt::EngineName(info.param);
}

/* The "Key = Value" lines of a configuration file. */
std::map<std::string, std::string> ConfigKeys(const std::string &path)
{
   std::map<std::string, std::string> keys;
   std::stringstream ss(vt::ReadFile(path));
   std::string line;
   while (std::getline(ss, line))
   {
      size_t eq = line.find(" = ");
      if (eq != std::string::npos)
         keys[line.substr(0, eq)] = line.substr(eq + 3);
   }
   return keys;
}

void Set(char *pszBuffer, size_t nSize, const std::string &value)
{
   ASSERT_LT(value.size(), nSize);
   strcpy(pszBuffer, value.c_str());
}

struct ServerLibraryTest : ::testing::TestWithParam<vt::Engine>
{
   vt::TestDb db;
   db_handle_t h = nullptr;

   void SetUp() override
   {
      db = vt::NewDb(GetParam());
      auto keys = ConfigKeys(db.config);
      setenv("VLDBMGR_DRIVER_DIR", (vt::ToolPath().substr(0, vt::ToolPath().rfind('/'))).c_str(), 1);
      Set(g_szDbDriver, sizeof(g_szDbDriver), keys["DBDriver"]);
      Set(g_szDbServer, sizeof(g_szDbServer), keys["DBServer"]);
      Set(g_szDbName, sizeof(g_szDbName), keys["DBName"]);
      Set(g_szDbLogin, sizeof(g_szDbLogin), keys["DBLogin"]);
      Set(g_szDbPassword, sizeof(g_szDbPassword), keys["DBPassword"]);
      Set(g_szDbDrvParams, sizeof(g_szDbDrvParams), keys["DBDrvParams"]);
      ASSERT_NE(DBInit(0, 0, 0, nullptr), 0);
      h = DBConnect();
      ASSERT_NE(h, nullptr);
   }
   void TearDown() override
   {
      DBDisconnect(h);
      DBUnloadDriver();
   }

   void MustRun(const std::string &sql)
   {
      char err[DBDRV_MAX_ERROR_TEXT] = "";
      ASSERT_NE(DBQueryEx(h, sql.c_str(), err), 0) << sql.substr(0, 200) << ": " << err;
   }

   /* Column 0 of every row, "<NULL>" for NULL (read directly from the
      engine, not through the driver). */
   std::string Column(const std::string &query)
   {
      std::string out;
      for (const auto &row : vt::Query(db, query))
         out += (out.empty() ? "" : ",") + row[0];
      return out;
   }
};

TEST_P(ServerLibraryTest, RowsNullsTextAndErrors)
{
   MustRun("CREATE TABLE t (id integer not null, txt varchar(15000), n integer, PRIMARY KEY(id))");
   // Long enough to come in pieces from some drivers, with a character
   // outside the 16-bit range right where ODBC's first piece ends.
   std::string longText = std::string(4094, 'x') + "\xf0\x9f\x98\x80" + std::string(8000, 'y') + "\xc3\xa9nd";
   MustRun("INSERT INTO t (id, txt, n) VALUES (1, 'caf\xc3\xa9 \xe6\xbc\xa2', -2147483648)");
   MustRun("INSERT INTO t (id, txt, n) VALUES (2, NULL, NULL)");
   MustRun("INSERT INTO t (id, txt, n) VALUES (3, '', 7)");
   MustRun("INSERT INTO t (id, txt, n) VALUES (4, '" + longText + "', 4)");

   db_result_t r = DBSelect(h, "SELECT id, txt, n FROM t ORDER BY id");
   ASSERT_NE(r, nullptr);
   ASSERT_EQ(DBGetNumRows(r), 4);
   char buf[16000];
   EXPECT_STREQ(DBGetField(r, 0, 1, buf, sizeof(buf)), "caf\xc3\xa9 \xe6\xbc\xa2");
   EXPECT_EQ(DBGetFieldLong(r, 0, 2), INT32_MIN);
   EXPECT_STREQ(DBGetField(r, 1, 1, buf, sizeof(buf)), "");
   EXPECT_EQ(DBGetFieldLong(r, 1, 2), 0);
   EXPECT_STREQ(DBGetField(r, 2, 1, buf, sizeof(buf)), "");
   EXPECT_EQ(DBGetField(r, 3, 1, buf, sizeof(buf)), longText);
   EXPECT_EQ(DBGetFieldULong(r, 3, 0), 4u);
   DBFreeResult(r);

   // NULL and the empty text differ in the database, whatever the reader shows.
   EXPECT_EQ(Column("SELECT id FROM t WHERE txt IS NULL"), "2");

   r = DBSelect(h, "SELECT id FROM t WHERE id > 100");
   ASSERT_NE(r, nullptr);
   EXPECT_EQ(DBGetNumRows(r), 0);
   DBFreeResult(r);

   // A failed statement gives the engine's text and leaves the connection usable.
   char err[DBDRV_MAX_ERROR_TEXT] = "";
   EXPECT_EQ(DBQueryEx(h, "INSERT INTO t (id) VALUES (1)", err), 0);
   EXPECT_NE(err[0], 0);
   EXPECT_EQ(strchr(err, '\n'), nullptr) << err;
   EXPECT_EQ(DBSelect(h, "SELECT nothing FROM nowhere"), nullptr);
   EXPECT_EQ(DBQueryEx(h, "DELETE FROM nowhere", err), 0);
   EXPECT_NE(strstr(err, "nowhere"), nullptr) << err;
   // An UPDATE that matches no row is no failure.
   MustRun("UPDATE t SET n=1 WHERE id=99");
   MustRun("DELETE FROM t WHERE id=99");
   EXPECT_EQ(Column("SELECT count(*) FROM t"), "4");
}

TEST_P(ServerLibraryTest, TransactionsCommitAndRollBack)
{
   MustRun("CREATE TABLE t (a integer)");
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (1)");
   ASSERT_NE(DBRollback(h), 0);
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (2)");
   db_result_t r = DBSelect(h, "SELECT a FROM t");
   ASSERT_EQ(DBGetNumRows(r), 1);
   DBFreeResult(r);
   // Not yet visible to another session.
   EXPECT_EQ(Column("SELECT count(*) FROM t"), "0");
   ASSERT_NE(DBCommit(h), 0);
   EXPECT_EQ(Column("SELECT a FROM t"), "2");
   // Outside a transaction every statement stands on its own.
   MustRun("INSERT INTO t VALUES (3)");
   EXPECT_EQ(Column("SELECT a FROM t ORDER BY a"), "2,3");
}

TEST_P(ServerLibraryTest, DisconnectRollsBackAnOpenTransaction)
{
   MustRun("CREATE TABLE t (a integer)");
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (1)");
   DBDisconnect(h);
   h = DBConnect();
   ASSERT_NE(h, nullptr);
   EXPECT_EQ(Column("SELECT count(*) FROM t"), "0");
}

// PostgreSQL aborts a transaction at its first error; the driver must keep
// it usable, so that the statements after a failure still apply.  Through
// ODBC the PostgreSQL ODBC driver does the same when asked for
// statement-level rollback, as the test connection string does.
struct PgLibraryTest : ServerLibraryTest
{
};

TEST_P(PgLibraryTest, FailedStatementLeavesTransactionUsable)
{
   MustRun("CREATE TABLE t (a integer PRIMARY KEY)");
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (1)");
   char err[DBDRV_MAX_ERROR_TEXT] = "";
   EXPECT_EQ(DBQueryEx(h, "INSERT INTO t VALUES (1)", err), 0);
   EXPECT_NE(strstr(err, "duplicate key"), nullptr) << err;
   EXPECT_EQ(DBSelect(h, "SELECT a FROM nowhere"), nullptr);
   EXPECT_EQ(DBQueryEx(h, "DROP INDEX nosuch_idx", err), 0);
   MustRun("INSERT INTO t VALUES (2)");
   db_result_t r = DBSelect(h, "SELECT a FROM t ORDER BY a");
   ASSERT_NE(r, nullptr);
   EXPECT_EQ(DBGetNumRows(r), 2);
   DBFreeResult(r);
   ASSERT_NE(DBCommit(h), 0);
   EXPECT_EQ(Column("SELECT a FROM t ORDER BY a"), "1,2");

   // The savepoints do not weaken a real rollback.
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (3)");
   EXPECT_EQ(DBQueryEx(h, "INSERT INTO t VALUES (3)", err), 0);
   MustRun("INSERT INTO t VALUES (4)");
   ASSERT_NE(DBRollback(h), 0);
   EXPECT_EQ(Column("SELECT a FROM t ORDER BY a"), "1,2");

   // A transaction that the server aborted anyway (here by a statement of
   // its own that ends it badly) does not pass for committed.
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (5)");
   EXPECT_EQ(DBQueryEx(h, "SELECT 1/0", err), 0);
   MustRun("INSERT INTO t VALUES (6)");
   ASSERT_NE(DBCommit(h), 0);
   EXPECT_EQ(Column("SELECT a FROM t ORDER BY a"), "1,2,5,6");
}

// MySQL commits at every DDL statement; a rollback after one cannot undo
// what came before it, and must say so instead of reporting success (and
// must not cry wolf where everything was undone).
// A session that the server ends in the middle of a transaction: every
// later call fails with a message, none hangs, and nothing is committed.
TEST_P(PgLibraryTest, LostConnectionFailsCleanly)
{
   MustRun("CREATE TABLE t (a integer)");
   db_result_t r = DBSelect(h, "SELECT pg_backend_pid()");
   ASSERT_NE(r, nullptr);
   std::string pid = std::to_string(DBGetFieldLong(r, 0, 0));
   DBFreeResult(r);
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (1)");
   vt::Query(db, "SELECT pg_terminate_backend(" + pid + ")");
   char err[DBDRV_MAX_ERROR_TEXT] = "";
   EXPECT_EQ(DBQueryEx(h, "INSERT INTO t VALUES (2)", err), 0);
   EXPECT_NE(err[0], 0);
   EXPECT_EQ(DBSelect(h, "SELECT a FROM t"), nullptr);
   EXPECT_EQ(DBCommit(h), 0);
   EXPECT_EQ(Column("SELECT count(*) FROM t"), "0");
}

struct MySqlLibraryTest : ServerLibraryTest
{
};

TEST_P(MySqlLibraryTest, RollbackAfterImplicitCommitFails)
{
   MustRun("CREATE TABLE t (a integer) ENGINE=InnoDB");
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (1)");
   MustRun("CREATE TABLE u (a integer) ENGINE=InnoDB");
   MustRun("INSERT INTO t VALUES (2)");
   EXPECT_EQ(DBRollback(h), 0);
   // Before the DDL: committed; after it: rolled back.
   EXPECT_EQ(Column("SELECT a FROM t"), "1");

   // A DDL statement that fails has committed all the same.
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (5)");
   char err[DBDRV_MAX_ERROR_TEXT];
   EXPECT_EQ(DBQueryEx(h, "DROP INDEX nosuch ON t", err), 0);
   EXPECT_EQ(DBRollback(h), 0);
   EXPECT_EQ(Column("SELECT a FROM t ORDER BY a"), "1,5");
   MustRun("DELETE FROM t WHERE a=5");

   // Without DDL the rollback is complete and succeeds.
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (3)");
   MustRun("UPDATE t SET a=a WHERE a=99");
   MustRun("SET @x = 1");
   MustRun("CREATE TEMPORARY TABLE tt (a integer)");
   ASSERT_NE(DBRollback(h), 0);
   EXPECT_EQ(Column("SELECT a FROM t"), "1");

   // Rows of a table without transactions cannot be rolled back at all.
   MustRun("CREATE TABLE m (a integer) ENGINE=MyISAM");
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO m VALUES (1)");
   EXPECT_EQ(DBRollback(h), 0);
   EXPECT_EQ(Column("SELECT a FROM m"), "1");
}

TEST_P(MySqlLibraryTest, LostConnectionFailsCleanly)
{
   MustRun("CREATE TABLE t (a integer) ENGINE=InnoDB");
   db_result_t r = DBSelect(h, "SELECT CONNECTION_ID()");
   ASSERT_NE(r, nullptr);
   std::string id = std::to_string(DBGetFieldLong(r, 0, 0));
   DBFreeResult(r);
   ASSERT_NE(DBBegin(h), 0);
   MustRun("INSERT INTO t VALUES (1)");
   vt::Exec(db, "KILL " + id);
   char err[DBDRV_MAX_ERROR_TEXT] = "";
   EXPECT_EQ(DBQueryEx(h, "INSERT INTO t VALUES (2)", err), 0);
   EXPECT_NE(err[0], 0);
   EXPECT_EQ(DBCommit(h), 0);
   EXPECT_EQ(Column("SELECT count(*) FROM t"), "0");
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerLibraryTest, ::testing::ValuesIn(ServerEngines()), ParamName);
INSTANTIATE_TEST_SUITE_P(Engines, PgLibraryTest, ::testing::ValuesIn(ServerEngines({ vt::Engine::PgSQL, vt::Engine::ODBC })), ParamName);
INSTANTIATE_TEST_SUITE_P(Engines, MySqlLibraryTest, ::testing::ValuesIn(ServerEngines({ vt::Engine::MySQL })),
                         ParamName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ServerLibraryTest);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PgLibraryTest);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(MySqlLibraryTest);

}  // namespace
