// Unit tests of the companion libraries: the string encoding, the
// configuration loader, in-place replacement, whole-file reading, UUIDs,
// and the field readers of the database library on a real SQLite file.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "harness.h"
#include <velmor.h>
#include <vlsrv.h>

namespace {

std::string Decode(const std::string &s)
{
   std::string copy = s;
   DecodeSQLString(&copy[0]);
   return std::string(copy.c_str());
}

std::string Encode(const std::string &s)
{
   char *p = EncodeSQLString(s.c_str());
   std::string out(p);
   free(p);
   return out;
}

TEST(Encoding, EscapesEverythingThatCouldBreakALiteral)
{
   struct
   {
      std::string plain, encoded;
   } cases[] = {
      { "", "#00" },
      { "plain text 123", "plain text 123" },
      { "it's", "it#27s" },
      { "say \"hi\"", "say #22hi#22" },
      { "#25", "#2325" },
      { "back\\slash", "back#5Cslash" },
      { "line\r\nbreak\ttab", "line#0D#0Abreak#09tab" },
      { "del\x7f", "del#7F" },
      { "esc\x1b[31m", "esc#1B[31m" },
      { "100% <ok>; ok", "100% <ok>; ok" },
      { "caf\xc3\xa9", "caf\xc3\xa9" },
   };
   for (const auto &c : cases)
   {
      EXPECT_EQ(Encode(c.plain), c.encoded) << c.plain;
      EXPECT_EQ(Decode(c.encoded), c.plain) << c.encoded;
   }
}

TEST(Encoding, MalformedSequencesStayAndNeverGrow)
{
   struct
   {
      std::string in, out;
   } cases[] = {
      { "#", "#" }, { "#4", "#4" }, { "#G1", "#G1" }, { "a#4g", "a#4g" }, { "##41", "#A" },
      { "#41#42", "AB" }, { "#6a", "j" }, { "x#00y", "x" },
   };
   for (const auto &c : cases)
   {
      EXPECT_EQ(Decode(c.in), c.out) << c.in;
      EXPECT_LE(Decode(c.in).size(), c.in.size());
   }
}

TEST(Encoding, RoundTripOfEveryByte)
{
   std::string all;
   for (int i = 1; i < 256; i++)
      all += (char)i;
   std::string encoded = Encode(all);
   EXPECT_EQ(encoded.find('\''), std::string::npos);
   EXPECT_EQ(encoded.find('"'), std::string::npos);
   EXPECT_EQ(encoded.find('\\'), std::string::npos);
   EXPECT_EQ(encoded.find('\n'), std::string::npos);
   EXPECT_EQ(Decode(encoded), all);
}

TEST(TranslateStr, ReplacesInPlaceWithoutGrowing)
{
   char text[] = "a $SQL:TEXT b $SQL:TEXT$SQL:TEXT c";
   TranslateStr(text, "$SQL:TEXT", "varchar");
   EXPECT_STREQ(text, "a varchar b varcharvarchar c");
   char text2[] = "$SQL:INT64";
   TranslateStr(text2, "$SQL:INT64", "number(20)");
   EXPECT_STREQ(text2, "number(20)");
   char text3[] = "short";
   EXPECT_EQ(TranslateStr(text3, "sh", "longer"), 0);
   EXPECT_STREQ(text3, "short");
}

TEST(LoadFile, WholeFileWithNulAfterIt)
{
   std::string dir = vt::TempDir();
   std::string contents("one\0two\nthree", 13);
   vt::WriteFile(dir + "/f", contents);
   uint32_t size = 0;
   char *p = LoadFile((dir + "/f").c_str(), &size);
   ASSERT_NE(p, nullptr);
   EXPECT_EQ(size, 13u);
   EXPECT_EQ(std::string(p, size), contents);
   EXPECT_EQ(p[size], 0);
   free(p);
   EXPECT_EQ(LoadFile((dir + "/missing").c_str(), &size), nullptr);
   EXPECT_EQ(LoadFile(dir.c_str(), &size), nullptr);
}

TEST(Uuid, TextFormIs36LowerCaseCharacters)
{
   std::set<std::string> seen;
   for (int i = 0; i < 100; i++)
   {
      uuid_t u;
      char buf[64];
      uuid_generate(u);
      std::string s = uuid_to_string(u, buf);
      ASSERT_EQ(s.size(), 36u);
      for (size_t k = 0; k < s.size(); k++)
      {
         if (k == 8 || k == 13 || k == 18 || k == 23)
            EXPECT_EQ(s[k], '-');
         else
            EXPECT_TRUE(isxdigit((unsigned char)s[k]) && !isupper((unsigned char)s[k])) << s;
      }
      seen.insert(s);
   }
   EXPECT_EQ(seen.size(), 100u);
}

// The loader with a small template of its own.
struct LoaderTest : ::testing::Test
{
   char name[16] = "default";
   char server[8] = "";
   ConfigTemplateEntry tmpl[4] = {
      { "DBName", CT_STRING, 0, 0, sizeof(name), 0, name },
      { "DBServer", CT_STRING, 0, 0, sizeof(server), 0, server },
      { "LogFile", CT_IGNORE, 0, 0, 0, 0, nullptr },
      { "", CT_END, 0, 0, 0, 0, nullptr },
   };
   std::string Load(const std::string &text, int strict = 1, int *result = nullptr)
   {
      std::string path = vt::WriteFile(vt::TempDir() + "/c.conf", text);
      testing::internal::CaptureStderr();
      int r = VlLoadConfig(path.c_str(), "", tmpl, strict);
      std::string err = testing::internal::GetCapturedStderr();
      if (result != nullptr)
         *result = r;
      size_t pos = err.find(path);
      while (pos != std::string::npos)
      {
         err.replace(pos, path.size(), "FILE");
         pos = err.find(path);
      }
      return err;
   }
};

TEST_F(LoaderTest, Syntax)
{
   int r = -1;
   EXPECT_EQ(Load("# comment\n\n  DBName =  \"my db\"  \r\nLogFile = /var/log/x\nDBServer=h1\nDBServer = h2\n"
                  "[other]\nUnknown = 1\nDBName = no\n",
                  1, &r),
             "");
   EXPECT_EQ(r, 0);
   EXPECT_STREQ(name, "my db");
   EXPECT_STREQ(server, "h2");
}

TEST_F(LoaderTest, ErrorsNameFileLineAndKey)
{
   struct
   {
      std::string text, err;
   } cases[] = {
      { "DBPasword = x\n", "FILE:1: unknown key \"DBPasword\"\n" },
      { "\nDBName\n", "FILE:2: line is not \"Key = Value\"\n" },
      { "DBServer = 12345678\n", "FILE:1: value of \"DBServer\" is too long (8 characters, at most 7)\n" },
   };
   for (const auto &c : cases)
   {
      int r = 0;
      EXPECT_EQ(Load(c.text, 1, &r), c.err);
      EXPECT_NE(r, 0) << c.text;
   }
   int r = 0;
   EXPECT_EQ(Load("DBPasword = x\nDBServer = 12345678\n", 0, &r), "");
   EXPECT_EQ(r, 0);
   EXPECT_STREQ(server, "1234567");
}

TEST_F(LoaderTest, MissingFileFails)
{
   testing::internal::CaptureStderr();
   EXPECT_NE(VlLoadConfig("/nonexistent/velmord.conf", "", tmpl, 1), 0);
   EXPECT_NE(testing::internal::GetCapturedStderr().find("/nonexistent/velmord.conf"), std::string::npos);
}

// Field readers and transactions on a real SQLite file through the library.
struct SqliteLibraryTest : ::testing::Test
{
   db_handle_t h = nullptr;
   std::string path;
   void SetUp() override
   {
      path = vt::TempDir() + "/lib.db";
      setenv("VLDBMGR_DRIVER_DIR", (vt::ToolPath().substr(0, vt::ToolPath().rfind('/'))).c_str(), 1);
      strcpy(g_szDbDriver, "sqlite");
      strcpy(g_szDbName, path.c_str());
      ASSERT_NE(DBInit(0, 0, 0, nullptr), 0);
      h = DBConnect();
      ASSERT_NE(h, nullptr);
   }
   void TearDown() override
   {
      DBDisconnect(h);
      DBUnloadDriver();
   }
};

TEST_F(SqliteLibraryTest, FieldReaders)
{
   char err[DBDRV_MAX_ERROR_TEXT];
   ASSERT_NE(DBQueryEx(h, "CREATE TABLE t (a varchar(20), b integer)", err), 0) << err;
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES ('-2147483648', NULL), ('4294967295', 7), ('10.0.0.1', 12),"
                        "('300.1.1.1', 1), ('0x10', 2), ('12abc', 3)"),
             0);
   db_result_t r = DBSelect(h, "SELECT a, b FROM t ORDER BY rowid");
   ASSERT_NE(r, nullptr);
   ASSERT_EQ(DBGetNumRows(r), 6);
   char buf[8];
   EXPECT_STREQ(DBGetField(r, 0, 0, buf, sizeof(buf)), "-214748");
   EXPECT_STREQ(DBGetField(r, 0, 1, buf, sizeof(buf)), "");
   EXPECT_STREQ(DBGetField(r, 9, 0, buf, sizeof(buf)), "");
   EXPECT_EQ(DBGetFieldLong(r, 0, 0), INT32_MIN);
   EXPECT_EQ(DBGetFieldULong(r, 0, 0), 2147483648u);
   EXPECT_EQ(DBGetFieldULong(r, 1, 0), 4294967295u);
   EXPECT_EQ(DBGetFieldLong(r, 1, 0), INT32_MAX);   // out of range: the nearest limit, no wrap-round
   EXPECT_EQ(DBGetFieldLong(r, 0, 1), 0);
   EXPECT_EQ(DBGetFieldIPAddr(r, 2, 0), 0x0A000001u);
   EXPECT_EQ(DBGetFieldIPAddr(r, 3, 0), 0u);
   EXPECT_EQ(DBGetFieldIPAddr(r, 0, 1), 0u);
   EXPECT_EQ(DBGetFieldLong(r, 4, 0), 0);
   EXPECT_EQ(DBGetFieldLong(r, 5, 0), 12);
   DBFreeResult(r);

   EXPECT_EQ(DBSelect(h, "SELECT nothing FROM nowhere"), nullptr);
   EXPECT_EQ(DBQueryEx(h, "INSERT INTO nowhere VALUES (1)", err), 0);
   EXPECT_STREQ(err, "no such table: nowhere");
}

TEST_F(SqliteLibraryTest, TransactionsCommitAndRollBack)
{
   ASSERT_NE(DBQuery(h, "CREATE TABLE t (a integer)"), 0);
   ASSERT_NE(DBBegin(h), 0);
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (1)"), 0);
   ASSERT_NE(DBRollback(h), 0);
   ASSERT_NE(DBBegin(h), 0);
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (2)"), 0);
   ASSERT_NE(DBCommit(h), 0);
   db_result_t r = DBSelect(h, "SELECT a FROM t");
   ASSERT_EQ(DBGetNumRows(r), 1);
   EXPECT_EQ(DBGetFieldLong(r, 0, 0), 2);
   DBFreeResult(r);
   EXPECT_EQ(DBCommit(h), 0);
}

}  // namespace
