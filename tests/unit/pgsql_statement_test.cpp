// Unit tests of how the PostgreSQL driver runs statements inside a
// transaction (each under a savepoint that is set before the statement is
// sent) and hands over rows (one at a time from the server), through the
// database library on a real server.  Skipped where no PostgreSQL server is
// reachable (the VLT_PGSQL_* variables of scripts/servers.sh).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <string>

#include "harness.h"
#include <vlsrv.h>

namespace {

bool PgReachable()
{
   for (vt::Engine e : vt::TestEngines())
      if (e == vt::Engine::PgSQL)
         return true;
   return false;
}

/* Copies the connection settings of a test database's configuration file
   into the library's globals. */
void UseConfig(const std::string &path)
{
   std::ifstream in(path);
   std::string line;
   while (std::getline(in, line))
   {
      size_t eq = line.find('=');
      if (eq == std::string::npos)
         continue;
      std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      while (!key.empty() && key.back() == ' ')
         key.pop_back();
      while (!value.empty() && value.front() == ' ')
         value.erase(0, 1);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
         value = value.substr(1, value.size() - 2);
      if (key == "DBDriver")
         strcpy(g_szDbDriver, value.c_str());
      else if (key == "DBServer")
         strcpy(g_szDbServer, value.c_str());
      else if (key == "DBName")
         strcpy(g_szDbName, value.c_str());
      else if (key == "DBLogin")
         strcpy(g_szDbLogin, value.c_str());
      else if (key == "DBPassword")
         strcpy(g_szDbPassword, value.c_str());
      else if (key == "DBDrvParams")
         strcpy(g_szDbDrvParams, value.c_str());
   }
}

struct PgStatementTest : ::testing::Test
{
   db_handle_t h = nullptr;
   vt::TestDb db;
   void SetUp() override
   {
      if (!PgReachable())
         GTEST_SKIP() << "no PostgreSQL server";
      db = vt::NewDb(vt::Engine::PgSQL);
      setenv("VLDBMGR_DRIVER_DIR", (vt::ToolPath().substr(0, vt::ToolPath().rfind('/'))).c_str(), 1);
      UseConfig(db.config);
      ASSERT_EQ(std::string(g_szDbDriver), "pgsql");
      ASSERT_NE(DBInit(0, 0, 0, nullptr), 0);
      h = DBConnect();
      ASSERT_NE(h, nullptr);
      ASSERT_NE(DBQuery(h, "CREATE TABLE t (id integer, v varchar(300))"), 0);
   }
   void TearDown() override
   {
      if (h != nullptr)
         DBDisconnect(h);
      DBUnloadDriver();
      g_szDbDrvParams[0] = 0;
      g_szDbPassword[0] = 0;
   }
   std::string Ids()
   {
      db_result_t r = DBSelect(h, "SELECT id FROM t ORDER BY id");
      std::string out;
      for (int i = 0; r != nullptr && i < DBGetNumRows(r); i++)
         out += std::to_string(DBGetFieldLong(r, i, 0)) + " ";
      DBFreeResult(r);
      return out;
   }
};

// Every kind of failing statement leaves the transaction as it was: one
// that fails when it runs, one that does not parse, one whose text is cut
// inside a literal or a comment (and would swallow anything sent after it).
// The statements around them are committed; the first failure's text is the
// engine's.
TEST_F(PgStatementTest, FailedStatementsLeaveTheTransactionUsable)
{
   char err[DBDRV_MAX_ERROR_TEXT];
   ASSERT_NE(DBBegin(h), 0);
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (1,'a')"), 0);
   const char *failing[] = {
      "INSERT INTO nowhere VALUES (1)",
      "INSERT INTO t VALUES (2,'b'); INSERT INTO nowhere VALUES (2)",
      "SELEC 1",
      "INSERT INTO t VALUES (3,'it''s",
      "INSERT INTO t VALUES (4,'c') /* open comment",
      "SELECT 1/0",
   };
   int id = 10;
   for (const char *q : failing)
   {
      EXPECT_EQ(DBQueryEx(h, q, err), 0) << q;
      EXPECT_NE(err[0], 0) << q;
      // The transaction goes on after each failure.
      ASSERT_NE(DBQuery(h, ("INSERT INTO t VALUES (" + std::to_string(id++) + ",'ok')").c_str()), 0) << q;
   }
   EXPECT_EQ(DBQueryEx(h, "INSERT INTO nowhere VALUES (1)", err), 0);
   EXPECT_STREQ(err, "relation \"nowhere\" does not exist");
   // A statement that ends in a line comment is not cut short.
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (20,'x') -- the last one"), 0);
   db_result_t r = DBSelect(h, "SELECT count(*) FROM t -- counted");
   ASSERT_NE(r, nullptr);
   EXPECT_EQ(DBGetFieldLong(r, 0, 0), 8);
   DBFreeResult(r);
   ASSERT_NE(DBCommit(h), 0);
   EXPECT_EQ(Ids(), "1 10 11 12 13 14 15 20 ");
}

// The statements of a command file may open and end transactions of their
// own; a failure inside such a transaction is undone like inside DBBegin's.
TEST_F(PgStatementTest, TransactionsOfTheStatementsThemselves)
{
   ASSERT_NE(DBQuery(h, "BEGIN"), 0);
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (1,'a')"), 0);
   EXPECT_EQ(DBQuery(h, "INSERT INTO nowhere VALUES (1)"), 0);
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (2,'b')"), 0);
   ASSERT_NE(DBQuery(h, "SAVEPOINT mine"), 0);
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (3,'c')"), 0);
   ASSERT_NE(DBQuery(h, "ROLLBACK TO SAVEPOINT mine"), 0);
   EXPECT_EQ(DBQuery(h, "SELEC 1"), 0);
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (4,'d')"), 0);
   ASSERT_NE(DBQuery(h, "COMMIT"), 0);
   EXPECT_EQ(Ids(), "1 2 4 ");

   // A rolled-back transaction, then one of DBBegin.
   ASSERT_NE(DBQuery(h, "BEGIN"), 0);
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (5,'e')"), 0);
   ASSERT_NE(DBQuery(h, "ROLLBACK"), 0);
   ASSERT_NE(DBBegin(h), 0);
   EXPECT_EQ(DBQuery(h, "INSERT INTO nowhere VALUES (1)"), 0);
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (6,'f')"), 0);
   ASSERT_NE(DBRollback(h), 0);
   ASSERT_NE(DBBegin(h), 0);
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (7,'g')"), 0);
   ASSERT_NE(DBCommit(h), 0);
   EXPECT_EQ(Ids(), "1 2 4 7 ");
}

// Rows arrive one at a time and are stored as they come: many rows, NULLs,
// empty and long texts, in and outside a transaction; a select that fails
// after some rows were sent gives no result.
TEST_F(PgStatementTest, RowsOfLargeAndFailingSelects)
{
   const char *q = "SELECT i, CASE WHEN i%7=3 THEN NULL ELSE repeat('x', i%300) END FROM generate_series(0,19999) i";
   for (int inTransaction = 0; inTransaction < 2; inTransaction++)
   {
      if (inTransaction)
      {
         ASSERT_NE(DBBegin(h), 0);
      }
      db_result_t r = DBSelect(h, q);
      ASSERT_NE(r, nullptr);
      ASSERT_EQ(DBGetNumRows(r), 20000);
      static char buf[512];
      for (int i = 0; i < 20000; i += 37)
      {
         ASSERT_EQ(DBGetFieldLong(r, i, 0), i);
         ASSERT_EQ(std::string(DBGetField(r, i, 1, buf, sizeof(buf))), i % 7 == 3 ? "" : std::string(i % 300, 'x'));
      }
      DBFreeResult(r);
      r = DBSelect(h, "SELECT id FROM t WHERE id < 0");
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(DBGetNumRows(r), 0);
      DBFreeResult(r);
      // Division by zero at the 5001st row, after rows were on their way.
      EXPECT_EQ(DBSelect(h, "SELECT 10/(5000-i) FROM generate_series(0,9999) i"), nullptr);
      ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (1,'a')"), 0);
      if (inTransaction)
      {
         ASSERT_NE(DBCommit(h), 0);
      }
   }
   EXPECT_EQ(Ids(), "1 1 ");
}

}  // namespace
