/*
 * rebuild.cpp - table rebuilds of the upgrade steps that change a table's
 * key (17 to 18, 76 to 77, 80 to 81): the old rows are selected, the table
 * is dropped and created anew, and the rows go back in.  Also the copy of
 * a stored text for use between single quotes.
 */
#include "upgrade.h"
#include <stdio.h>
#include <string.h>
#include <unistd.h>

/*
 * DoubleSingleQuotes - copy a stored text for use between single quotes,
 * doubling every single quote so that a damaged value cannot end the
 * literal; on MySQL, where a backslash escapes the character after it
 * inside a literal, backslashes are doubled too.  A properly encoded value
 * holds neither and is copied unchanged.  pszDest must hold
 * 2 * strlen(pszSource) + 1 bytes.
 */
void DoubleSingleQuotes(char *pszDest, const char *pszSource)
{
   for (; *pszSource != 0; pszSource++)
   {
      if ((*pszSource == '\'') || ((*pszSource == '\\') && (g_nDbSyntax == DIALECT_MYSQL)))
         *pszDest++ = *pszSource;
      *pszDest++ = *pszSource;
   }
   *pszDest = 0;
}

/*
 * SaveRowsForRecovery - MySQL only: write the INSERT of every row, one per
 * line and closed by ";", to a new file in the current folder (or in /tmp
 * when that cannot be written).  Returns the open file, its path in pszPath, or
 * NULL (with a warning) when no file could be made.
 */
static FILE *SaveRowsForRecovery(const TableRebuild *pRebuild, db_result_t hResult, char *pszPath, size_t nPathSize)
{
   char szCurrentDir[256];
   const char *apszDirs[2] = { getcwd(szCurrentDir, sizeof(szCurrentDir)), "/tmp" };
   FILE *pFile = NULL;
   char szRow[REBUILD_ROW_SIZE];

   for (int i = 0; (i < 2) && (pFile == NULL); i++)
   {
      if (apszDirs[i] == NULL)
         continue;
      int nLength = snprintf(pszPath, nPathSize, "%s/vldbmgr-%s-%d.sql", apszDirs[i], pRebuild->pszTable, (int)getpid());
      if ((nLength > 0) && ((size_t)nLength < nPathSize))
         pFile = fopen(pszPath, "wx");
   }
   if (pFile == NULL)
   {
      ConsolePrintf("WARNING: the rows of table %s could not be saved to a file before it is rebuilt\n",
                    pRebuild->pszTable);
      return NULL;
   }

   int nState = 0;
   int bWritten = 1;
   int nRows = DBGetNumRows(hResult);
   for (int i = 0; i < nRows; i++)
   {
      int nLength = pRebuild->pfnComposeRow(hResult, i, &nState, szRow, sizeof(szRow));
      if ((nLength < 0) || ((size_t)nLength >= sizeof(szRow)) || (fprintf(pFile, "%s;\n", szRow) < 0))
         bWritten = 0;
   }
   if (fflush(pFile) != 0)
      bWritten = 0;
   if (!bWritten)
      ConsolePrintf("WARNING: not every row of table %s could be saved to %s\n", pRebuild->pszTable, pszPath);
   return pFile;
}

/*
 * FinishRecoveryFile - close the file of SaveRowsForRecovery; remove it when
 * every row is back in the table, otherwise keep it and say where it is.
 */
static void FinishRecoveryFile(FILE *pFile, const char *pszPath, const char *pszTable, int bAllCopied)
{
   if (pFile == NULL)
      return;
   fclose(pFile);
   if (bAllCopied)
   {
      remove(pszPath);
      return;
   }
   ConsolePrintf("The rows of table %s as they were before this step are saved in %s\n", pszTable, pszPath);
}

/*
 * RebuildTable - select, drop, create and refill one table.  Returns 0 when
 * the step must end (a failure without -X); under -X every failure is
 * shown and the work goes on, and rows that could not be copied back are
 * counted in a warning.  The result set is released on every path.
 */
int RebuildTable(const TableRebuild *pRebuild)
{
   char szRow[REBUILD_ROW_SIZE];
   char szQuery[REBUILD_QUERY_SIZE];
   char szPath[512];

   db_result_t hResult = SelectQuery(pRebuild->pszSelect);
   if (hResult == NULL)
   {
      if (StepFailed(0))
         return 0;
      if (pRebuild->bSkipWhenUnreadable)
         return 1;
   }

   FILE *pRecovery = NULL;
   if ((g_nDbSyntax == DIALECT_MYSQL) && (hResult != NULL))
      pRecovery = SaveRowsForRecovery(pRebuild, hResult, szPath, sizeof(szPath));

   int bDropped = ExecQuery(pRebuild->pszDrop);
   if (StepFailed(bDropped) ||
       StepFailed(pRebuild->bCreateWithoutSuffix ? ExecQuery(pRebuild->pszCreate) : CreateTableSql(pRebuild->pszCreate)))
   {
      FinishRecoveryFile(pRecovery, szPath, pRebuild->pszTable, 0);
      DBFreeResult(hResult);
      return 0;
   }

   int nRows = DBGetNumRows(hResult);
   int nLost = 0;
   int nState = 0;
   for (int i = 0; i < nRows; i++)
   {
      int nLength = pRebuild->pfnComposeRow(hResult, i, &nState, szRow, sizeof(szRow));
      int bCopied = (nLength >= 0) && ((size_t)nLength < sizeof(szRow)) &&
                    FormatSql(szQuery, sizeof(szQuery), "%s", szRow) && ExecQuery(szQuery);
      if (!bCopied)
      {
         if (StepFailed(0))
         {
            FinishRecoveryFile(pRecovery, szPath, pRebuild->pszTable, 0);
            DBFreeResult(hResult);
            return 0;
         }
         nLost++;
      }
   }
   DBFreeResult(hResult);
   if (nLost > 0)
      ConsolePrintf("WARNING: %d of %d rows of table %s could not be copied back and are lost\n",
                    nLost, nRows, pRebuild->pszTable);
   FinishRecoveryFile(pRecovery, szPath, pRebuild->pszTable, nLost == 0);
   return 1;
}
