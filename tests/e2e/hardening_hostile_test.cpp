/*
 * hardening_hostile_test.cpp - texts from rows that end up between quotes
 * in statements the tool composes: quotes, SQL after a quote, "#"
 * sequences, printf directives, control characters and a megabyte.  Each
 * place either encodes the value or, where it copies the stored value as it
 * stands, doubles its quotes, so that no text can end the literal, change
 * the statement or be cut inside it:
 *   - step 25 to 26: object names copied into object_properties (as
 *     stored), root object names from config (decoded, encoded again);
 *   - step 25 to 26 also: IDataIndexCreationCommand moved to _0 (decoded,
 *     encoded again by EnsureConfigParam);
 *   - step 80 to 81: schedules and addresses copied back (as stored).
 * The check stages and the lock put no stored text into statements; they
 * show it (hardening_damaged_test.cpp).
 */
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "harness.h"

namespace {

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

const std::string kMegabyte(1000000, 'Q');

/* Stored names and what object_properties must hold after the step (the
   names are read into 64 bytes, so a longer one keeps 63 characters). */
struct HostileName
{
   std::string stored;
   std::string copied;
};

const std::vector<HostileName> &HostileNames()
{
   static const std::vector<HostileName> names = {
      { "it's", "it's" },
      { "x',5,0,0,0,0); DROP TABLE users; --", "x',5,0,0,0,0); DROP TABLE users; --" },
      { "''", "''" },
      { "#27#00%s%n%d%%", "#27#00%s%n%d%%" },
      { "tab\there\x01\x1b[2J\r\n", "tab\there\x01\x1b[2J\r\n" },
      { "'" + kMegabyte, "'" + std::string(62, 'Q') },
   };
   return names;
}

vt::TestDb Fixture14(bool bHostile)
{
   vt::TestDb db = vt::NewDb(vt::Engine::SQLite);
   vt::Exec(db, vt::ReadFile(vt::SourceDir() + "/tests/fixtures/v14.sql"));
   if (!bHostile)
      return db;
   std::string sql;
   int id = 60;
   for (const HostileName &n : HostileNames())
   {
      sql += "INSERT INTO containers VALUES (" + std::to_string(id) + ",'" + Quoted(n.stored) + "',0,0,0,'');\n";
      sql += "INSERT INTO access_options VALUES (" + std::to_string(id) + ",1);\n";
      id++;
   }
   vt::Exec(db, sql);
   // A root name stored without encoding (a damaged row), and an index
   // command with encoded and raw specials.
   vt::SetConfigValue(db, "TopologyRootObjectName", "O''Brien %s #zz#41");
   vt::SetConfigValue(db, "IDataIndexCreationCommand", "CREATE INDEX x ON idata_%d(item_id) -- it''s #27%%s");
   return db;
}

/* The upgrade from 14 over hostile names gives the same output as over
   the plain fixture, and every name lands in object_properties intact. */
TEST(HostileTexts, ObjectNamesAndConfigValuesFromVersion14)
{
   vt::TestDb plain = Fixture14(false);
   vt::RunResult expected = vt::Run(plain, { "-X", "-f", "upgrade" });
   ASSERT_EQ(expected.out.substr(expected.out.size() - 27), "Database upgrade succeeded\n");

   vt::TestDb db = Fixture14(true);
   vt::RunResult r = vt::Run(db, { "-X", "-f", "upgrade" });
   EXPECT_EQ(r.out, expected.out);
   EXPECT_EQ(r.status, 0);

   int id = 60;
   for (const HostileName &n : HostileNames())
   {
      EXPECT_EQ(vt::QueryValue(db, "SELECT name FROM object_properties WHERE object_id=" + std::to_string(id)),
                n.copied)
         << id;
      id++;
   }
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM users"), vt::QueryValue(plain, "SELECT count(*) FROM users"));
   // Decoded on reading, encoded again for the statement.
   EXPECT_EQ(vt::QueryValue(db, "SELECT name FROM object_properties WHERE object_id=1"), "O#27Brien %s #23zzA");
   EXPECT_EQ(vt::ConfigValue(db, "IDataIndexCreationCommand_0"),
             "CREATE INDEX x ON idata_%d(item_id) -- it#27s #27%%s");
}

vt::TestDb Fixture65()
{
   vt::TestDb db = vt::NewDb(vt::Engine::SQLite);
   vt::Exec(db, vt::ReadFile(vt::SourceDir() + "/tests/fixtures/v65.sql"));
   return db;
}

/* Step 80 to 81 copies schedules and addresses as stored: every text comes
   back exactly, whatever quotes or specials it holds. */
TEST(HostileTexts, SchedulesAndAddressesFromVersion65)
{
   const std::vector<std::string> texts = {
      "it's", "x'); DELETE FROM items; --", "''", "#27#00%s%n%d%%", "tab\there\x01\x1b[2J\r\n",
      "'" + std::string(300, 'Q') + "'",
   };
   vt::TestDb db = Fixture65();
   std::string sql;
   for (size_t i = 0; i < texts.size(); i++)
   {
      sql += "INSERT INTO dci_schedules (item_id,schedule) VALUES (" + std::to_string(500 + i) + ",'" +
             Quoted(texts[i]) + "');\n";
      sql += "INSERT INTO address_lists (list_type,addr_type,addr1,addr2) VALUES (9," + std::to_string(i) + ",'" +
             Quoted(texts[i]) + "','" + Quoted(texts[i]) + "!');\n";
   }
   vt::Exec(db, sql);

   // Traced: the statements hold the texts, control characters shown.
   vt::RunResult r = vt::Run(db, { "-t", "-f", "upgrade" });
   EXPECT_EQ(r.out.substr(r.out.size() - 27), "Database upgrade succeeded\n") << r.out;
   EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
   EXPECT_EQ(r.out.find('\x01'), std::string::npos);
   EXPECT_NE(r.out.find(">>> INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(504,"), std::string::npos);
   EXPECT_NE(r.out.find(",'tab\there^A^[[2J\r\n')\n"), std::string::npos) << r.out;
   EXPECT_EQ(r.out.find("SQL query failed"), std::string::npos) << r.out;
   for (size_t i = 0; i < texts.size(); i++)
   {
      EXPECT_EQ(vt::QueryValue(db, "SELECT schedule FROM dci_schedules WHERE item_id=" + std::to_string(500 + i)),
                texts[i])
         << i;
      EXPECT_EQ(vt::QueryValue(db, "SELECT addr1 || '|' || addr2 FROM address_lists WHERE list_type=9 AND addr_type=" +
                                      std::to_string(i)),
                texts[i] + "|" + texts[i] + "!")
         << i;
   }
}

/* A schedule too long for the statement is never sent cut: without -X the
   step fails and is rolled back with every row in place; with -X the row
   is reported lost and the others are copied. */
TEST(HostileTexts, ScheduleLongerThanTheStatement)
{
   vt::TestDb db = Fixture65();
   vt::Exec(db, "INSERT INTO dci_schedules (item_id,schedule) VALUES (600,'\x1b[2J" + kMegabyte + "');\n");
   vt::RunResult r = vt::Run(db, { "-f", "upgrade" });

   // The schedule is read into 1024 bytes; the statement would not fit
   // its buffer, so it is shown (its first 200 characters) and not sent.
   // The escape character is shown as "^[".
   const std::string statement = "INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(600,5,'\x1b[2J" +
                                 std::string(1019, 'Q') + "')";
   std::string shown = statement.substr(0, 200);
   shown.replace(shown.find('\x1b'), 1, "^[");
   std::string expected = std::string(vt::kBanner) + "Upgrading database...\n";
   for (int v = 65; v <= 80; v++)
      expected += "Upgrading from version " + std::to_string(v) + " to " + std::to_string(v + 1) + "\n";
   expected += "SQL query failed (statement is too long: " + std::to_string(statement.size()) +
               " characters, the limit is 1023):\n" + shown + "...\n" +
               "Rolling back last stage due to upgrade errors...\nDatabase upgrade failed\n";
   EXPECT_EQ(r.out, expected);
   EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "80");
   EXPECT_EQ(vt::QueryValue(db, "SELECT length(schedule) FROM dci_schedules WHERE item_id=600"), "1000004");
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM dci_schedules"), "5");
}

