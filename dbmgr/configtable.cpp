/*
 * configtable.cpp - the config table: readers of a setting as text or
 * number, EnsureConfigParam, and the format-version probe that check,
 * reindex and upgrade share.  Values are stored encoded and decoded after
 * reading; names are fixed identifiers and go into statements as they are.
 */
#include "vldbmgr.h"

#include <stdlib.h>
#include <string.h>

/* Names this long or longer are refused without a query. */
#define CONFIG_NAME_LIMIT 128

int ReadConfigString(const char *pszName, char *pszBuffer, int nSize, const char *pszDefault)
{
   if (nSize <= 0)
      return 0;
   strncpy(pszBuffer, pszDefault, (size_t)nSize - 1);
   pszBuffer[nSize - 1] = 0;
   if (strlen(pszName) >= CONFIG_NAME_LIMIT)
      return 0;

   char szQuery[256];
   if (!FormatSql(szQuery, sizeof(szQuery), "SELECT var_value FROM config WHERE var_name='%s'", pszName))
      return 0;
   db_result_t hResult = SelectQuery(szQuery);
   if (hResult == NULL)
      return 0;
   int bResult = 0;
   if (DBGetNumRows(hResult) > 0)
   {
      DBGetField(hResult, 0, 0, pszBuffer, nSize);
      DecodeSQLString(pszBuffer);
      bResult = 1;
   }
   DBFreeResult(hResult);
   return bResult;
}

int32_t ReadConfigInt(const char *pszName, int32_t nDefault)
{
   char szText[64];
   if (ReadConfigString(pszName, szText, sizeof(szText), "") != 1)
      return nDefault;
   // Beyond 32 bits the value stops at the nearest limit, as the database
   // library's readers do, instead of wrapping round into a plausible number.
   long long nValue = strtoll(szText, NULL, 0);
   if (nValue > INT32_MAX)
      return INT32_MAX;
   if (nValue < INT32_MIN)
      return INT32_MIN;
   return (int32_t)nValue;
}

uint32_t ReadConfigUInt(const char *pszName, uint32_t nDefault)
{
   char szText[64];
   if (ReadConfigString(pszName, szText, sizeof(szText), "") != 1)
      return nDefault;
   return (uint32_t)strtoul(szText, NULL, 0);
}

int EnsureConfigParam(const char *pszName, const char *pszValue, int bIsVisible, int bNeedRestart, int bOverwrite)
{
   char szQuery[1024];
   int bExists = 0;
   if (FormatSql(szQuery, sizeof(szQuery), "SELECT var_value FROM config WHERE var_name='%s'", pszName))
   {
      db_result_t hResult = DBSelect(g_hDatabase, szQuery);
      if (hResult != NULL)
      {
         bExists = DBGetNumRows(hResult) > 0;
         DBFreeResult(hResult);
      }
   }
   else
   {
      return 0;
   }
   if (bExists && !bOverwrite)
      return 1;

   char *pszEncoded = EncodeSQLString(pszValue);
   if (pszEncoded == NULL)
   {
      ConsolePrintf("Out of memory while encoding the value of %s\n", pszName);
      return 0;
   }
   int bFits;
   if (bExists)
      bFits = FormatSql(szQuery, sizeof(szQuery), "UPDATE config SET var_value='%s' WHERE var_name='%s'",
                        pszEncoded, pszName);
   else
      bFits = FormatSql(szQuery, sizeof(szQuery),
                        "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('%s','%s',%d,%d)",
                        pszName, pszEncoded, bIsVisible, bNeedRestart);
   free(pszEncoded);
   return bFits ? ExecQuery(szQuery) : 0;
}

int ProbeConfigValue(const char *pszQuery, char *pszBuffer, int nSize)
{
   db_result_t hResult = DBSelect(g_hDatabase, pszQuery);
   if (hResult == NULL)
      return -1;
   int nResult = 0;
   if (DBGetNumRows(hResult) > 0)
   {
      DBGetField(hResult, 0, 0, pszBuffer, nSize);
      DecodeSQLString(pszBuffer);
      nResult = 1;
   }
   DBFreeResult(hResult);
   return nResult;
}

int ReadFormatVersion(int32_t *pnVersion)
{
   *pnVersion = 0;
   db_result_t hResult = DBSelect(g_hDatabase, "SELECT var_value FROM config WHERE var_name='DBFormatVersion'");
   if (hResult == NULL)
      return 0;
   if (DBGetNumRows(hResult) > 0)
      *pnVersion = DBGetFieldLong(hResult, 0, 0);
   DBFreeResult(hResult);
   return 1;
}

void PrintNewerFormatVersion(int32_t nVersion)
{
   ConsolePrintf("Your database has format version %d, this tool is compiled for version %d.\n"
                 "You need to upgrade your server before using this database.\n",
                 (int)nVersion, TOOL_DB_VERSION);
}

int RequireCurrentFormatVersion(void)
{
   int32_t nVersion = 0;
   ReadFormatVersion(&nVersion);
   if (nVersion < TOOL_DB_VERSION)
   {
      ConsolePrintf("Your database has format version %d, this tool is compiled for version %d.\n"
                    "Use \"upgrade\" command to upgrade your database first.\n",
                    (int)nVersion, TOOL_DB_VERSION);
      return 0;
   }
   if (nVersion > TOOL_DB_VERSION)
   {
      PrintNewerFormatVersion(nVersion);
      return 0;
   }
   return 1;
}
