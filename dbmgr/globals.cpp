/*
 * globals.cpp - the process-wide state.  main sets each of these once, in
 * its phase of the start-up; nothing else writes them.
 */
#include "vldbmgr.h"

db_handle_t g_hDatabase = NULL;            /* the one open connection */
SqlDialect g_nDbSyntax = DIALECT_MYSQL;    /* detected from the config row DBSyntax */
int g_bTraceQueries = 0;                   /* -t */
int g_bForceRepair = 0;                    /* -f */
int g_bIgnoreSqlErrors = 0;                /* -X */
const char *g_pszMySqlTableType = "";      /* -I, -M */
