/*
 * reindex.cpp - the reindex command: drop and recreate a fixed list of
 * single-column indexes on the server's log and data tables.
 *
 * Works only on a database of the current format version that no server
 * holds locked.  No transaction is opened: each drop and each create stands
 * as soon as it has run, and a failed create does not stop the list.
 */
#include "../vldbmgr.h"

/* Size of the buffer each statement of one index is composed in. */
#define REINDEX_STATEMENT_SIZE 1024

/* One index of the rebuild list. */
typedef struct
{
   const char *pszIndex;    /* index name */
   const char *pszTable;    /* table it belongs to */
   const char *pszColumn;   /* the one column it covers */
   int bSkipOnOracle;       /* left out on an Oracle database */
} ReindexEntry;

/* The indexes, in the order of rebuilding. */
static const ReindexEntry s_reindexList[] =
{
   /* index                              table               column             Oracle */
   { "idx_raw_dci_values_item_id",       "raw_dci_values",   "item_id",         1 },
   { "idx_event_log_event_timestamp",    "event_log",        "event_timestamp", 0 },
   { "idx_thresholds_item_id",           "thresholds",       "item_id",         0 },
   { "idx_thresholds_sequence",          "thresholds",       "sequence_number", 0 },
   { "idx_alarm_change_log_alarm_id",    "alarm_change_log", "alarm_id",        0 },
   { "idx_alarm_notes_alarm_id",         "alarm_notes",      "alarm_id",        0 },
   { "idx_syslog_msg_timestamp",         "syslog",           "msg_timestamp",   0 },
   { "idx_snmp_trap_log_trap_timestamp", "snmp_trap_log",    "trap_timestamp",  0 },
   { "idx_address_lists_list_type",      "address_lists",    "list_type",       0 },
};

/*
 * RebuildIndex - drop pszIndex and create it again on pszTable(pszColumn).
 * The drop is sent directly: it is not traced and its failure (an index
 * that does not exist yet) is silent.  The create goes through ExecQuery.
 * Returns non-zero when the create succeeded.
 */
int RebuildIndex(const char *pszIndex, const char *pszTable, const char *pszColumn)
{
   char szQuery[REINDEX_STATEMENT_SIZE];

   ConsolePrintf("Reindexing table %s by (%s)...\n", pszTable, pszColumn);

   /* MySQL names the table of the index in DROP INDEX; the others do not. */
   int bDropOk;
   if (g_nDbSyntax == DIALECT_MYSQL)
      bDropOk = FormatSql(szQuery, sizeof(szQuery), "DROP INDEX %s ON %s", pszIndex, pszTable);
   else
      bDropOk = FormatSql(szQuery, sizeof(szQuery), "DROP INDEX %s", pszIndex);
   if (bDropOk)
      DBQuery(g_hDatabase, szQuery);

   if (!FormatSql(szQuery, sizeof(szQuery), "CREATE INDEX %s ON %s(%s)", pszIndex, pszTable, pszColumn))
      return 0;
   return ExecQuery(szQuery);
}

/*
 * RunReindexCommand - the reindex command: version gate, lock test, then
 * every index of the list (the first one is left out on Oracle).
 */
void RunReindexCommand(void)
{
   if (!RequireCurrentFormatVersion())
      return;

   char szHolder[LOCK_TEXT_SIZE], szInfo[LOCK_TEXT_SIZE];
   if (ReadDatabaseLock(szHolder, szInfo))
   {
      PrintDatabaseLocked(szHolder, szInfo);
      return;
   }

   for (size_t i = 0; i < sizeof(s_reindexList) / sizeof(s_reindexList[0]); i++)
   {
      const ReindexEntry *pEntry = &s_reindexList[i];
      if (pEntry->bSkipOnOracle && (g_nDbSyntax == DIALECT_ORACLE))
         continue;
      RebuildIndex(pEntry->pszIndex, pEntry->pszTable, pEntry->pszColumn);
   }

   ConsolePrintf("Database reindexing complete.\n");
}
