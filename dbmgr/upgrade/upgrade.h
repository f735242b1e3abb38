/*
 * upgrade.h - the upgrade driver's step table and the step runner shared by
 * every step routine.
 *
 * A step routine UpgradeStepN moves the database from format version N to
 * N+1 inside the transaction that RunUpgradeCommand opened for it.  Most
 * steps are nothing but a constant list of operations handed to
 * RunUpgradeStep, which applies the failure rule to every operation and ends
 * with the statement that stores the new version:
 *
 *    int UpgradeStep48(void)
 *    {
 *       static const UpgradeOp ops[] = {
 *          OP_BATCH("ALTER TABLE items ADD all_thresholds integer\n"
 *                   "UPDATE items SET all_thresholds=0\n"
 *                   "<END>"),
 *       };
 *       return RunUpgradeStep(ops, OP_COUNT(ops), 49);
 *    }
 *
 * Failure rule: an operation that fails ends the step with 0 at once unless
 * g_bIgnoreSqlErrors (-X) is set; then the step goes on with the next one.
 * The statement that failed has already been shown by the routine that ran
 * it, so the runner prints nothing of its own.
 */
#ifndef VLDBMGR_UPGRADE_H
#define VLDBMGR_UPGRADE_H

#include "../vldbmgr.h"

/* One record of the step table: the from-version and its routine. */
typedef struct UpgradeStepRecord
{
   int32_t nVersion;               /* version the routine starts from; 0 ends the table */
   int (*pfnUpgrade)(void);        /* non-zero on success */
} UpgradeStepRecord;

/* Records for every version from 14 to 82, then { 0, NULL }. */
extern const UpgradeStepRecord g_upgradeSteps[];

/* A config row that a step creates (or overwrites) with EnsureConfigParam. */
typedef struct ConfigParamRow
{
   const char *pszName;            /* var_name */
   const char *pszValue;           /* default value, plain text (encoded on write) */
   int bIsVisible;                 /* is_visible */
   int bNeedRestart;               /* need_server_restart */
   int bOverwrite;                 /* 1: replace an existing value */
} ConfigParamRow;

/*
 * An event template row.  The statement is the operation's form (e.g.
 * "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES (")
 * followed by the values, separated by commas without blanks, texts between
 * single quotes, and ")".  Texts are written exactly as they stand (they are
 * already in the encoded form where they need to be).
 */
typedef struct EventTemplateRow
{
   uint32_t dwCode;                /* event code, written with %u */
   const char *pszName;
   int nSeverity;
   int nFlags;
   const char *pszMessage;
   const char *pszDescription;     /* whole description, lines joined by #0D#0A */
} EventTemplateRow;

/*
 * An object tool row.  A NULL pszMatchingOid or pszConfirmationText leaves
 * that value out of the statement, for the older forms of the INSERT that
 * lack the column; the operation's form must name the same columns.
 */
typedef struct ObjectToolRow
{
   int nToolId;
   const char *pszName;
   int nType;
   const char *pszData;
   int nFlags;
   const char *pszMatchingOid;     /* NULL: column not in the form */
   const char *pszDescription;
   const char *pszConfirmationText;/* NULL: column not in the form */
} ObjectToolRow;

/* An object tool column row: (tool_id,col_number,col_name,col_oid,col_format,col_substr). */
typedef struct ToolColumnRow
{
   int nToolId;
   int nColumn;
   const char *pszName;
   const char *pszOid;
   int nFormat;
   int nSubstr;
} ToolColumnRow;

/* An object-id mapping row: (pair_id,snmp_oid,node_type,node_flags). */
typedef struct OidToTypeRow
{
   int nPairId;
   const char *pszOid;
   int nNodeType;
   int nNodeFlags;
} OidToTypeRow;