/* Backslashes in copied values: on MySQL a backslash escapes the quote
   after it inside a literal, so a copy as stored doubles backslashes there
   too (an encoded value holds none, so it is unchanged); elsewhere a
   backslash is an ordinary character.  On every engine the texts come back
   exactly. */
struct HostileBackslashes : ::testing::TestWithParam<vt::Engine>
{
};

TEST_P(HostileBackslashes, SchedulesFromVersion65)
{
   const std::vector<std::string> texts = {
      "ends in a backslash\\", "\\'); DELETE FROM items; -- ", "a\\b\\\\c", "\\''\\'",
   };
   vt::TestDb db = vt::NewDb(GetParam());
   std::string fixture = vt::ReadFile(vt::SourceDir() + "/tests/fixtures/v65.sql");
   if (GetParam() == vt::Engine::MySQL)
      fixture = std::regex_replace(fixture, std::regex("varchar([,)])"), "text$1");
   vt::Exec(db, fixture);
   vt::SetConfigValue(db, "DBSyntax", vt::EngineSyntax(GetParam()));
   std::string sql;
   for (size_t i = 0; i < texts.size(); i++)
   {
      std::string literal = Quoted(texts[i]);
      if (GetParam() == vt::Engine::MySQL)   // the test's own statement must keep them too
         literal = std::regex_replace(literal, std::regex("\\\\"), "\\\\");
      sql += "INSERT INTO dci_schedules (item_id,schedule) VALUES (" + std::to_string(700 + i) + ",'" + literal +
             "');\n";
   }
   vt::Exec(db, sql);
   for (size_t i = 0; i < texts.size(); i++)
      ASSERT_EQ(vt::QueryValue(db, "SELECT schedule FROM dci_schedules WHERE item_id=" + std::to_string(700 + i)),
                texts[i]);

   vt::RunResult r = vt::Run(db, { "-f", "upgrade" });
   EXPECT_EQ(r.out.substr(r.out.size() - 27), "Database upgrade succeeded\n") << r.out;
   EXPECT_EQ(r.out.find("SQL query failed"), std::string::npos) << r.out;
   for (size_t i = 0; i < texts.size(); i++)
      EXPECT_EQ(vt::QueryValue(db, "SELECT schedule FROM dci_schedules WHERE item_id=" + std::to_string(700 + i)),
                texts[i])
         << i;
   EXPECT_NE(vt::QueryValue(db, "SELECT count(*) FROM items"), "0");
}

