/*
 * steprunner.cpp - runs the operation lists of the upgrade steps.
 *
 * Row tables (event templates, object tools, tool columns, object-id
 * mappings) are turned into a script in the batch format, one INSERT per
 * row, and run through RunSqlBatch, so they are traced and fail exactly as a
 * written-out script would.
 */
#include "upgrade.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* A growing script text; bFailed is set when memory ran out. */
typedef struct ScriptText
{
   char *pszText;
   size_t nLength;
   size_t nAllocated;
   int bFailed;
} ScriptText;

static void AppendText(ScriptText *pScript, const char *pszText)
{
   size_t nAdd = strlen(pszText);
   if (pScript->bFailed)
      return;
   if (pScript->nLength + nAdd + 1 > pScript->nAllocated)
   {
      size_t nNew = (pScript->nAllocated + nAdd + 1) * 2;
      char *pNew = (char *)realloc(pScript->pszText, nNew);
      if (pNew == NULL)
      {
         pScript->bFailed = 1;
         return;
      }
      pScript->pszText = pNew;
      pScript->nAllocated = nNew;
   }
   memcpy(pScript->pszText + pScript->nLength, pszText, nAdd + 1);
   pScript->nLength += nAdd;
}

static void AppendNumber(ScriptText *pScript, long long nValue)
{
   char szNumber[32];
   snprintf(szNumber, sizeof(szNumber), "%lld", nValue);
   AppendText(pScript, szNumber);
}

/* Appends "'text'"; the text is written as it stands. */
static void AppendQuoted(ScriptText *pScript, const char *pszText)
{
   AppendText(pScript, "'");
   AppendText(pScript, pszText);
   AppendText(pScript, "'");
}

static void AppendRow(ScriptText *pScript, const UpgradeOp *pOp, int iRow)
{
   AppendText(pScript, pOp->pszText);
   switch (pOp->nKind)
   {
      case UOP_EVENTS:
      {
         const EventTemplateRow *pRow = (const EventTemplateRow *)pOp->pRows + iRow;
         AppendNumber(pScript, pRow->dwCode);
         AppendText(pScript, ",");
         AppendQuoted(pScript, pRow->pszName);
         AppendText(pScript, ",");
         AppendNumber(pScript, pRow->nSeverity);
         AppendText(pScript, ",");
         AppendNumber(pScript, pRow->nFlags);
         AppendText(pScript, ",");
         AppendQuoted(pScript, pRow->pszMessage);
         AppendText(pScript, ",");
         AppendQuoted(pScript, pRow->pszDescription);
         break;
      }
      case UOP_TOOLS:
      {
         const ObjectToolRow *pRow = (const ObjectToolRow *)pOp->pRows + iRow;
         AppendNumber(pScript, pRow->nToolId);
         AppendText(pScript, ",");
         AppendQuoted(pScript, pRow->pszName);
         AppendText(pScript, ",");
         AppendNumber(pScript, pRow->nType);
         AppendText(pScript, ",");
         AppendQuoted(pScript, pRow->pszData);
         AppendText(pScript, ",");
         AppendNumber(pScript, pRow->nFlags);
         if (pRow->pszMatchingOid != NULL)
         {
            AppendText(pScript, ",");
            AppendQuoted(pScript, pRow->pszMatchingOid);
         }
         AppendText(pScript, ",");
         AppendQuoted(pScript, pRow->pszDescription);
         if (pRow->pszConfirmationText != NULL)
         {
            AppendText(pScript, ",");
            AppendQuoted(pScript, pRow->pszConfirmationText);
         }
         break;
      }
      case UOP_TOOL_COLUMNS:
      {
         const ToolColumnRow *pRow = (const ToolColumnRow *)pOp->pRows + iRow;
         AppendNumber(pScript, pRow->nToolId);
         AppendText(pScript, ",");
         AppendNumber(pScript, pRow->nColumn);
         AppendText(pScript, ",");
         AppendQuoted(pScript, pRow->pszName);
         AppendText(pScript, ",");
         AppendQuoted(pScript, pRow->pszOid);
         AppendText(pScript, ",");
         AppendNumber(pScript, pRow->nFormat);
         AppendText(pScript, ",");
         AppendNumber(pScript, pRow->nSubstr);
         break;
      }
      case UOP_OIDS:
      {
         const OidToTypeRow *pRow = (const OidToTypeRow *)pOp->pRows + iRow;
         AppendNumber(pScript, pRow->nPairId);
         AppendText(pScript, ",");
         AppendQuoted(pScript, pRow->pszOid);
         AppendText(pScript, ",");
         AppendNumber(pScript, pRow->nNodeType);
         AppendText(pScript, ",");
         AppendNumber(pScript, pRow->nNodeFlags);
         break;
      }
      default:
         break;
   }
   AppendText(pScript, ")\n");
}

/* Runs a row table as one script; 1 on success (or under -X), 0 on failure. */
static int RunRowTable(const UpgradeOp *pOp)
{
   ScriptText script = { NULL, 0, 0, 0 };
   for (int i = 0; i < pOp->nRows; i++)
      AppendRow(&script, pOp, i);
   AppendText(&script, "<END>");
   if (script.bFailed)
   {
      free(script.pszText);
      ConsolePrintf("Out of memory while composing upgrade script\n");
      return 0;
   }
   int bResult = RunSqlBatch(script.pszText);
   free(script.pszText);
   return bResult;
}

static int RunConfigRows(const UpgradeOp *pOp)
{
   const ConfigParamRow *pRows = (const ConfigParamRow *)pOp->pRows;
   for (int i = 0; i < pOp->nRows; i++)
   {
      int bResult = EnsureConfigParam(pRows[i].pszName, pRows[i].pszValue, pRows[i].bIsVisible,
                                      pRows[i].bNeedRestart, pRows[i].bOverwrite);
      if (StepFailed(bResult))
         return 0;
   }
   return 1;
}

static int RunOneOp(const UpgradeOp *pOp)
{
   switch (pOp->nKind)
   {
      case UOP_EXEC:
         return ExecQuery(pOp->pszText);
      case UOP_BATCH:
         return RunSqlBatch(pOp->pszText);
      case UOP_CREATE_TABLE:
         return CreateTableSql(pOp->pszText);
      case UOP_CONFIG:
         return RunConfigRows(pOp);
      case UOP_EVENTS:
      case UOP_TOOLS:
      case UOP_TOOL_COLUMNS:
      case UOP_OIDS:
         return RunRowTable(pOp);
      case UOP_ROUTINE:
         return pOp->pfnRoutine();
   }
   return 0;
}

int StepFailed(int bSuccess)
{
   return !bSuccess && !g_bIgnoreSqlErrors;
}

int RunUpgradeOps(const UpgradeOp *pOps, int nOps)
{
   for (int i = 0; i < nOps; i++)
   {
      if (StepFailed(RunOneOp(&pOps[i])))
         return 0;
   }
   return 1;
}

int SetFormatVersion(int nVersion)
{
   char szQuery[256];
   if (!FormatSql(szQuery, sizeof(szQuery),
                  "UPDATE config SET var_value='%d' WHERE var_name='DBFormatVersion'", nVersion))
      return 0;
   return ExecQuery(szQuery);
}

int RunUpgradeStep(const UpgradeOp *pOps, int nOps, int nNewVersion)
{
   if (!RunUpgradeOps(pOps, nOps))
      return 0;
   if (StepFailed(SetFormatVersion(nNewVersion)))
      return 0;
   return 1;
}
