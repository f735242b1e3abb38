/*
 * fuzz_batch.cpp - the batch-script runner, RunSqlBatch, on an in-memory
 * SQLite database through the real sqlite driver, with -t on so that every
 * line it sends is echoed and can be counted.
 *
 * Input: the first byte chooses -X (bit 0) and the syntax (bits 1-3, modulo
 * 5, for the type macros); the rest is the script.  Scripts that could
 * reach outside the process (ATTACH, VACUUM INTO, PRAGMA) or run without
 * end (RECURSIVE) are skipped, as are lines that begin with ">", which
 * would read like the trace marker.
 *
 * Invariants: the result is 0 or 1; the lines sent are exactly the script's
 * lines up to the first "<END>", in order, each after macro replacement
 * (and traced with its control characters shown visibly),
 * all of them under -X (result 1), and without -X all of them (result 1)
 * or those up to the first failure, which is shown last (result 0).
 */
#include "fuzz.h"

#include <strings.h>

#include <vector>

#include "vldbmgr.h"

namespace fuzzbatch {

bool ContainsWord(const std::string &s, const char *pszWord)
{
   size_t n = strlen(pszWord);
   for (size_t i = 0; i + n <= s.size(); i++)
      if (strncasecmp(s.data() + i, pszWord, n) == 0)
         return true;
   return false;
}

void ReplaceAll(std::string *pText, const std::string &from, const std::string &to)
{
   size_t pos = 0;
   while ((pos = pText->find(from, pos)) != std::string::npos)
   {
      pText->replace(pos, from.size(), to);
      pos += to.size();
   }
}

/* A line as the trace shows it: control characters other than tab and
   carriage return made visible ("^B"), as the console layer does. */
std::string Shown(const std::string &line)
{
   std::string out;
   for (unsigned char ch : line)
   {
      if (ch == '\t' || ch == '\r' || (ch >= 0x20 && ch != 0x7F))
         out += (char)ch;
      else if (ch == 0x7F)
         out += "^?";
      else
      {
         out += '^';
         out += (char)(ch + 0x40);
      }
   }
   return out;
}

/* The lines that RunSqlBatch must send, in order. */
std::vector<std::string> ExpectedLines(std::string script, SqlDialect nSyntax)
{
   ReplaceAll(&script, "$SQL:TEXT", g_sqlTypeNames[nSyntax][0]);
   ReplaceAll(&script, "$SQL:INT64", g_sqlTypeNames[nSyntax][1]);
   std::vector<std::string> lines;
   size_t pos = 0;
   for (;;)
   {
      size_t nl = script.find('\n', pos);
      std::string line = script.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
      if (line == "<END>")
         break;
      lines.push_back(line);
      if (nl == std::string::npos)
         break;
      pos = nl + 1;
   }
   return lines;
}

bool Connect()
{
   // Loads the driver once; later calls find it loaded.
   strcpy(g_szDbDriver, "sqlite");
   if (!DBInit(0, 0, 0, nullptr))
      return false;
   strcpy(g_szDbName, ":memory:");
   g_hDatabase = DBConnect();
   if (g_hDatabase == nullptr)
      return false;
   return DBQuery(g_hDatabase, "CREATE TABLE t (a integer, b varchar(255))") != 0;
}

int FuzzBatchRunner(const uint8_t *pData, size_t nSize)
{
   if (nSize < 1)
      return 0;
   std::string script((const char *)pData + 1, strnlen((const char *)pData + 1, nSize - 1));
   if (ContainsWord(script, "attach") || ContainsWord(script, "vacuum") || ContainsWord(script, "pragma") ||
       ContainsWord(script, "recursive"))
      return 0;
   if (!script.empty() && script[0] == '>')
      return 0;
   if (script.find("\n>") != std::string::npos)
      return 0;

   db_handle_t hSaved = g_hDatabase;
   SqlDialect nSavedSyntax = g_nDbSyntax;
   int bSavedTrace = g_bTraceQueries, bSavedIgnore = g_bIgnoreSqlErrors;
   if (!Connect())
   {
      if (g_hDatabase != nullptr)
         DBDisconnect(g_hDatabase);
      g_hDatabase = hSaved;
      FUZZ_CHECK(!"cannot open an in-memory SQLite database through the driver");
      return 0;
   }
   g_bIgnoreSqlErrors = pData[0] & 1;
   g_nDbSyntax = (SqlDialect)(((pData[0] >> 1) & 7) % DIALECT_COUNT);
   g_bTraceQueries = 1;

   std::vector<std::string> expected = ExpectedLines(script, g_nDbSyntax);

   FuzzStdoutCapture capture;
   capture.Begin();
   int nResult = RunSqlBatch(script.c_str());
   std::string out = capture.End();

   // Count the trace lines, in order.
   size_t nSent = 0;
   size_t pos = 0;
   while (pos < out.size())
   {
      size_t nl = out.find('\n', pos);
      std::string line = out.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
      if (nSent < expected.size() && line == ">>> " + Shown(expected[nSent]))
         nSent++;
      else
         FUZZ_CHECK(line.compare(0, 4, ">>> ") != 0);
      if (nl == std::string::npos)
         break;
      pos = nl + 1;
   }

   FUZZ_CHECK(nResult == 0 || nResult == 1);
   if (g_bIgnoreSqlErrors || nResult == 1)
   {
      FUZZ_CHECK(nResult == 1);
      FUZZ_CHECK(nSent == expected.size());
   }
   else
   {
      FUZZ_CHECK(nSent >= 1 && nSent <= expected.size());
      if (nSent >= 1)
      {
         const std::string tail = "\n" + Shown(expected[nSent - 1]) + "\n";
         FUZZ_CHECK(out.size() >= tail.size() && out.compare(out.size() - tail.size(), tail.size(), tail) == 0);
         FUZZ_CHECK(out.find("SQL query failed (") != std::string::npos);
      }
   }

   DBDisconnect(g_hDatabase);
   g_hDatabase = hSaved;
   g_nDbSyntax = nSavedSyntax;
   g_bTraceQueries = bSavedTrace;
   g_bIgnoreSqlErrors = bSavedIgnore;
   return 0;
}

}  // namespace fuzzbatch

VL_FUZZ_ENTRY(fuzzbatch::FuzzBatchRunner)