/* Object names with quotes and backslashes copied by step 25 to 26, on
   every engine: the same output as over the plain fixture, the names
   intact. */
TEST_P(HostileBackslashes, ObjectNamesFromVersion14)
{
   const std::vector<std::string> names = { "back\\", "\\'); DELETE FROM users; -- ", "it's \\\\ two" };
   std::vector<vt::TestDb> dbs;
   std::vector<vt::RunResult> runs;
   for (bool bHostile : { false, true })
   {
      vt::TestDb db = vt::NewDb(GetParam());
      std::string fixture = vt::ReadFile(vt::SourceDir() + "/tests/fixtures/v14.sql");
      if (GetParam() == vt::Engine::MySQL)
         fixture = std::regex_replace(fixture, std::regex("varchar([,)])"), "text$1");
      vt::Exec(db, fixture);
      vt::SetConfigValue(db, "DBSyntax", vt::EngineSyntax(GetParam()));
      if (bHostile)
      {
         std::string sql;
         for (size_t i = 0; i < names.size(); i++)
         {
            std::string literal = Quoted(names[i]);
            if (GetParam() == vt::Engine::MySQL)
               literal = std::regex_replace(literal, std::regex("\\\\"), "\\\\");
            std::string id = std::to_string(60 + i);
            sql += "INSERT INTO containers VALUES (" + id + ",'" + literal + "',0,0,0,'');\n"
                   "INSERT INTO access_options VALUES (" + id + ",1);\n";
         }
         vt::Exec(db, sql);
      }
      runs.push_back(vt::Run(db, { "-X", "-f", "upgrade" }));
      dbs.push_back(db);
   }
   EXPECT_EQ(runs[1].out, runs[0].out);
   for (size_t i = 0; i < names.size(); i++)
      EXPECT_EQ(vt::QueryValue(dbs[1], "SELECT name FROM object_properties WHERE object_id=" + std::to_string(60 + i)),
                names[i])
         << i;
   EXPECT_EQ(vt::QueryValue(dbs[1], "SELECT count(*) FROM users"), vt::QueryValue(dbs[0], "SELECT count(*) FROM users"));
}

INSTANTIATE_TEST_SUITE_P(Engines, HostileBackslashes, testing::ValuesIn(vt::TestEngines()), vt::EngineParamName());

}  // namespace
