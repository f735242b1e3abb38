/*
 * batch_test.cpp - the batch command end to end: how a command file is cut
 * into statements, what runs, what stops it, and what is printed.
 */
#include <gtest/gtest.h>

#include <string>

#include "check_testdb.h"
#include "harness.h"

namespace {

class BatchTest : public ::testing::TestWithParam<vt::Engine>
{
};

/* A database the tool can connect to (its config table names the syntax), with a table t. */
vt::TestDb BatchDb(vt::Engine e)
{
   vt::TestDb db = ct::MaintDb(e);
   vt::Exec(db, "CREATE TABLE t (a integer, b varchar(40))");
   return db;
}

/* The rows of table t, as "a|b;" per row. */
std::string TableRows(const vt::TestDb &db)
{
   std::string out;
   for (const auto &row : vt::Query(db, "SELECT a,b FROM t ORDER BY a"))
      out += row[0] + "|" + row[1] + ";";
   return out;
}

struct SplitCase
{
   const char *name;
   std::string file;
   std::string rows;      /* rows of t afterwards */
};

/* Files that run whole: every statement reaches the database, unchanged. */
TEST_P(BatchTest, FilesAreCutIntoStatements)
{
   const SplitCase cases[] = {
      { "LineFeeds", "INSERT INTO t VALUES (1,'one');\nINSERT INTO t VALUES (2,'two');\nINSERT INTO t VALUES (3,'three');\n",
        "1|one;2|two;3|three;" },
      { "CarriageReturnLineFeeds",
        "INSERT INTO t VALUES (1,'one');\r\nINSERT INTO t VALUES (2,'two');\r\nINSERT INTO t VALUES (3,'three');\r\n",
        "1|one;2|two;3|three;" },
      { "SemicolonInLiteral", "INSERT INTO t VALUES (1,'a;b');\nINSERT INTO t VALUES (2,'it''s;');\n",
        "1|a;b;2|it's;;" },
      { "LastWithoutSemicolon", "INSERT INTO t VALUES (1,'one');\nINSERT INTO t VALUES (2,'two')", "1|one;2|two;" },
      { "LastWithoutSemicolonLineEnd", "INSERT INTO t VALUES (1,'one');\nINSERT INTO t VALUES (2,'two')\n",
        "1|one;2|two;" },
      // The next statement right after ";" is sent whole, its first letter included.
      { "StatementsOnOneLine", "INSERT INTO t VALUES (1,'one');INSERT INTO t VALUES (2,'two'); INSERT INTO t VALUES (3,'x');\n",
        "1|one;2|two;3|x;" },
      { "BlankPiecesSkipped", "\n\nINSERT INTO t VALUES (1,'one');\n \t\n;\r\n;INSERT INTO t VALUES (2,'two');\n\n",
        "1|one;2|two;" },
      { "DoubleQuotesMeanNothing", "INSERT INTO t VALUES (1,'say \"hi;\"');\n", "1|say \"hi;\";" },
   };
   for (const SplitCase &c : cases)
   {
      SCOPED_TRACE(c.name);
      vt::TestDb db = BatchDb(GetParam());
      std::string file = vt::WriteFile(db.dir + "/cmds.sql", c.file);
      vt::RunResult r = vt::Run(db, { "batch", file });
      EXPECT_EQ(r.out, vt::kBanner) << r.err;
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(TableRows(db), c.rows);
   }
}

/* -t echoes the statements as sent: with "\r\n" files the "\n" leads the next one. */
TEST_P(BatchTest, TraceShowsStatementsAsSent)
{
   vt::TestDb db = BatchDb(GetParam());
   std::string file =
      vt::WriteFile(db.dir + "/cmds.sql", "INSERT INTO t VALUES (1,'a;b');\r\nINSERT INTO t VALUES (2,'two')");
   vt::RunResult r = vt::Run(db, { "-t", "batch", file });
   EXPECT_EQ(r.out, std::string(vt::kBanner) + ">>> INSERT INTO t VALUES (1,'a;b')\n" +
                       ">>> \nINSERT INTO t VALUES (2,'two')\n");
   EXPECT_EQ(TableRows(db), "1|a;b;2|two;");
}

/* The first failure stops the file; what ran before it stays, with or without -X. */
TEST_P(BatchTest, FailingStatementStopsTheFile)
{
   for (bool ignore : { false, true })
   {
      SCOPED_TRACE(ignore ? "-X" : "plain");
      vt::TestDb db = BatchDb(GetParam());
      std::string file = vt::WriteFile(db.dir + "/cmds.sql", "INSERT INTO t VALUES (1,'one');\n"
                                                             "INSERT INTO missing_table VALUES (2,'two');\n"
                                                             "INSERT INTO t VALUES (3,'three');\n");
      std::vector<std::string> args = { "batch", file };
      if (ignore)
         args.insert(args.begin(), "-X");
      vt::RunResult r = vt::Run(db, args);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(TableRows(db), "1|one;");
      // The lines around the engine's own error text.
      const std::string head = std::string(vt::kBanner) + "SQL query failed (";
      const std::string tail = "):\nINSERT INTO missing_table VALUES (2,'two')\n";
      ASSERT_GT(r.out.size(), head.size() + tail.size());
      EXPECT_EQ(r.out.substr(0, head.size()), head);
      EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
      if (GetParam() == vt::Engine::SQLite)
      {
         EXPECT_EQ(r.out, head + "no such table: missing_table" + tail);
      }
   }
}

/* Files that run nothing: empty, blank, missing, or holding a NUL that would cut a statement. */
TEST_P(BatchTest, FilesThatRunNothing)
{
   vt::TestDb db = BatchDb(GetParam());
   const std::string empty = vt::WriteFile(db.dir + "/empty.sql", "");
   const std::string blank = vt::WriteFile(db.dir + "/blank.sql", "\n \r\n\t\n");
   static const char kNulText[] = "INSERT INTO t VALUES (1,'one');\nINSERT INTO t VALUES (2,'t\0wo');\n";
   const std::string nul = vt::WriteFile(db.dir + "/nul.sql", std::string(kNulText, sizeof(kNulText) - 1));
   const std::string missing = db.dir + "/missing.sql";
   const std::string directory = db.dir;
   struct
   {
      std::string file;
      std::string out;
   } cases[] = {
      { empty, "" },
      { blank, "" },
      { missing, "ERROR: Cannot load SQL command file " + missing + "\n" },
      { directory, "ERROR: Cannot load SQL command file " + directory + "\n" },
      { nul, "ERROR: SQL command file " + nul + " contains a NUL character\n" },
   };
   for (const auto &c : cases)
   {
      SCOPED_TRACE(c.file);
      vt::RunResult r = vt::Run(db, { "batch", c.file });
      EXPECT_EQ(r.out, vt::kBanner + c.out);
      EXPECT_EQ(r.status, 0);
   }
   EXPECT_EQ(TableRows(db), "");
}

/* A quote never closed: the rest of the file is one statement, sent whole, and it fails. */
TEST_P(BatchTest, UnclosedQuoteTakesTheRest)
{
   vt::TestDb db = BatchDb(GetParam());
   std::string file = vt::WriteFile(db.dir + "/cmds.sql", "INSERT INTO t VALUES (1,'one);\nINSERT INTO t VALUES (2,'two');\n");
   vt::RunResult r = vt::Run(db, { "-t", "batch", file });
   const std::string sent = "INSERT INTO t VALUES (1,'one);\nINSERT INTO t VALUES (2,'two');\n";
   EXPECT_EQ(r.out.substr(0, std::string(vt::kBanner).size() + 4 + sent.size() + 1),
             std::string(vt::kBanner) + ">>> " + sent + "\n");
   EXPECT_NE(r.out.find("SQL query failed ("), std::string::npos);
   EXPECT_EQ(TableRows(db), "");
}

INSTANTIATE_TEST_SUITE_P(Engines, BatchTest, ::testing::ValuesIn(vt::TestEngines()),
                         [](const auto &info) { return std::string(vt::EngineName(info.param)); });

}  // namespace