/* Kinds of operation of a step. */
typedef enum
{
   UOP_EXEC,          /* pszText: one statement through ExecQuery */
   UOP_BATCH,         /* pszText: a script in the batch format, through RunSqlBatch */
   UOP_CREATE_TABLE,  /* pszText: one CREATE TABLE through CreateTableSql */
   UOP_CONFIG,        /* pRows: ConfigParamRow[nRows], one EnsureConfigParam each */
   UOP_EVENTS,        /* pszText: INSERT form; pRows: EventTemplateRow[nRows], as one script */
   UOP_TOOLS,         /* pszText: INSERT form; pRows: ObjectToolRow[nRows], as one script */
   UOP_TOOL_COLUMNS,  /* pszText: INSERT form; pRows: ToolColumnRow[nRows], as one script */
   UOP_OIDS,          /* pszText: INSERT form; pRows: OidToTypeRow[nRows], as one script */
   UOP_ROUTINE        /* pfnRoutine: a routine of the step's own; non-zero on success */
} UpgradeOpKind;

/* One operation of a step. */
typedef struct UpgradeOp
{
   UpgradeOpKind nKind;
   const char *pszText;            /* statement, script or INSERT form */
   const void *pRows;              /* table of rows for the row kinds */
   int nRows;                      /* number of rows in pRows */
   int (*pfnRoutine)(void);        /* for UOP_ROUTINE */
} UpgradeOp;

#define OP_COUNT(a) ((int)(sizeof(a) / sizeof((a)[0])))

#define OP_EXEC(sql)            { UOP_EXEC, (sql), NULL, 0, NULL }
#define OP_BATCH(script)        { UOP_BATCH, (script), NULL, 0, NULL }
#define OP_CREATE_TABLE(sql)    { UOP_CREATE_TABLE, (sql), NULL, 0, NULL }
#define OP_CONFIG(rows)         { UOP_CONFIG, NULL, (rows), OP_COUNT(rows), NULL }
#define OP_EVENTS(form, rows)   { UOP_EVENTS, (form), (rows), OP_COUNT(rows), NULL }
#define OP_TOOLS(form, rows)    { UOP_TOOLS, (form), (rows), OP_COUNT(rows), NULL }
#define OP_TOOL_COLUMNS(form, rows) { UOP_TOOL_COLUMNS, (form), (rows), OP_COUNT(rows), NULL }
#define OP_OIDS(form, rows)     { UOP_OIDS, (form), (rows), OP_COUNT(rows), NULL }
#define OP_ROUTINE(fn)          { UOP_ROUTINE, NULL, NULL, 0, (fn) }

/* The usual INSERT forms. */
#define FORM_EVENT_CFG   "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) VALUES ("
#define FORM_OBJECT_TOOL "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description,confirmation_text) VALUES ("
#define FORM_TOOL_COLUMN "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES ("
#define FORM_OID_TO_TYPE "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES ("

/*
 * RunUpgradeOps - run a list of operations under the failure rule.
 * Returns 1 when the list ran to its end (every operation succeeded, or -X
 * was set), 0 when an operation failed without -X.
 */
int RunUpgradeOps(const UpgradeOp *pOps, int nOps);

/*
 * SetFormatVersion - the final operation of every step:
 * "UPDATE config SET var_value='N' WHERE var_name='DBFormatVersion'".
 * Returns the result of ExecQuery.
 */
int SetFormatVersion(int nVersion);

/*
 * RunUpgradeStep - RunUpgradeOps, then SetFormatVersion(nNewVersion), both
 * under the failure rule.  Returns 1 on success, 0 when the step failed.
 */
int RunUpgradeStep(const UpgradeOp *pOps, int nOps, int nNewVersion);

/*
 * StepFailed - the failure rule for a routine of a step's own: given the
 * result of an operation, returns 1 when the step must end now (the
 * operation failed and -X is not set), 0 when it goes on.
 */
int StepFailed(int bSuccess);

/*
 * A rebuild selects the old rows, drops the table, creates it anew and
 * inserts the rows again.  Between the DROP and the last INSERT the rows
 * exist only in the result set.  On SQLite and PostgreSQL a failed step is
 * rolled back with the old table and all its rows.  MySQL commits at the
 * DROP, so there the rows are first written to a file of INSERT statements
 * (in the format of the batch command) that stays, with its path printed,
 * whenever the table did not get every row back.
 */
