/*
 * sql.cpp - statement execution: the traced and error-reporting wrappers
 * around the database library, batch scripts with the per-syntax type
 * macros, CREATE TABLE with the MySQL table-type suffix, and the bounded
 * statement formatter.
 */
#include "vldbmgr.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Type macros: [dialect][0] replaces "$SQL:TEXT", [dialect][1] "$SQL:INT64". */
const char *g_sqlTypeNames[DIALECT_COUNT][2] =
{
   { "text", "bigint" },          /* DIALECT_MYSQL */
   { "varchar", "bigint" },       /* DIALECT_PGSQL */
   { "text", "bigint" },          /* DIALECT_MSSQL */
   { "clob", "number(20)" },      /* DIALECT_ORACLE */
   { "varchar", "number(20)" },   /* DIALECT_SQLITE */
};

/* How much of an over-long statement is shown when it is refused. */
#define LONG_STATEMENT_SHOWN 200

/* The second line of every failure display: the statement in yellow.  It
   may hold text copied from rows, so control characters are shown. */
static void ShowStatementLine(const char *pszQuery)
{
   ConsoleSetColor(CONSOLE_YELLOW);
   ConsoleWriteText(pszQuery);
   ConsoleWrite("\n");
   ConsoleSetColor(CONSOLE_GREY);
}

/* The two-line display of a failed statement. */
static void ShowFailedStatement(const char *pszError, const char *pszQuery)
{
   ConsoleWrite("SQL query failed (");
   ConsoleWriteText(pszError);
   ConsoleWrite("):\n");
   ShowStatementLine(pszQuery);
}

/* Replaces the type macros of the current syntax, in place. */
static void TranslateTypeMacros(char *pszText)
{
   TranslateStr(pszText, "$SQL:TEXT", g_sqlTypeNames[g_nDbSyntax][0]);
   TranslateStr(pszText, "$SQL:INT64", g_sqlTypeNames[g_nDbSyntax][1]);
}

int FormatSql(char *pszBuffer, size_t nSize, const char *pszFormat, ...)
{
   va_list args;
   va_start(args, pszFormat);
   int nLength = vsnprintf(pszBuffer, nSize, pszFormat, args);
   va_end(args);
   if (nLength >= 0 && (size_t)nLength < nSize)
      return 1;

   // Never leave a cut statement behind for a careless caller to send.
   if (nSize > 0)
      pszBuffer[0] = 0;

   char szShown[LONG_STATEMENT_SHOWN + 4];
   va_start(args, pszFormat);
   vsnprintf(szShown, LONG_STATEMENT_SHOWN + 1, pszFormat, args);
   va_end(args);
   if (nLength > LONG_STATEMENT_SHOWN)
      strcat(szShown, "...");
   ConsolePrintf("SQL query failed (statement is too long: %d characters, the limit is %d):\n", nLength,
                 (int)nSize - 1);
   ShowStatementLine(szShown);
   return 0;
}

db_result_t SelectQuery(const char *pszQuery)
{
   if (g_bTraceQueries)
      ShowTrace(pszQuery);
   ConsoleFlush();
   db_result_t hResult = DBSelect(g_hDatabase, pszQuery);
   if (hResult == NULL)
   {
      ConsolePrintf("SQL query failed:\n");
      ShowStatementLine(pszQuery);
   }
   return hResult;
}

int ExecQuery(const char *pszQuery)
{
   if (*pszQuery == 0)
      return 1;
   if (g_bTraceQueries)
      ShowTrace(pszQuery);
   ConsoleFlush();
   char szError[SQL_ERROR_TEXT_SIZE];
   int bResult = DBQueryEx(g_hDatabase, pszQuery, szError);
   if (!bResult)
      ShowFailedStatement(szError, pszQuery);
   return bResult;
}

int RunSqlBatch(const char *pszScript)
{
   char *pszCopy = strdup(pszScript);
   if (pszCopy == NULL)
   {
      ConsolePrintf("Out of memory while preparing SQL script\n");
      return 0;
   }
   TranslateTypeMacros(pszCopy);

   char szError[SQL_ERROR_TEXT_SIZE];
   char *pszLine = pszCopy;
   while (pszLine != NULL)
   {
      char *pszNext = strchr(pszLine, '\n');
      if (pszNext != NULL)
         *pszNext++ = 0;
      if (strcmp(pszLine, "<END>") == 0)
         break;
      if (g_bTraceQueries)
         ShowTrace(pszLine);
      ConsoleFlush();
      if (!DBQueryEx(g_hDatabase, pszLine, szError))
      {
         ShowFailedStatement(szError, pszLine);
         if (!g_bIgnoreSqlErrors)
         {
            free(pszCopy);
            return 0;
         }
      }
      pszLine = pszNext;
   }
   free(pszCopy);
   return 1;
}

int CreateTableSql(const char *pszStatement)
{
   size_t nSize = strlen(pszStatement) + 256;
   char *pszQuery = (char *)malloc(nSize);
   if (pszQuery == NULL)
   {
      ConsolePrintf("Out of memory while preparing SQL statement\n");
      return 0;
   }
   strcpy(pszQuery, pszStatement);
   TranslateTypeMacros(pszQuery);
   if (g_nDbSyntax == DIALECT_MYSQL)
      strcat(pszQuery, g_pszMySqlTableType);
   int bResult = ExecQuery(pszQuery);
   free(pszQuery);
   return bResult;
}
