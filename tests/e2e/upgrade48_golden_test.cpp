// Every statement the steps from 48 to 83 send, letter for letter: the
// traced output of an upgrade of the version-48 fixture under -t, compared
// whole with tests/golden/steps_48_82_<syntax>.txt, for each SQL syntax.
//
// The run is on a SQLite file whose DBSyntax names the syntax, so the
// branches of every syntax are traced; statements of another syntax that
// SQLite rejects are shown as failures and -X carries the walk on.  The
// golden files hold the output after the banner, SQLite's error texts
// included.
//
// After a deliberate change of a step, rewrite the files with
// VLDBMGR_UPDATE_GOLDEN=1 and review the diff line by line before
// committing it: the files are the reference, not a record of the output.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "harness.h"

namespace {

struct GoldenCase
{
   const char *syntax;       // DBSyntax of the database
   bool ignoreErrors;        // run with -X (statements SQLite rejects)
   const char *indexCommand; // IDataIndexCreationCommand_1 afterwards
};

const GoldenCase kCases[] = {
   { "SQLITE", false, "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)" },
   { "MYSQL", true, "CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)" },
   { "PGSQL", true, "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)" },
   { "MSSQL", true, "CREATE CLUSTERED INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)" },
   { "ORACLE", true, "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)" },
};

std::string GoldenPath(const char *syntax)
{
   std::string name = syntax;
   for (char &c : name)
      c = (char)tolower((unsigned char)c);
   return vt::SourceDir() + "/tests/golden/steps_48_82_" + name + ".txt";
}

// The first line where two texts differ, for a readable failure.
std::string FirstDifference(const std::string &expected, const std::string &actual)
{
   size_t i = 0;
   while (i < expected.size() && i < actual.size() && expected[i] == actual[i])
      i++;
   size_t start = expected.rfind('\n', i == 0 ? 0 : i - 1);
   start = (start == std::string::npos) ? 0 : start + 1;
   auto line = [start](const std::string &s) { return s.substr(start, s.find('\n', start) - start); };
   return "first difference at byte " + std::to_string(i) + ":\n  expected: " + line(expected) +
          "\n  actual:   " + line(actual);
}

TEST(Upgrade48Golden, TracedStatementsOfEverySyntax)
{
   const bool update = getenv("VLDBMGR_UPDATE_GOLDEN") != nullptr;
   for (const GoldenCase &c : kCases)
   {
      vt::TestDb db = vt::NewDb(vt::Engine::SQLite);
      vt::Exec(db, "BEGIN;\n" + vt::ReadFile(vt::SourceDir() + "/tests/fixtures/v48.sql") + "COMMIT;\n");
      vt::SetConfigValue(db, "DBSyntax", c.syntax);

      std::vector<std::string> args = { "-t" };
      if (c.ignoreErrors)
         args.push_back("-X");
      args.push_back("upgrade");
      vt::RunResult r = vt::Run(db, args);
      ASSERT_EQ(r.out.compare(0, strlen(vt::kBanner), vt::kBanner), 0) << r.out;
      std::string actual = r.out.substr(strlen(vt::kBanner));

      if (update)
         vt::WriteFile(GoldenPath(c.syntax), actual);
      std::string expected = vt::ReadFile(GoldenPath(c.syntax));
      EXPECT_EQ(actual, expected) << c.syntax << ": " << FirstDifference(expected, actual);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "83") << c.syntax;
      EXPECT_EQ(vt::Query(db, "SELECT var_value,is_visible,need_server_restart FROM config WHERE var_name='IDataIndexCreationCommand_1'"),
                (std::vector<std::vector<std::string>>{ { c.indexCommand, "0", "1" } }))
         << c.syntax;
   }
}

}  // namespace

namespace {

// On MySQL the table-type suffix of -I goes on the tables the steps create
// with CreateTableSql, never on index commands or statements of a script.
TEST(Upgrade48Golden, TableTypeSuffixOnlyOnCreatedTables)
{
   vt::TestDb db = vt::NewDb(vt::Engine::SQLite);
   vt::Exec(db, "BEGIN;\n" + vt::ReadFile(vt::SourceDir() + "/tests/fixtures/v48.sql") + "COMMIT;\n");
   vt::SetConfigValue(db, "DBSyntax", "MYSQL");
   vt::RunResult r = vt::Run(db, { "-t", "-X", "-I", "upgrade" });

   // The rebuilds that lost rows here kept them in files: remove those.
   const std::string saved = " as they were before this step are saved in ";
   for (size_t at = r.out.find(saved); at != std::string::npos; at = r.out.find(saved, at + 1))
   {
      size_t start = at + saved.size();
      std::string path = r.out.substr(start, r.out.find('\n', start) - start);
      EXPECT_EQ(remove(path.c_str()), 0) << path;
   }

   int nCreated = 0;
   size_t pos = 0;
   while ((pos = r.out.find(">>> ", pos)) != std::string::npos)
   {
      size_t end = r.out.find('\n', pos);
      std::string stmt = r.out.substr(pos + 4, end - pos - 4);
      pos = end;
      bool suffixed = stmt.size() > 7 && stmt.compare(stmt.size() - 7, 7, "=InnoDB") == 0;
      if (stmt.compare(0, 13, "CREATE TABLE ") == 0)
      {
         EXPECT_TRUE(suffixed) << stmt;
         nCreated++;
      }
      else
      {
         EXPECT_FALSE(suffixed) << stmt;
      }
   }
   // The 24 tables that steps 48 to 82 create, less the rebuild of
   // address_lists: SQLite rejects the suffix, so that table never came to
   // be and its rebuild is skipped after the failed select.
   EXPECT_EQ(nCreated, 23) << r.out;
}

}  // namespace
