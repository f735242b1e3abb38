/*
 * console.cpp - the shape of the tool's talk with the operator: the trace
 * of a statement, the single-key Y/N question, and the stage line of the
 * check command with its coloured verdict.
 */
#include "vldbmgr.h"

#include <stdlib.h>
#include <string.h>

/* Title of the current check stage (heap copy); NULL before the first stage. */
static char *g_pszStageTitle = NULL;

/* Check counters as they stood when the stage line was last printed. */
static int g_nStageFoundBase = 0;
static int g_nStageFixedBase = 0;

/* Verdict texts and colours, indexed by StageVerdict. */
static const struct
{
   const char *pszText;    /* six characters wide */
   int nColor;             /* console attribute */
} s_verdicts[] =
{
   { "PASSED", CONSOLE_LIGHT_GREEN },
   { "FIXED ", CONSOLE_YELLOW },
   { "ERROR ", CONSOLE_LIGHT_RED },
};

void ShowTrace(const char *pszQuery)
{
   ConsoleSetColor(CONSOLE_WHITE);
   ConsoleWrite(">>> ");
   ConsoleSetColor(CONSOLE_LIGHT_GREEN);
   ConsoleWriteText(pszQuery);
   ConsoleWrite("\n");
   ConsoleSetColor(CONSOLE_GREY);
}

int AskYesNo(void)
{
   if (g_bForceRepair)
   {
      ConsoleWrite("Y\n");
      return 1;
   }
   for (;;)
   {
      int nKey = ConsoleReadKey();
      // No terminal, or it reached its end: the safe answer, never a wait.
      if (nKey < 0 || nKey == 'n' || nKey == 'N')
      {
         ConsoleWrite("N\n");
         return 0;
      }
      if (nKey == 'y' || nKey == 'Y')
      {
         ConsoleWrite("Y\n");
         return 1;
      }
   }
}

void BeginCheckStage(const char *pszTitle)
{
   if (pszTitle != NULL)
   {
      char *pszCopy = strdup(pszTitle);
      if (pszCopy != NULL)
      {
         free(g_pszStageTitle);
         g_pszStageTitle = pszCopy;
      }
   }
   ConsoleSetColor(CONSOLE_WHITE);
   ConsoleWrite("*");
   ConsoleSetColor(CONSOLE_GREY);
   ConsolePrintf(" %-68s", g_pszStageTitle != NULL ? g_pszStageTitle : "");
   g_nStageFoundBase = g_nErrorsFound;
   g_nStageFixedBase = g_nErrorsFixed;
}

void EndCheckStage(void)
{
   StageVerdict nVerdict = STAGE_PASSED;
   int nNew = g_nErrorsFound - g_nStageFoundBase;
   if (nNew > 0)
   {
      int nFixed = g_nErrorsFixed - g_nStageFixedBase;
      nVerdict = nFixed == nNew ? STAGE_FIXED : STAGE_ERROR;
      // The questions were written over the stage line: the verdict goes on a fresh copy.
      BeginCheckStage(NULL);
   }
   ConsoleSetColor(CONSOLE_WHITE);
   ConsoleWrite("[");
   ConsoleSetColor(s_verdicts[nVerdict].nColor);
   ConsoleWrite(s_verdicts[nVerdict].pszText);
   ConsoleSetColor(CONSOLE_WHITE);
   ConsoleWrite("]");
   ConsoleSetColor(CONSOLE_GREY);
   ConsoleWrite("\n");
}
