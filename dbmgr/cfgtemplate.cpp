/*
 * cfgtemplate.cpp - the server configuration template: the keys of the
 * server's configuration file that this tool knows, and where their values
 * go.  The six database keys go straight into the connection settings of the
 * database access library; five server keys are accepted and not kept.
 */
#include "vldbmgr.h"

/* Configured code page; nothing reads it after loading. */
char g_szCodePage[260] = "ACP";

/* Columns: key name, type, reserved (2), buffer size, reserved, buffer. */
ConfigTemplateEntry g_cfgTemplate[] =
{
   { "CodePage", CT_STRING, 0, 0, sizeof(g_szCodePage), 0, g_szCodePage },
   { "CreateCrashDumps", CT_IGNORE, 0, 0, 0, 0, NULL },
   { "DBDriver", CT_STRING, 0, 0, DB_DRIVER_SIZE, 0, g_szDbDriver },
   { "DBDrvParams", CT_STRING, 0, 0, DB_DRVPARAMS_SIZE, 0, g_szDbDrvParams },
   { "DBLogin", CT_STRING, 0, 0, DB_LOGIN_SIZE, 0, g_szDbLogin },
   { "DBName", CT_STRING, 0, 0, DB_NAME_SIZE, 0, g_szDbName },
   { "DBPassword", CT_STRING, 0, 0, DB_PASSWORD_SIZE, 0, g_szDbPassword },
   { "DBServer", CT_STRING, 0, 0, DB_SERVER_SIZE, 0, g_szDbServer },
   { "DumpDirectory", CT_IGNORE, 0, 0, 0, 0, NULL },
   { "LogFailedSQLQueries", CT_IGNORE, 0, 0, 0, 0, NULL },
   { "LogFile", CT_IGNORE, 0, 0, 0, 0, NULL },
   { "Module", CT_IGNORE, 0, 0, 0, 0, NULL },
   { "", CT_END, 0, 0, 0, 0, NULL }
};
