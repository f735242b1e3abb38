// Unit tests of how the database library holds a select's rows: fields of
// every length (empty, NULL, long enough for a multi-byte length, larger
// than a storage block), many rows across many blocks, and rows read back
// in any order, on a real SQLite file.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "harness.h"
#include <vlsrv.h>

namespace {

struct ResultStoreTest : ::testing::Test
{
   db_handle_t h = nullptr;
   void SetUp() override
   {
      std::string path = vt::TempDir() + "/store.db";
      setenv("VLDBMGR_DRIVER_DIR", (vt::ToolPath().substr(0, vt::ToolPath().rfind('/'))).c_str(), 1);
      strcpy(g_szDbDriver, "sqlite");
      strcpy(g_szDbName, path.c_str());
      ASSERT_NE(DBInit(0, 0, 0, nullptr), 0);
      h = DBConnect();
      ASSERT_NE(h, nullptr);
      // The file comes into being with the first write.
      ASSERT_NE(DBQuery(h, "CREATE TABLE t (id integer, v varchar)"), 0);
   }
   void TearDown() override
   {
      DBDisconnect(h);
      DBUnloadDriver();
   }
   std::string Field(db_result_t r, int row, int column)
   {
      static char buf[4 * 1024 * 1024];
      return DBGetField(r, row, column, buf, sizeof(buf));
   }
};

// Row i holds i, a text of i % 300 letters (NULL when i % 7 is 3, empty
// when i % 300 is 0) and i again: lengths cross the one-byte length limit
// of 127 and the rows fill many blocks.
TEST_F(ResultStoreTest, ManyRowsOfEveryLengthReadBackInAnyOrder)
{
   const int n = 50000;
   db_result_t r = DBSelect(h, ("WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM s WHERE i<" +
                                std::to_string(n - 1) +
                                ") SELECT i, CASE WHEN i%7=3 THEN NULL ELSE substr(replace(hex(zeroblob(300)),'0','x'),1,i%300) END, i FROM s")
                                  .c_str());
   ASSERT_NE(r, nullptr);
   ASSERT_EQ(DBGetNumRows(r), n);
   for (int k = 0; k < n; k++)
   {
      int i = (int)(((long long)k * 7919) % n);   // every row once, out of order
      ASSERT_EQ(DBGetFieldLong(r, i, 0), i);
      ASSERT_EQ(DBGetFieldLong(r, i, 2), i);
      std::string text = Field(r, i, 1);
      ASSERT_EQ(text, i % 7 == 3 ? std::string() : std::string(i % 300, 'x')) << "row " << i;
   }
   EXPECT_EQ(Field(r, n, 0), "");
   EXPECT_EQ(Field(r, -1, 0), "");
   EXPECT_EQ(Field(r, 0, 3), "");
   DBFreeResult(r);
}

// A field larger than any storage block, between small rows.
TEST_F(ResultStoreTest, OutsizedFieldsBetweenSmallRows)
{
   ASSERT_NE(DBQuery(h, "INSERT INTO t VALUES (1,'a'),(2,replace(hex(zeroblob(1500000)),'0','y')),(3,NULL),"
                        "(4,''),(5,replace(hex(zeroblob(70)),'0','z'))"),
             0);
   db_result_t r = DBSelect(h, "SELECT id, v FROM t ORDER BY id");
   ASSERT_NE(r, nullptr);
   ASSERT_EQ(DBGetNumRows(r), 5);
   EXPECT_EQ(Field(r, 0, 1), "a");
   EXPECT_EQ(Field(r, 1, 1), std::string(3000000, 'y'));
   EXPECT_EQ(DBGetFieldLong(r, 2, 0), 3);
   EXPECT_EQ(Field(r, 2, 1), "");
   EXPECT_EQ(Field(r, 3, 1), "");
   EXPECT_EQ(Field(r, 4, 1), std::string(140, 'z'));
   EXPECT_EQ(DBGetFieldLong(r, 4, 0), 5);
   DBFreeResult(r);

   // No rows, and a statement without columns.
   r = DBSelect(h, "SELECT id FROM t WHERE id > 10");
   ASSERT_NE(r, nullptr);
   EXPECT_EQ(DBGetNumRows(r), 0);
   EXPECT_EQ(Field(r, 0, 0), "");
   DBFreeResult(r);
   r = DBSelect(h, "UPDATE t SET id=id");
   ASSERT_NE(r, nullptr);
   EXPECT_EQ(DBGetNumRows(r), 0);
   DBFreeResult(r);
}

}  // namespace
