/*
 * cmdfile.cpp - SQL command files for the batch and init commands.
 * (Not yet written: every routine reports failure.)
 */
#include "vldbmgr.h"

int RunCommandFile(const char *pszFile)
{
   (void)pszFile;
   return 0;
}

int IsBlankText(const char *pszText)
{
   (void)pszText;
   return 1;
}

char *SplitNextStatement(char *pszStart, char *pszEnd)
{
   (void)pszStart;
   return pszEnd;
}
