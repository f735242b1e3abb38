// The statement layer of the tool (trace, failure display, batch scripts,
// type macros, CREATE TABLE suffix, bounded formatting) and the config-table
// routines, run against a real SQLite database.
#include <gtest/gtest.h>

#include <string.h>

#include "harness.h"
#include "vldbmgr.h"

namespace {

struct StatementTest : ::testing::Test
{
   vt::TestDb db;

   void SetUp() override
   {
      db = vt::NewDb();
      vt::Exec(db, "CREATE TABLE config (var_name varchar(63) not null primary key, var_value varchar(2000),"
                   " is_visible integer, need_server_restart integer);\n"
                   "CREATE TABLE t (a integer);\n");
      setenv("VLDBMGR_DRIVER_DIR", vt::ToolPath().substr(0, vt::ToolPath().rfind('/')).c_str(), 1);
      strcpy(g_szDbDriver, "sqlite");
      strcpy(g_szDbName, db.name.c_str());
      ASSERT_NE(DBInit(0, 0, 0, nullptr), 0);
      g_hDatabase = DBConnect();
      ASSERT_NE(g_hDatabase, nullptr);
      g_nDbSyntax = DIALECT_SQLITE;
      g_bTraceQueries = 1;
      g_bIgnoreSqlErrors = 0;
      g_pszMySqlTableType = "";
   }
   void TearDown() override
   {
      DBDisconnect(g_hDatabase);
      g_hDatabase = nullptr;
      DBUnloadDriver();
   }
   void Capture()
   {
      fflush(stdout);
      testing::internal::CaptureStdout();
   }
   std::string Captured()
   {
      fflush(stdout);
      return testing::internal::GetCapturedStdout();
   }
   std::string Rows(const std::string &query)
   {
      std::string s;
      for (const auto &row : vt::Query(db, query))
      {
         for (const auto &field : row)
            s += field + "|";
         s += "\n";
      }
      return s;
   }
};

TEST_F(StatementTest, EmptyStatementIsNotSent)
{
   Capture();
   EXPECT_EQ(ExecQuery(""), 1);
   EXPECT_EQ(Captured(), "");
}

TEST_F(StatementTest, BatchStopsAtTheFirstFailureWithoutIgnore)
{
   const char *script = "INSERT INTO t VALUES (1)\nINSERT INTO nowhere VALUES (2)\nINSERT INTO t VALUES (3)\n<END>";
   Capture();
   EXPECT_EQ(RunSqlBatch(script), 0);
   EXPECT_EQ(Captured(), ">>> INSERT INTO t VALUES (1)\n"
                         ">>> INSERT INTO nowhere VALUES (2)\n"
                         "SQL query failed (no such table: nowhere):\n"
                         "INSERT INTO nowhere VALUES (2)\n");
   EXPECT_EQ(Rows("SELECT a FROM t"), "1|\n");

   g_bIgnoreSqlErrors = 1;
   Capture();
   EXPECT_EQ(RunSqlBatch(script), 1);
   EXPECT_EQ(Captured(), ">>> INSERT INTO t VALUES (1)\n"
                         ">>> INSERT INTO nowhere VALUES (2)\n"
                         "SQL query failed (no such table: nowhere):\n"
                         "INSERT INTO nowhere VALUES (2)\n"
                         ">>> INSERT INTO t VALUES (3)\n");
   EXPECT_EQ(Rows("SELECT a FROM t ORDER BY rowid"), "1|\n1|\n3|\n");
}

TEST_F(StatementTest, BatchEndsOnlyAtTheExactEndLine)
{
   g_bIgnoreSqlErrors = 1;
   Capture();
   EXPECT_EQ(RunSqlBatch("<end>\n <END>\n<END>\nINSERT INTO t VALUES (9)\n<END>"), 1);
   EXPECT_EQ(Captured(), ">>> <end>\nSQL query failed (near \"<\": syntax error):\n<end>\n"
                         ">>>  <END>\nSQL query failed (near \"<\": syntax error):\n <END>\n");
   EXPECT_EQ(Rows("SELECT a FROM t"), "");
}

TEST_F(StatementTest, TypeMacrosPerSyntax)
{
   struct
   {
      SqlDialect syntax;
      std::string text;
   } cases[] = {
      { DIALECT_MYSQL, "CREATE TABLE m (a text,b bigint,c text)" },
      { DIALECT_PGSQL, "CREATE TABLE m (a varchar,b bigint,c varchar)" },
      { DIALECT_MSSQL, "CREATE TABLE m (a text,b bigint,c text)" },
      { DIALECT_ORACLE, "CREATE TABLE m (a clob,b number(20),c clob)" },
      { DIALECT_SQLITE, "CREATE TABLE m (a varchar,b number(20),c varchar)" },
   };
   g_bIgnoreSqlErrors = 1;
   for (const auto &c : cases)
   {
      g_nDbSyntax = c.syntax;
      Capture();
      RunSqlBatch("CREATE TABLE m (a $SQL:TEXT,b $SQL:INT64,c $SQL:TEXT)\nDROP TABLE m\n<END>");
      std::string out = Captured();
      EXPECT_EQ(out.substr(0, out.find('\n') + 1), ">>> " + c.text + "\n") << c.syntax;
   }
}

TEST_F(StatementTest, CreateTableSuffixOnMySqlOnly)
{
   struct
   {
      SqlDialect syntax;
      const char *type;
      std::string traced;
   } cases[] = {
      { DIALECT_MYSQL, " ENGINE=InnoDB", "CREATE TABLE c1 (a text) ENGINE=InnoDB" },
      { DIALECT_MYSQL, " ENGINE=MyISAM", "CREATE TABLE c1 (a text) ENGINE=MyISAM" },
      { DIALECT_MYSQL, "", "CREATE TABLE c1 (a text)" },
      { DIALECT_PGSQL, " ENGINE=InnoDB", "CREATE TABLE c1 (a varchar)" },
      { DIALECT_SQLITE, " ENGINE=InnoDB", "CREATE TABLE c1 (a varchar)" },
   };
   for (const auto &c : cases)
   {
      g_nDbSyntax = c.syntax;
      g_pszMySqlTableType = c.type;
      Capture();
      CreateTableSql("CREATE TABLE c1 (a $SQL:TEXT)");
      std::string out = Captured();
      EXPECT_EQ(out.substr(0, out.find('\n') + 1), ">>> " + c.traced + "\n");
      vt::TryExec(db, "DROP TABLE c1");
   }
}

TEST_F(StatementTest, OverlongStatementIsRefusedNotCut)
{
   char buf[32];
   Capture();
   EXPECT_EQ(FormatSql(buf, sizeof(buf), "DELETE FROM nodes WHERE id=%d OR id=%d", 1234567, 7654321), 0);
   EXPECT_EQ(Captured(), "SQL query failed (statement is too long: 48 characters, the limit is 31):\n"
                         "DELETE FROM nodes WHERE id=1234567 OR id=7654321\n");
   EXPECT_STREQ(buf, "");
   EXPECT_EQ(FormatSql(buf, sizeof(buf), "%s", std::string(31, 'x').c_str()), 1);
}

TEST_F(StatementTest, EnsureConfigParam)
{
   // A new row: one INSERT, the value encoded.
   Capture();
   EXPECT_NE(EnsureConfigParam("Greeting", "it's \"#1\"", 1, 0, 0), 0);
   EXPECT_EQ(Captured(), ">>> INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES "
                         "('Greeting','it#27s #22#231#22',1,0)\n");
   // Existing, no overwrite: nothing at all, not even a trace.
   Capture();
   EXPECT_NE(EnsureConfigParam("Greeting", "other", 0, 1, 0), 0);
   EXPECT_EQ(Captured(), "");
   // Existing, overwrite: one UPDATE, the flags stay.
   Capture();
   EXPECT_NE(EnsureConfigParam("Greeting", "", 0, 1, 1), 0);
   EXPECT_EQ(Captured(), ">>> UPDATE config SET var_value='#00' WHERE var_name='Greeting'\n");
   EXPECT_EQ(Rows("SELECT var_value,is_visible,need_server_restart FROM config"), "#00|1|0|\n");
   // A value whose statement would not fit: refused, nothing sent.
   Capture();
   EXPECT_EQ(EnsureConfigParam("Long", std::string(1000, 'v').c_str(), 1, 0, 0), 0);
   EXPECT_NE(Captured().find("statement is too long"), std::string::npos);
   EXPECT_EQ(Rows("SELECT var_name FROM config WHERE var_name='Long'"), "");
}

TEST_F(StatementTest, ConfigReaders)
{
   vt::Exec(db, "INSERT INTO config VALUES ('Hex','0x10',1,0),('Oct','010',1,0),('Junk','12abc',1,0),"
                "('Empty','#00',1,0),('Max','4294967295',1,0),('Text','a#27b#0Ac',1,0),"
                "('Long','0123456789',1,0),('Huge','4294967379',1,0),('Tiny','-9999999999',1,0);");
   struct
   {
      const char *name;
      int32_t value;
   } ints[] = { { "Hex", 16 }, { "Oct", 8 }, { "Junk", 12 }, { "Empty", 0 }, { "Missing", -5 },
                { "Huge", INT32_MAX }, { "Tiny", INT32_MIN } };
   g_bTraceQueries = 0;
   for (const auto &c : ints)
      EXPECT_EQ(ReadConfigInt(c.name, -5), c.value) << c.name;
   EXPECT_EQ(ReadConfigUInt("Max", 1), 4294967295u);
   EXPECT_EQ(ReadConfigUInt("Missing", 77), 77u);

   char big[16];
   EXPECT_EQ(ReadConfigString("Text", big, sizeof(big), "dflt"), 1);
   EXPECT_STREQ(big, "a'b\nc");
   // The stored text is cut to the buffer before it is decoded.
   char buf[8];
   EXPECT_EQ(ReadConfigString("Text", buf, sizeof(buf), "dflt"), 1);
   EXPECT_STREQ(buf, "a'b#0");
   EXPECT_EQ(ReadConfigString("Long", buf, sizeof(buf), "dflt"), 1);
   EXPECT_STREQ(buf, "0123456");
   EXPECT_EQ(ReadConfigString("Missing", buf, sizeof(buf), "default-too-long"), 0);
   EXPECT_STREQ(buf, "default");

   g_bTraceQueries = 1;
   Capture();
   EXPECT_EQ(ReadConfigString(std::string(128, 'n').c_str(), buf, sizeof(buf), "d"), 0);
   EXPECT_EQ(ReadConfigString("Hex", buf, sizeof(buf), "d"), 1);
   EXPECT_EQ(Captured(), ">>> SELECT var_value FROM config WHERE var_name='Hex'\n");
}

}  // namespace
