/*
 * hardening_damaged_test.cpp - damaged rows: NULLs where numbers belong, a
 * format version that is not a number or does not fit 32 bits, texts longer
 * than every buffer, broken "#" sequences, identifiers at 0xFFFFFFFF and a
 * DBSyntax of a megabyte.  Each gives a defined output and exit status:
 * no crash, no hang, no statement cut short, nothing read past a buffer.
 */
#include <gtest/gtest.h>

#include <string>

#include "check_testdb.h"
#include "harness.h"

namespace {

using vt::kBanner;

// 'Q' is no hexadecimal digit, so no "#" before it starts a sequence.
const std::string kMegabyte(1000000, 'Q');

/* Room for texts of any length in the config table, on every engine. */
void WidenConfigValues(const vt::TestDb &db)
{
   switch (db.engine)
   {
      case vt::Engine::PgSQL:
      case vt::Engine::ODBC:
         vt::Exec(db, "ALTER TABLE config ALTER COLUMN var_value TYPE text;\n");
         break;
      case vt::Engine::MySQL:
         vt::Exec(db, "ALTER TABLE config MODIFY var_value longtext;\n");
         break;
      case vt::Engine::SQLite:
         break;
   }
}

/* Replaces one config row's value; NULL when value is null. */
void SetConfigRow(const vt::TestDb &db, const std::string &name, const std::string *value)
{
   if (value != nullptr)
      vt::SetConfigValue(db, name, *value);
   else
      vt::Exec(db, "UPDATE config SET var_value=NULL WHERE var_name='" + name + "';\n");
}

/* One database at version 83 per test, with room for long config values;
   each case sets the rows it damages. */
vt::TestDb WideDb(vt::Engine e)
{
   vt::TestDb db = ct::MaintDb(e);
   WidenConfigValues(db);
   return db;
}

/* A text as an SQL literal's contents: single quotes doubled. */
std::string Quoted(const std::string &text)
{
   std::string out;
   for (char ch : text)
   {
      if (ch == '\'')
         out += '\'';
      out += ch;
   }
   return out;
}

struct DamagedData : ::testing::TestWithParam<vt::Engine>
{
};

TEST_P(DamagedData, SyntaxRow)
{
   const std::string escape = "#1B[2J";
   struct
   {
      const char *what;
      std::string stored;
      bool bNull;
      std::string shown;
   } cases[] = {
      { "a megabyte", kMegabyte, false, std::string(15, 'Q') },
      { "NULL", "", true, "" },
      { "escape sequence", escape + "SQLITE", false, "^[[2JSQLITE" },
      { "cut inside a # sequence", "SQLITEXXXXXXXX#1", false, "SQLITEXXXXXXXX#" },
   };
   vt::TestDb db = WideDb(GetParam());
   for (const auto &c : cases)
   {
      SetConfigRow(db, "DBSyntax", c.bNull ? nullptr : &c.stored);
      vt::RunResult r = vt::Run(db, { "unlock" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Unknown database syntax " + c.shown + "\n") << c.what;
      EXPECT_EQ(r.status, 6) << c.what;
   }
}

TEST_P(DamagedData, FormatVersionRow)
{
   const std::string kTooNew = "Your database has format version 2147483647, this tool is compiled for version 83.\n"
                               "You need to upgrade your server before using this database.\n";
   const std::string kTooOld = "Your database has format version 0, this tool is compiled for version 83.\n"
                               "Use \"upgrade\" command to upgrade your database first.\n";
   struct
   {
      const char *what;
      std::string stored;
      bool bNull;
      std::string upgrade;   // after "Upgrading database...\n"
      std::string check;     // after "Checking database:\n"
      std::string reindex;
   } cases[] = {
      { "NULL", "", true, "Unable to find upgrade procedure for version 0\nDatabase upgrade failed\n",
        kTooOld + "Database check aborted\n", kTooOld },
      { "not a number", "eighty-three", false,
        "Unable to find upgrade procedure for version 0\nDatabase upgrade failed\n", kTooOld + "Database check aborted\n",
        kTooOld },
      { "2^32 + 83", "4294967379", false, kTooNew, kTooNew + "Database check aborted\n", kTooNew },
      { "a megabyte of digits", std::string(1000000, '9'), false, kTooNew, kTooNew + "Database check aborted\n",
        kTooNew },
      { "negative", "-1", false, "Unable to find upgrade procedure for version -1\nDatabase upgrade failed\n",
        "Your database has format version -1, this tool is compiled for version 83.\n"
        "Use \"upgrade\" command to upgrade your database first.\nDatabase check aborted\n",
        "Your database has format version -1, this tool is compiled for version 83.\n"
        "Use \"upgrade\" command to upgrade your database first.\n" },
   };
   vt::TestDb db = WideDb(GetParam());
   for (const auto &c : cases)
   {
      SetConfigRow(db, "DBFormatVersion", c.bNull ? nullptr : &c.stored);
      vt::RunResult r = vt::Run(db, { "-f", "upgrade" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Upgrading database...\n" + c.upgrade) << c.what;
      EXPECT_EQ(r.status, 0);
      r = vt::Run(db, { "-f", "check" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Checking database:\n" + c.check) << c.what;
      r = vt::Run(db, { "reindex" });
      EXPECT_EQ(r.out, std::string(kBanner) + c.reindex) << c.what;
      // Nothing was written.
      if (c.bNull)
         EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM config WHERE var_value IS NULL"), "1");
      else
         EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), c.stored) << c.what;
   }
}

/* The lock texts are read into 256-byte buffers: longer ones are cut there,
   decoded, and shown visibly; a "#" sequence cut by the buffer stays as it
   is; NULL reads as the empty text. */
TEST_P(DamagedData, LockRows)
{
   const std::string kUnlockPrompt = "]\nDo you wish to force database unlock? (Y/N) ";
   struct
   {
      const char *what;
      std::string holder;
      bool bNullInfo;
      std::string info;
      std::string shownHolder;
      std::string shownInfo;
   } cases[] = {
      { "a megabyte after an escape", "#1B[31m" + kMegabyte, false, "#zz#4#" + kMegabyte,
        "^[[31m" + std::string(248, 'Q'), "#zz#4#" + std::string(249, 'Q') },
      { "# sequence cut by the buffer", std::string(253, 'C') + "#41", false, std::string(254, 'D') + "#41",
        std::string(253, 'C') + "#4", std::string(254, 'D') + "#" },
      { "NULL info", "srv", true, "", "srv", "" },
      { "control characters decoded", "a#0Db#07c#7F", false, "%s%n%d'", "a^Mb^Gc^?", "%s%n%d'" },
   };
   vt::TestDb db = WideDb(GetParam());
   for (const auto &c : cases)
   {
      SetConfigRow(db, "DBLockStatus", &c.holder);
      if (c.bNullInfo)
         vt::Exec(db, "UPDATE config SET var_value=NULL WHERE var_name='DBLockInfo';\n");
      else
         vt::Exec(db, "UPDATE config SET var_value='" + Quoted(c.info) + "' WHERE var_name='DBLockInfo';\n");

      vt::RunResult r = vt::Run(db, { "reindex" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Database is locked by server " + c.shownHolder + " [" + c.shownInfo + "]\n")
         << c.what;
      r = vt::Run(db, { "-f", "unlock" });
      EXPECT_EQ(r.out, std::string(kBanner) + "Database is locked by server " + c.shownHolder + " [" + c.shownInfo +
                          kUnlockPrompt + "Y\nDatabase lock removed\n")
         << c.what;
      EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), "UNLOCKED");
   }
}

INSTANTIATE_TEST_SUITE_P(Engines, DamagedData, testing::ValuesIn(vt::TestEngines()), vt::EngineParamName());

/* SQLite keeps whatever a damaged writer stored: NULL identifiers, ids
   beyond 32 bits, names of a megabyte with escape sequences.  The check
   reads them as numbers 0 and -1 (identifiers are shown with %d), shows
   names visibly and cut to their buffer, and repairs by the same numbers. */
TEST(DamagedDataSqlite, CheckOverDamagedRows)
{
   vt::TestDb db = vt::NewDb();
   // The shipped database without its "not null" constraints.
   std::string schema = vt::ReadFile(vt::ShippedSchema(vt::Engine::SQLite));
   for (size_t pos; (pos = schema.find(" not null")) != std::string::npos;)
      schema.erase(pos, 9);
   vt::Exec(db, schema);
   const std::string evil = "#1B[2Jevil#zz#4%s%n" + kMegabyte;
   const std::string props = "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,"
                             "inherit_access_rights,last_modified) VALUES ";
   vt::Exec(db, "INSERT INTO nodes (id,primary_ip,community) VALUES (-1,'10.0.0.1','public');\n"
                "INSERT INTO nodes (id,primary_ip,community) VALUES (4294967295,NULL,NULL);\n" +
                props + "(-1,'" + evil + "',0,0,0,1,1700000000);\n" +
                props + "(NULL,NULL,NULL,NULL,NULL,NULL,NULL);\n"
                "INSERT INTO interfaces (id,node_id) VALUES (77,NULL);\n"
                "INSERT INTO cluster_members (cluster_id,node_id) VALUES (NULL,NULL);\n"
                "INSERT INTO policy_event_list (rule_id,event_code) VALUES (1,NULL);\n");
   vt::RunResult r = vt::Run(db, { "-f", "check" });
   const std::string shownName = "#1B[2Jevil#zz#4%s%n" + std::string(63 - 19, 'Q');
   EXPECT_EQ(r.out,
             std::string(kBanner) + "Checking database:\n" + ct::Stage(ct::kNodes) +
                "\rUnlinked node object -1 (\"" + shownName + "\"). Delete? (Y/N) Y\n" +
                "\rMissing node object -1 properties. Create? (Y/N) Y\n" + ct::Fixed(ct::kNodes) +
                ct::Stage(ct::kInterfaces) + "\rMissing interface object 77 properties. Create? (Y/N) Y\n" +
                "\rUnlinked interface object 77 (\"\"). Delete? (Y/N) Y\n" +
                ct::Fixed(ct::kInterfaces) + ct::Passed(ct::kServices) + ct::Stage(ct::kClusters) +
                "\rCluster object  [0] refers to non-existing node 0. Dereference? (Y/N) Y\n" +
                ct::Fixed(ct::kClusters) + ct::Stage(ct::kProperties) +
                "\rObject -1 [lost_node_-1] has invalid timestamp. Correct? (Y/N) Y\n" +
                "\rObject 0 [] has invalid timestamp. Correct? (Y/N) Y\n" + ct::Fixed(ct::kProperties) +
                ct::Stage(ct::kPolicy) + "\rInvalid event ID 0x00000000 used. Correct? (Y/N) Y\n" + ct::Fixed(ct::kPolicy) +
                "8 errors was found, 8 errors was corrected\n"
                "All errors in database was fixed\n"
                "Commit changes (Y/N) Y\n"
                "Committing changes...\n"
                "Changes was successfully committed to database\n"
                "Database check completed\n");
   EXPECT_EQ(r.status, 0);
   // The damaged name was removed whole, with its node: nothing was cut.
   EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM object_properties WHERE length(name) > 1000"), "0");
   EXPECT_EQ(vt::QueryValue(db, "SELECT COUNT(*) FROM nodes WHERE id=-1"), "0");
}

}  // namespace