typedef struct TableRebuild
{
   const char *pszTable;           /* table name, for messages and the file name */
   const char *pszSelect;          /* the old rows */
   int bSkipWhenUnreadable;        /* under -X a failed select: 1 keep the table, 0 rebuild it empty */
   const char *pszDrop;
   const char *pszCreate;          /* the new table */
   int bCreateWithoutSuffix;       /* 1: pszCreate runs through ExecQuery (no MySQL table type) */
   /* Composes the INSERT of row iRow as snprintf does (result: the length
      it needs); *pnState carries numbering from row to row, starting at 0. */
   int (*pfnComposeRow)(db_result_t hResult, int iRow, int *pnState, char *pszBuffer, size_t nSize);
} TableRebuild;

/* Size of the statement buffers of the rebuilds. */
#define REBUILD_QUERY_SIZE 1024

/* Stored texts are read into buffers of this size (see ComposeDciScheduleRow). */
#define REBUILD_TEXT_SIZE 1024

/* Room for any composed row: two texts, each with every character doubled. */
#define REBUILD_ROW_SIZE (4 * REBUILD_TEXT_SIZE + 256)

/*
 * DoubleSingleQuotes - copy a stored text for use between single quotes,
 * doubling every single quote (and on MySQL every backslash), so that a
 * damaged value cannot end the literal.  A properly encoded value is copied
 * unchanged.  pszDest must hold 2 * strlen(pszSource) + 1 bytes.
 */
void DoubleSingleQuotes(char *pszDest, const char *pszSource);

/*
 * RebuildTable - select, drop, create and refill one table under the
 * failure rule.  On MySQL, which commits at the DROP, the old rows are first
 * saved to a file of INSERT statements that stays (its path printed) unless
 * every row got back.  Under -X rows that could not be copied back are
 * counted in a warning.  Returns 0 when the step must end.
 */
int RebuildTable(const TableRebuild *pRebuild);

/* The step routines, one per from-version. */
int UpgradeStep14(void); int UpgradeStep15(void); int UpgradeStep16(void);
int UpgradeStep17(void); int UpgradeStep18(void); int UpgradeStep19(void);
int UpgradeStep20(void); int UpgradeStep21(void); int UpgradeStep22(void);
int UpgradeStep23(void); int UpgradeStep24(void); int UpgradeStep25(void);
int UpgradeStep26(void); int UpgradeStep27(void); int UpgradeStep28(void);
int UpgradeStep29(void); int UpgradeStep30(void); int UpgradeStep31(void);
int UpgradeStep32(void); int UpgradeStep33(void); int UpgradeStep34(void);
int UpgradeStep35(void); int UpgradeStep36(void); int UpgradeStep37(void);
int UpgradeStep38(void); int UpgradeStep39(void); int UpgradeStep40(void);
int UpgradeStep41(void); int UpgradeStep42(void); int UpgradeStep43(void);
int UpgradeStep44(void); int UpgradeStep45(void); int UpgradeStep46(void);
int UpgradeStep47(void); int UpgradeStep48(void); int UpgradeStep49(void);
int UpgradeStep50(void); int UpgradeStep51(void); int UpgradeStep52(void);
int UpgradeStep53(void); int UpgradeStep54(void); int UpgradeStep55(void);
int UpgradeStep56(void); int UpgradeStep57(void); int UpgradeStep58(void);
int UpgradeStep59(void); int UpgradeStep60(void); int UpgradeStep61(void);
int UpgradeStep62(void); int UpgradeStep63(void); int UpgradeStep64(void);
int UpgradeStep65(void); int UpgradeStep66(void); int UpgradeStep67(void);
int UpgradeStep68(void); int UpgradeStep69(void); int UpgradeStep70(void);
int UpgradeStep71(void); int UpgradeStep72(void); int UpgradeStep73(void);
int UpgradeStep74(void); int UpgradeStep75(void); int UpgradeStep76(void);
int UpgradeStep77(void); int UpgradeStep78(void); int UpgradeStep79(void);
int UpgradeStep80(void); int UpgradeStep81(void); int UpgradeStep82(void);

#endif
