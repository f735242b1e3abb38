/*
 * cmdfile.cpp - SQL command files, run by the batch and init commands.
 *
 * A command file is plain SQL: statements end at a ";" outside single-quoted
 * literals, and the line end right after that ";" belongs to it.  The whole
 * file is loaded, cut up in place and run statement by statement through
 * ExecQuery, so every statement is traced under -t and every failure is
 * shown.  The first failure stops the file; no transaction is opened, so the
 * statements that ran before it stay.
 */
#include <stdlib.h>
#include <string.h>
#include "vldbmgr.h"

/*
 * IsBlankText - 1 when pszText holds nothing but blanks, tabs, carriage
 * returns and line feeds (or nothing at all), 0 otherwise.
 */
int IsBlankText(const char *pszText)
{
   for (const char *p = pszText; *p != 0; p++)
   {
      if ((*p != ' ') && (*p != '\t') && (*p != '\r') && (*p != '\n'))
         return 0;
   }
   return 1;
}

/*
 * SplitNextStatement - end the statement that begins at pszStart, in place,
 * and return where the next one begins.  pszEnd is the end of the loaded
 * text (where its NUL stands); pszStart must lie before it.
 *
 * The statement ends at the first ";" outside a single-quoted literal, which
 * is overwritten with a NUL.  A line end ("\n" or "\r") right after that ";"
 * belongs to the terminator and is skipped; any other character already
 * belongs to the next statement and is kept.  With no such ";" the statement
 * runs to pszEnd, whole, and pszEnd is returned: there is no next one.
 */
char *SplitNextStatement(char *pszStart, char *pszEnd)
{
   int bInLiteral = 0;
   char *p;

   for (p = pszStart; p < pszEnd; p++)
   {
      if (*p == '\'')
      {
         /* A doubled quote inside a literal leaves it and enters it again. */
         bInLiteral = !bInLiteral;
      }
      else if ((*p == ';') && !bInLiteral)
      {
         *p = 0;
         p++;
         if ((p < pszEnd) && ((*p == '\n') || (*p == '\r')))
            p++;
         return p;
      }
   }
   return pszEnd;
}

/*
 * RunCommandFile - run every statement of the SQL command file pszFile.
 * Returns non-zero when at least one statement ran and none failed; 0 when
 * the file cannot be loaded, holds no statement, or a statement failed (the
 * failure has been shown, and nothing after it was sent).
 */
int RunCommandFile(const char *pszFile)
{
   uint32_t dwSize = 0;
   char *pszText = LoadFile(pszFile, &dwSize);
   if (pszText == NULL)
   {
      ConsolePrintf("ERROR: Cannot load SQL command file %s\n", pszFile);
      return 0;
   }

   /* A NUL inside the file would end a statement early, and the rest of
      it would silently never reach the database: refuse such a file. */
   if (memchr(pszText, 0, dwSize) != NULL)
   {
      ConsolePrintf("ERROR: SQL command file %s contains a NUL character\n", pszFile);
      free(pszText);
      return 0;
   }

   int nResult = 0;
   char *pszEnd = pszText + dwSize;
   char *pszPos = pszText;
   while (pszPos < pszEnd)
   {
      char *pszNext = SplitNextStatement(pszPos, pszEnd);
      if (!IsBlankText(pszPos))
      {
         nResult = ExecQuery(pszPos);
         if (nResult == 0)
            break;
      }
      pszPos = pszNext;
   }

   free(pszText);
   return nResult;
}
