/*
 * vldbmgr.h - chief header of the database manager.
 *
 * Holds the process-wide globals that main sets once, the SQL syntax type,
 * the format version this tool is built for, and the prototypes of the
 * shared routines, grouped by the file that implements them.
 */
#ifndef VLDBMGR_H
#define VLDBMGR_H

#include <stddef.h>
#include <stdint.h>
#include <vlsrv.h>
#include <velmor.h>
#include "../platform/platform.h"

/* Format version of the database schema that this tool produces and needs. */
#define TOOL_DB_VERSION 83

/* SQL syntax of the connected database, from the config row DBSyntax. */
typedef enum
{
   DIALECT_MYSQL = 0,
   DIALECT_PGSQL = 1,
   DIALECT_MSSQL = 2,
   DIALECT_ORACLE = 3,
   DIALECT_SQLITE = 4
} SqlDialect;

#define DIALECT_COUNT 5

/* Size of the error-text buffer handed to DBQueryEx. */
#define SQL_ERROR_TEXT_SIZE 1024

/* Size of the lock holder and info texts (see ReadDatabaseLock). */
#define LOCK_TEXT_SIZE 256

/*** Process-wide state, set once by main (main.cpp) ***/
extern db_handle_t g_hDatabase;            /* the one open connection */
extern SqlDialect g_nDbSyntax;             /* syntax of the connected database */
extern int g_bTraceQueries;                /* -t: echo every statement */
extern int g_bForceRepair;                 /* -f: answer yes to every question */
extern int g_bIgnoreSqlErrors;             /* -X: go on after failed upgrade statements */
extern const char *g_pszMySqlTableType;    /* -I/-M: table-type suffix on MySQL, "" by default */

/*** cfgtemplate.cpp ***/
extern char g_szCodePage[260];             /* configured code page, "ACP" by default */
extern ConfigTemplateEntry g_cfgTemplate[];/* the server configuration template */

/*** console.cpp: trace, questions and check stage lines ***/
typedef enum
{
   STAGE_PASSED = 0,
   STAGE_FIXED = 1,
   STAGE_ERROR = 2
} StageVerdict;

extern int g_nErrorsFound;                 /* problems found by the check stages */
extern int g_nErrorsFixed;                 /* problems the check stages corrected */

/* ShowTrace - echo a statement: ">>> " in white, the statement in green. */
void ShowTrace(const char *pszQuery);

/* AskYesNo - 1 for yes, 0 for no; yes at once under -f, no without a terminal. */
int AskYesNo(void);

/* BeginCheckStage - print a stage line (NULL: the current one again). */
void BeginCheckStage(const char *pszTitle);

/* EndCheckStage - print the verdict of the current stage and end the line. */
void EndCheckStage(void);

/*** sql.cpp: statement execution ***/
extern const char *g_sqlTypeNames[DIALECT_COUNT][2];  /* [dialect][0: TEXT, 1: INT64] */

/* SelectQuery - traced select; NULL on failure (shown). Caller frees the result. */
db_result_t SelectQuery(const char *pszQuery);

/* ExecQuery - traced statement; non-zero on success, 0 on failure (shown). "" is a success. */
int ExecQuery(const char *pszQuery);

/* RunSqlBatch - run a script in the batch script format; 1 on success, 0 on failure. */
int RunSqlBatch(const char *pszScript);

/* CreateTableSql - one CREATE TABLE with macros and the MySQL table-type suffix. */
int CreateTableSql(const char *pszStatement);

/*
 * FormatSql - compose a statement into a buffer of nSize bytes.  Returns 1
 * when it fits.  When it does not, nothing usable is left in the buffer, the
 * statement is reported as too long (in the same form as a failed
 * statement) and 0 is returned: the caller treats it as a failed statement
 * and must never send a cut one.
 */
int FormatSql(char *pszBuffer, size_t nSize, const char *pszFormat, ...)
   __attribute__((format(printf, 3, 4)));

/*** configtable.cpp: the config table ***/
int ReadConfigString(const char *pszName, char *pszBuffer, int nSize, const char *pszDefault);
int32_t ReadConfigInt(const char *pszName, int32_t nDefault);
uint32_t ReadConfigUInt(const char *pszName, uint32_t nDefault);
int EnsureConfigParam(const char *pszName, const char *pszValue, int bIsVisible,
                      int bNeedRestart, int bOverwrite);

/*
 * ProbeConfigValue - one of the tool's probes of its own config rows: runs
 * pszQuery (a select of var_value) directly, neither traced nor shown when
 * it fails.  Returns 1 when a row was read into pszBuffer (nSize bytes, cut
 * to fit, then decoded), 0 when there is no row, -1 when the select failed;
 * pszBuffer is left alone unless 1 is returned.
 */
int ProbeConfigValue(const char *pszQuery, char *pszBuffer, int nSize);

/*
 * ReadFormatVersion - the DBFormatVersion probe (not traced, failure silent).
 * Returns 1 when the select succeeded; *pnVersion is the stored version, or
 * 0 when the select failed or found no row.
 */
int ReadFormatVersion(int32_t *pnVersion);

/* PrintNewerFormatVersion - the message for a database newer than this tool. */
void PrintNewerFormatVersion(int32_t nVersion);

/*
 * RequireCurrentFormatVersion - the version gate of check and reindex: 1
 * when the stored version is TOOL_DB_VERSION; otherwise prints why the
 * command cannot run (an unreadable or missing version reads as 0) and
 * returns 0.
 */
int RequireCurrentFormatVersion(void);

/*** cmdfile.cpp: SQL command files ***/
int RunCommandFile(const char *pszFile);
int IsBlankText(const char *pszText);
char *SplitNextStatement(char *pszStart, char *pszEnd);

/*** commands/unlock.cpp: database lock ***/

/* ReadDatabaseLock - lock test; 1 when locked. Buffers of LOCK_TEXT_SIZE. */
int ReadDatabaseLock(char *pszHolder, char *pszInfo);

/*
 * ConfirmForcedUnlock - ask "Do you wish to force database unlock?" for a
 * locked database and clear the lock on yes.  Returns 1 when the lock was
 * removed, 0 when the answer was no or the statement failed.
 */
int ConfirmForcedUnlock(const char *pszHolder, const char *pszInfo);

/* PrintDatabaseLocked - "Database is locked by server %s [%s]\n" (reindex). */
void PrintDatabaseLocked(const char *pszHolder, const char *pszInfo);

void RunUnlockCommand(void);

/*** commands/check.cpp, commands/checkstages.cpp ***/
void RunCheckCommand(void);
void VerifyNodeObjects(void);
void VerifyNodeChildren(const char *pszKind, const char *pszTable);
void VerifyClusterMembers(void);
void VerifyObjectTimestamps(void);
void VerifyEventPolicy(void);
char *LookupObjectName(uint32_t dwObjectId, char *pszBuffer);
int NodeExists(uint32_t dwNodeId);
int RecordExists(const char *pszQuery);

/*** commands/reindex.cpp ***/
void RunReindexCommand(void);
int RebuildIndex(const char *pszIndex, const char *pszTable, const char *pszColumn);

/*** commands/init.cpp ***/
void RunInitCommand(const char *pszFile);

/*** upgrade/upgrade.cpp ***/
void RunUpgradeCommand(void);

#endif
