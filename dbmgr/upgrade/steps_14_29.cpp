/*
 * steps_14_29.cpp - upgrade steps from format version 14 to 30.
 *
 * Each step is an ordered list of operations run by RunUpgradeStep (see
 * upgrade.h): constant scripts in the batch format, constant tables of event
 * templates and config rows, and a few routines of their own for the steps
 * that walk rows (policy list rebuild, node flags, per-node data indexes,
 * raw DCI values, the move of the index command, the object properties).
 * Up to version 17 the event templates live in the table "events"; from
 * step 17 to 18 on they live in "event_cfg".
 */
#include "upgrade.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* The encoded line break that joins the lines of an event description. */
#define EOL "#0D#0A"

/* Description shared by the data collection threshold templates 4003 to 4011. */
#define DC_THRESHOLD_DESCRIPTION                                                   \
   "Custom data collection threshold event." EOL "Parameters:" EOL                 \
   "   1) Parameter name" EOL "   2) Item description" EOL "   3) Threshold value" \
   EOL "   4) Actual value" EOL "   5) Data collection item ID" EOL "   6) Instance"

/* Insert form of the templates while they still live in "events". */
#define FORM_EVENTS "INSERT INTO events (event_id,name,severity,flags,message,description) VALUES ("

/*
 * Local-machine defaults of the mail settings.  Step 14 to 15 writes them
 * with plain statements (so they stand here in the encoded form, which for
 * these texts is the text itself); step 16 to 17 ensures them again.
 */
#define DEFAULT_SMTP_SERVER   "localhost"
#define DEFAULT_SMTP_FROM     "root@localhost"

/* Default name of the template root when its config row is missing. */
#define DEFAULT_TEMPLATE_ROOT_NAME "Templates"

/* The per-node data indexes of steps 20 to 21 and 24 to 25, "%d" the node id. */
#define IDATA_INDEX_ITEM_ID   "CREATE INDEX idx_item_id ON idata_%d(item_id)"
#define IDATA_INDEX_TIMESTAMP "CREATE INDEX idx_timestamp ON idata_%d(idata_timestamp)"

/* The question of steps 20 to 21 and 24 to 25. */
#define IDATA_INDEX_QUESTION "Create indexes on existing IDATA tables? (Y/N) "

/*
 * ExecWithTextType - run a statement whose one "%s" takes the text type of
 * the connected dialect ("$SQL:TEXT" without the macro pass of
 * CreateTableSql, so that no MySQL table-type suffix is added).  The
 * statement is composed into a 4096-byte buffer.  Returns the result of
 * ExecQuery, or 0 when the statement does not fit.
 */
static int ExecWithTextType(const char *pszFormat)
{
   char szQuery[4096];
   if (!FormatSql(szQuery, sizeof(szQuery), pszFormat, g_sqlTypeNames[g_nDbSyntax][0]))
      return 0;
   return ExecQuery(szQuery);
}

/*
 * CreateIDataIndexes - the question of steps 20 to 21 and 24 to 25: on yes,
 * create one index (pszFormat, with the node id for "%d") on the data table
 * of every node that is not deleted.  Returns 0 when the step must fail.
 */
static int CreateIDataIndexes(const char *pszFormat)
{
   ConsoleWrite(IDATA_INDEX_QUESTION);
   if (!AskYesNo())
      return 1;

   db_result_t hResult = SelectQuery("SELECT id FROM nodes WHERE is_deleted=0");
   if (hResult == NULL)
      return StepFailed(0) ? 0 : 1;

   int nRows = DBGetNumRows(hResult);
   for (int i = 0; i < nRows; i++)
   {
      uint32_t dwNodeId = DBGetFieldULong(hResult, i, 0);
      char szQuery[256];
      ConsolePrintf("Creating indexes for table \"idata_%d\"...\n", (int)dwNodeId);
      int bResult = FormatSql(szQuery, sizeof(szQuery), pszFormat, (int)dwNodeId) &&
                    ExecQuery(szQuery);
      if (StepFailed(bResult))
      {
         DBFreeResult(hResult);
         return 0;
      }
   }
   DBFreeResult(hResult);
   return 1;
}

/* ------------------------------------------------------------------------
 * Step 14 to 15
 */

static const EventTemplateRow s_events14[] = {
   { 4003, "DC_AGENT_RESTARTED", 0, 1, "Velmor agent was restarted within last 5 minutes",
     DC_THRESHOLD_DESCRIPTION },
   { 4004, "DC_SERVICE_NOT_RUNNING", 3, 1, "Service #22%6#22 is not running",
     DC_THRESHOLD_DESCRIPTION },
};

int UpgradeStep14(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE items ADD instance varchar(255)\n"
               "UPDATE items SET instance=''\n"
               "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('SMTPServer','" DEFAULT_SMTP_SERVER "',1,0)\n"
               "INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('SMTPFromAddr','" DEFAULT_SMTP_FROM "',1,0)\n"
               "<END>"),
      OP_EVENTS(FORM_EVENTS, s_events14),
      /* Runs after the two inserts: 4003 and 4004 take this description too. */
      OP_BATCH("UPDATE events SET description='Generated when threshold value reached for specific data collection item.#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Threshold value#0D#0A   4) Actual value#0D#0A   5) Data collection item ID#0D#0A   6) Instance' WHERE event_id=17 OR (event_id>=4000 AND event_id<5000)\n"
               "UPDATE events SET description='Generated when threshold check is rearmed for specific data collection item.#0D#0AParameters:#0D#0A   1) Parameter name#0D#0A   2) Item description#0D#0A   3) Data collection item ID' WHERE event_id=18\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 15);
}

/* ------------------------------------------------------------------------
 * Step 15 to 16
 */

static const EventTemplateRow s_events15[] = {
   { 4005, "DC_MAILBOX_TOO_LARGE", 1, 1,
     "Mailbox #22%6#22 exceeds size limit (allowed size: %3; actual size: %4)",
     DC_THRESHOLD_DESCRIPTION },
   { 4006, "DC_AGENT_VERSION_CHANGE", 0, 1, "Velmor agent version was changed from %3 to %4",
     DC_THRESHOLD_DESCRIPTION },
   { 4007, "DC_HOSTNAME_CHANGE", 1, 1, "Host name was changed from %3 to %4",
     DC_THRESHOLD_DESCRIPTION },
   { 4008, "DC_FILE_CHANGE", 1, 1, "File #22%6#22 was changed", DC_THRESHOLD_DESCRIPTION },
};

int UpgradeStep15(void)
{
   static const UpgradeOp ops[] = {
      OP_EVENTS(FORM_EVENTS, s_events15),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 16);
}

/* ------------------------------------------------------------------------
 * Step 16 to 17
 */

/* The first sentences of the SNMP trap templates end without a full stop. */
static const EventTemplateRow s_events16[] = {
   { 500, "SNMP_UNMATCHED_TRAP", 0, 1, "SNMP trap received: %1 (Parameters: %2)",
     "Generated when system receives an SNMP trap without match in trap configuration table" EOL
     "Parameters:" EOL "   1) SNMP trap OID" EOL "   2) Trap parameters" },
   { 501, "SNMP_COLD_START", 0, 1, "System was cold-started",
     "Generated when system receives a coldStart SNMP trap" EOL "Parameters:" EOL
     "   1) SNMP trap OID" },
   { 502, "SNMP_WARM_START", 0, 1, "System was warm-started",
     "Generated when system receives a warmStart SNMP trap" EOL "Parameters:" EOL
     "   1) SNMP trap OID" },
   { 503, "SNMP_LINK_DOWN", 3, 1, "Link is down",
     "Generated when system receives a linkDown SNMP trap" EOL "Parameters:" EOL
     "   1) SNMP trap OID" EOL "   2) Interface index" },
   { 504, "SNMP_LINK_UP", 0, 1, "Link is up",
     "Generated when system receives a linkUp SNMP trap" EOL "Parameters:" EOL
     "   1) SNMP trap OID" EOL "   2) Interface index" },
   { 505, "SNMP_AUTH_FAILURE", 1, 1, "SNMP authentication failure",
     "Generated when system receives an authenticationFailure SNMP trap" EOL "Parameters:" EOL
     "   1) SNMP trap OID" },
   { 506, "SNMP_EGP_NEIGHBOR_LOSS", 1, 1, "EGP neighbor loss",
     "Generated when system receives an egpNeighborLoss SNMP trap" EOL "Parameters:" EOL
     "   1) SNMP trap OID" },
};

static const ConfigParamRow s_config16[] = {
   { "DBLockStatus", "UNLOCKED", 0, 1, 0 },
   { "DBLockInfo", "", 0, 0, 0 },
   { "EnableSNMPTraps", "1", 1, 1, 0 },
   { "SMSDriver", "<none>", 1, 1, 0 },
   { "SMTPServer", DEFAULT_SMTP_SERVER, 1, 0, 0 },
   { "SMTPFromAddr", DEFAULT_SMTP_FROM, 1, 0, 0 },
};

int UpgradeStep16(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("DROP TABLE locks\n"
               "CREATE TABLE snmp_trap_cfg (trap_id integer not null,snmp_oid varchar(255) not null,event_id integer not null,description varchar(255),PRIMARY KEY(trap_id))\n"
               "CREATE TABLE snmp_trap_pmap (trap_id integer not null,parameter integer not null,snmp_oid varchar(255),description varchar(255),PRIMARY KEY(trap_id,parameter))\n"
               "<END>"),
      OP_EVENTS(FORM_EVENTS, s_events16),
      OP_BATCH("INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) VALUES (1,'.1.3.6.1.6.3.1.1.5.1',501,'Generic coldStart trap')\n"
               "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) VALUES (2,'.1.3.6.1.6.3.1.1.5.2',502,'Generic warmStart trap')\n"
               "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) VALUES (3,'.1.3.6.1.6.3.1.1.5.3',503,'Generic linkDown trap')\n"
               "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) VALUES (4,'.1.3.6.1.6.3.1.1.5.4',504,'Generic linkUp trap')\n"
               "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) VALUES (5,'.1.3.6.1.6.3.1.1.5.5',505,'Generic authenticationFailure trap')\n"
               "INSERT INTO snmp_trap_cfg (trap_id,snmp_oid,event_id,description) VALUES (6,'.1.3.6.1.6.3.1.1.5.6',506,'Generic egpNeighborLoss trap')\n"
               "INSERT INTO snmp_trap_pmap (trap_id,parameter,snmp_oid,description) VALUES (3,1,'.1.3.6.1.2.1.2.2.1.1','Interface index')\n"
               "INSERT INTO snmp_trap_pmap (trap_id,parameter,snmp_oid,description) VALUES (4,1,'.1.3.6.1.2.1.2.2.1.1','Interface index')\n"
               "<END>"),
      OP_CONFIG(s_config16),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 17);
}

/* ------------------------------------------------------------------------
 * Step 17 to 18
 */

/* Composes the INSERT of one (rule_id, event_id) row as (rule_id, event_code). */
static int ComposePolicyEventRow(db_result_t hResult, int iRow, int *pnState, char *pszBuffer, size_t nSize)
{
   (void)pnState;
   return snprintf(pszBuffer, nSize, "INSERT INTO policy_event_list (rule_id,event_code) VALUES (%d,%d)",
                   (int)DBGetFieldULong(hResult, iRow, 0), (int)DBGetFieldULong(hResult, iRow, 1));
}

/*
 * policy_event_list gets the column event_code, keeping every (rule_id,
 * event_id) row.  Under -X an unreadable table is neither dropped nor
 * rebuilt.  The new table is created without the MySQL table type.
 */
static const TableRebuild s_policyEventListRebuild =
{
   "policy_event_list",
   "SELECT rule_id,event_id FROM policy_event_list",
   1,
   "DROP TABLE policy_event_list",
   "CREATE TABLE policy_event_list (rule_id integer not null,event_code integer not null,PRIMARY KEY(rule_id,event_code))",
   1,
   ComposePolicyEventRow
};

static int RebuildPolicyEventList(void)
{
   return RebuildTable(&s_policyEventListRebuild);
}

static int CreateEventCfgTable(void)
{
   return ExecWithTextType("CREATE TABLE event_cfg (event_code integer not null,event_name varchar(63) not null,severity integer,flags integer,message varchar(255),description %s,PRIMARY KEY(event_code))");
}

static int CreateModulesTable(void)
{
   return ExecWithTextType("CREATE TABLE modules (module_id integer not null,module_name varchar(63),exec_name varchar(255),module_flags integer not null default 0,description %s,license_key varchar(255),PRIMARY KEY(module_id))");
}

int UpgradeStep17(void)
{
   static const UpgradeOp ops[] = {
      OP_ROUTINE(RebuildPolicyEventList),
      OP_ROUTINE(CreateEventCfgTable),
      OP_BATCH("ALTER TABLE nodes DROP COLUMN inherit_access_rights\n"
               "ALTER TABLE nodes ADD agent_version varchar(63)\n"
               "UPDATE nodes SET agent_version='' WHERE is_agent=0\n"
               "UPDATE nodes SET agent_version='<unknown>' WHERE is_agent=1\n"
               "INSERT INTO event_cfg (event_code,event_name,severity,flags,message,description) SELECT event_id,name,severity,flags,message,description FROM events\n"
               "DROP TABLE events\n"
               "DROP TABLE event_group_members\n"
               "CREATE TABLE event_group_members (group_id integer not null,event_code integer not null,\tPRIMARY KEY(group_id,event_code))\n"
               "ALTER TABLE alarms ADD source_event_code integer\n"
               "UPDATE alarms SET source_event_code=source_event_id\n"
               "ALTER TABLE alarms DROP COLUMN source_event_id\n"
               "ALTER TABLE alarms ADD source_event_id bigint\n"
               "UPDATE alarms SET source_event_id=0\n"
               "ALTER TABLE snmp_trap_cfg ADD event_code integer not null default 0\n"
               "UPDATE snmp_trap_cfg SET event_code=event_id\n"
               "ALTER TABLE snmp_trap_cfg DROP COLUMN event_id\n"
               "DROP TABLE event_log\n"
               "CREATE TABLE event_log (event_id bigint not null,event_code integer,event_timestamp integer,event_source integer,event_severity integer,event_message varchar(255),root_event_id bigint default 0,PRIMARY KEY(event_id))\n"
               "<END>"),
      OP_ROUTINE(CreateModulesTable),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 18);
}

/* ------------------------------------------------------------------------
 * Step 18 to 19
 */

int UpgradeStep18(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE nodes ADD platform_name varchar(63)\n"
               "UPDATE nodes SET platform_name=''\n"
               "<END>"),
      OP_CREATE_TABLE("CREATE TABLE agent_pkg (pkg_id integer not null,pkg_name varchar(63),version varchar(31),platform varchar(63),pkg_file varchar(255),description varchar(255),PRIMARY KEY(pkg_id))"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 19);
}

/* ------------------------------------------------------------------------
 * Step 19 to 20
 */

/* In this order: 28, 29, then 25 to 27. */
static const EventTemplateRow s_events19[] = {
   { 28, "SYS_NODE_DOWN", 4, 1, "Node down",
     "Generated when node is not responding to management server." EOL "Parameters:" EOL
     "   No event-specific parameters" },
   { 29, "SYS_NODE_UP", 0, 1, "Node up",
     "Generated when communication with the node re-established." EOL "Parameters:" EOL
     "   No event-specific parameters" },
   { 25, "SYS_SERVICE_DOWN", 3, 1, "Network service #22%1#22 is not responding",
     "Generated when network service is not responding to management server as expected." EOL
     "Parameters:" EOL "   1) Service name" EOL "   2) Service object ID" EOL
     "   3) Service type" },
   { 26, "SYS_SERVICE_UP", 0, 1, "Network service #22%1#22 returned to operational state",
     "Generated when network service responds as expected after failure." EOL "Parameters:" EOL
     "   1) Service name" EOL "   2) Service object ID" EOL "   3) Service type" },
   { 27, "SYS_SERVICE_UNKNOWN", 1, 1, "Status of network service #22%1#22 is unknown",
     "Generated when management server is unable to determine state of the network service due to agent or server-to-agent communication failure." EOL
     "Parameters:" EOL "   1) Service name" EOL "   2) Service object ID" EOL
     "   3) Service type" },
};

int UpgradeStep19(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE nodes ADD poller_node_id integer\n"
               "ALTER TABLE nodes ADD is_ospf integer\n"
               "UPDATE nodes SET poller_node_id=0,is_ospf=0\n"
               "<END>"),
      OP_EVENTS(FORM_EVENT_CFG, s_events19),
      OP_BATCH("INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (12,'Obj.NetworkService','network_service.png','<invalid_hash>','network_service.ico','<invalid_hash>')\n"
               "INSERT INTO default_images (object_class,image_id) VALUES (11,12)\n"
               "<END>"),
      /* The column is named check_responce in every database since. */
      OP_CREATE_TABLE("CREATE TABLE network_services (id integer not null,name varchar(63),status integer,is_deleted integer,node_id integer not null,service_type integer,ip_bind_addr varchar(15),ip_proto integer,ip_port integer,check_request $SQL:TEXT,check_responce $SQL:TEXT,poller_node_id integer not null,image_id integer not null,PRIMARY KEY(id))"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 20);
}

/* ------------------------------------------------------------------------
 * Step 20 to 21
 */

/* Here the "Parameters:" line is indented like the parameter lines. */
static const EventTemplateRow s_events20[] = {
   { 30, "SYS_SMS_FAILURE", 1, 1, "Unable to send SMS to phone %1",
     "Generated when server is unable to send SMS." EOL "   Parameters:" EOL "   1) Phone number" },
};

/* Old flag columns of nodes, in select order (columns 1 to 6), and their bits. */
static const uint32_t s_nodeFlagBits[6] = {
   0x01,   /* is_snmp */
   0x02,   /* is_agent */
   0x04,   /* is_bridge */
   0x08,   /* is_router */
   0x10,   /* is_local_mgmt */
   0x40,   /* is_ospf; 0x20 stays clear */
};

/*
 * ConvertNodeFlags - fold the six flag columns of every node into the new
 * bit mask node_flags; any non-zero value sets the bit.  Returns 0 when
 * the step must fail.
 */
static int ConvertNodeFlags(void)
{
   db_result_t hResult = SelectQuery("SELECT id,is_snmp,is_agent,is_bridge,is_router,is_local_mgmt,is_ospf FROM nodes");
   if (hResult == NULL)
      return StepFailed(0) ? 0 : 1;

   int nRows = DBGetNumRows(hResult);
   for (int i = 0; i < nRows; i++)
   {
      uint32_t dwFlags = 0;
      for (int iColumn = 1; iColumn <= 6; iColumn++)
      {
         if (DBGetFieldLong(hResult, i, iColumn) != 0)
            dwFlags |= s_nodeFlagBits[iColumn - 1];
      }

      char szQuery[256];
      int bResult = FormatSql(szQuery, sizeof(szQuery), "UPDATE nodes SET node_flags=%d WHERE id=%d",
                              (int)dwFlags, (int)DBGetFieldULong(hResult, i, 0)) &&
                    ExecQuery(szQuery);
      if (StepFailed(bResult))
      {
         DBFreeResult(hResult);
         return 0;
      }
   }
   DBFreeResult(hResult);
   return 1;
}

static int CreateItemIdIndexes(void)
{
   return CreateIDataIndexes(IDATA_INDEX_ITEM_ID);
}

static const ConfigParamRow s_config20[] = {
   { "NumberOfStatusPollers", "10", 1, 1, 0 },
   { "NumberOfConfigurationPollers", "4", 1, 1, 0 },
   { "IDataIndexCreationCommand", IDATA_INDEX_ITEM_ID, 0, 1, 0 },
};

/*
 * The index names idx_item_id (here and in step 23 to 24) are per table on
 * MySQL but global on SQLite and PostgreSQL, where the second one fails:
 * such databases are upgraded with -X.
 */
int UpgradeStep20(void)
{
   static const UpgradeOp ops[] = {
      OP_EVENTS(FORM_EVENT_CFG, s_events20),
      OP_BATCH("ALTER TABLE nodes ADD node_flags integer\n"
               "<END>"),
      OP_ROUTINE(ConvertNodeFlags),
      OP_BATCH("ALTER TABLE nodes DROP COLUMN is_snmp\n"
               "ALTER TABLE nodes DROP COLUMN is_agent\n"
               "ALTER TABLE nodes DROP COLUMN is_bridge\n"
               "ALTER TABLE nodes DROP COLUMN is_router\n"
               "ALTER TABLE nodes DROP COLUMN is_local_mgmt\n"
               "ALTER TABLE nodes DROP COLUMN is_ospf\n"
               "CREATE INDEX idx_item_id ON thresholds(item_id)\n"
               "<END>"),
      OP_ROUTINE(CreateItemIdIndexes),
      OP_CONFIG(s_config20),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 21);
}

/* ------------------------------------------------------------------------
 * Step 21 to 22
 */

static const EventTemplateRow s_events21[] = {
   { 4009, "DC_HDD_TEMP_WARNING", 1, 1,
     "Temperature of hard disk %6 is above warning level of %3 (current: %4)",
     DC_THRESHOLD_DESCRIPTION },
   { 4010, "DC_HDD_TEMP_MAJOR", 3, 1, "Temperature of hard disk %6 is above %3 (current: %4)",
     DC_THRESHOLD_DESCRIPTION },
   { 4011, "DC_HDD_TEMP_CRITICAL", 4, 1,
     "Temperature of hard disk %6 is above critical level of %3 (current: %4)",
     DC_THRESHOLD_DESCRIPTION },
};

static const ConfigParamRow s_config21[] = {
   { "SMSDriver", "<none>", 1, 1, 0 },
   { "AgentUpgradeWaitTime", "600", 1, 0, 0 },
   { "NumberOfUpgradeThreads", "10", 1, 0, 0 },
};

int UpgradeStep21(void)
{
   static const UpgradeOp ops[] = {
      OP_EVENTS(FORM_EVENT_CFG, s_events21),
      OP_CONFIG(s_config21),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 22);
}

/* ------------------------------------------------------------------------
 * Step 22 to 23
 */

int UpgradeStep22(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE items ADD template_item_id integer\n"
               "UPDATE items SET template_item_id=0\n"
               "CREATE INDEX idx_sequence ON thresholds(sequence_number)\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 23);
}

/* ------------------------------------------------------------------------
 * Step 23 to 24
 */

/* FillRawDciValues - one raw_dci_values row for every item.  0: step fails. */
static int FillRawDciValues(void)
{
   db_result_t hResult = SelectQuery("SELECT item_id FROM items");
   if (hResult == NULL)
      return StepFailed(0) ? 0 : 1;

   int nRows = DBGetNumRows(hResult);
   for (int i = 0; i < nRows; i++)
   {
      char szQuery[256];
      int bResult = FormatSql(szQuery, sizeof(szQuery),
                              "INSERT INTO raw_dci_values (item_id,raw_value,last_poll_time) VALUES (%d,'#00',1)",
                              (int)DBGetFieldULong(hResult, i, 0)) &&
                    ExecQuery(szQuery);
      if (StepFailed(bResult))
      {
         DBFreeResult(hResult);
         return 0;
      }
   }
   DBFreeResult(hResult);
   return 1;
}

int UpgradeStep23(void)
{
   static const UpgradeOp ops[] = {
      OP_CREATE_TABLE("CREATE TABLE raw_dci_values (\titem_id integer not null,   raw_value varchar(255),   last_poll_time integer,   PRIMARY KEY(item_id))"),
      OP_EXEC("CREATE INDEX idx_item_id ON raw_dci_values(item_id)"),
      OP_ROUTINE(FillRawDciValues),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 24);
}

/* ------------------------------------------------------------------------
 * Step 24 to 25
 */

static int CreateTimestampIndexes(void)
{
   return CreateIDataIndexes(IDATA_INDEX_TIMESTAMP);
}

int UpgradeStep24(void)
{
   static const UpgradeOp ops[] = {
      OP_ROUTINE(CreateTimestampIndexes),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 25);
}

/* ------------------------------------------------------------------------
 * Step 25 to 26
 */

/*
 * MoveIndexCreationCommand - move the value of IDataIndexCreationCommand to
 * IDataIndexCreationCommand_0 and delete the old row.  A failed select is
 * always tolerated: then nothing is moved and nothing deleted.  The stored
 * value is decoded before EnsureConfigParam encodes it again, so the new row
 * holds the same text as the old one.  Returns 0 when the step must fail.
 */
static int MoveIndexCreationCommand(void)
{
   db_result_t hResult = SelectQuery("SELECT var_value FROM config WHERE var_name='IDataIndexCreationCommand'");
   if (hResult == NULL)
      return 1;

   if (DBGetNumRows(hResult) > 0)
   {
      char szCommand[512];
      DBGetField(hResult, 0, 0, szCommand, sizeof(szCommand));
      DecodeSQLString(szCommand);
      if (StepFailed(EnsureConfigParam("IDataIndexCreationCommand_0", szCommand, 0, 1, 0)))
      {
         DBFreeResult(hResult);
         return 0;
      }
   }
   DBFreeResult(hResult);

   return StepFailed(ExecQuery("DELETE FROM config WHERE var_name='IDataIndexCreationCommand'")) ? 0 : 1;
}

static const ConfigParamRow s_config25[] = {
   { "IDataIndexCreationCommand_1", IDATA_INDEX_TIMESTAMP, 0, 1, 0 },
};

int UpgradeStep25(void)
{
   static const UpgradeOp ops[] = {
      OP_ROUTINE(MoveIndexCreationCommand),
      OP_CONFIG(s_config25),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 26);
}

/* ------------------------------------------------------------------------
 * Step 26 to 27
 */

/* An object table that CopyObjectProperties searches, in search order. */
typedef struct ObjectTable
{
   const char *pszName;            /* table name */
   int bHasStatus;                 /* 0: no status column, the status is 5 */
} ObjectTable;

static const ObjectTable s_objectTables[] = {
   { "nodes", 1 },
   { "interfaces", 1 },
   { "subnets", 1 },
   { "templates", 0 },
   { "network_services", 1 },
   { "containers", 1 },
};

/* Status given to templates and root objects. */
#define STATUS_UNKNOWN 5

/*
 * CopyObjectProperties - create the object_properties row of one object
 * from the first object table that holds it (the name is copied as stored,
 * in encoded form).  An object that no table holds gets a warning and no
 * row.  Returns 1 on success (or when -X lets a failure pass), 0 when the
 * step must fail.
 */
static int CopyObjectProperties(uint32_t dwObjectId, int nInheritRights)
{
   char szQuery[1024];
   char szName[64];
   int bFound = 0, nIsDeleted = 0;
   uint32_t dwImageId = 0, dwStatus = STATUS_UNKNOWN;

   for (size_t iTable = 0; !bFound && iTable < sizeof(s_objectTables) / sizeof(s_objectTables[0]); iTable++)
   {
      const ObjectTable *pTable = &s_objectTables[iTable];
      if (!FormatSql(szQuery, sizeof(szQuery), "SELECT name,is_deleted,image_id%s FROM %s WHERE id=%d",
                     pTable->bHasStatus ? ",status" : "", pTable->pszName, (int)dwObjectId))
      {
         if (StepFailed(0))
            return 0;
         continue;
      }
      db_result_t hResult = SelectQuery(szQuery);
      if (hResult == NULL)
      {
         if (StepFailed(0))
            return 0;
         continue;
      }
      if (DBGetNumRows(hResult) > 0)
      {
         bFound = 1;
         DBGetField(hResult, 0, 0, szName, sizeof(szName));
         nIsDeleted = DBGetFieldLong(hResult, 0, 1) ? 1 : 0;
         dwImageId = DBGetFieldULong(hResult, 0, 2);
         dwStatus = pTable->bHasStatus ? DBGetFieldULong(hResult, 0, 3) : STATUS_UNKNOWN;
      }
      DBFreeResult(hResult);
   }

   if (!bFound)
   {
      ConsolePrintf("WARNING: object with ID %d presented in access control tables but cannot be found in data tables\n",
                    (int)dwObjectId);
      return 1;
   }

   /* The name is copied as stored.  A properly encoded name holds no
      quote and no backslash; a stray quote in a damaged row is doubled (and
      on MySQL, where a backslash escapes the next character inside a
      literal, a backslash too), so that it cannot end the literal and turn
      the rest of the name into SQL. */
   char szQuoted[sizeof(szName) * 2];
   DoubleSingleQuotes(szQuoted, szName);

   int bResult = FormatSql(szQuery, sizeof(szQuery),
                           "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,last_modified) VALUES (%d,'%s',%d,%d,%d,%d,%ld)",
                           (int)dwObjectId, szQuoted, (int)dwStatus, nIsDeleted, (int)dwImageId,
                           nInheritRights, (long)time(NULL)) &&
                 ExecQuery(szQuery);
   return StepFailed(bResult) ? 0 : 1;
}

/* A built-in root object and the config rows that held its properties. */
typedef struct RootObject
{
   uint32_t dwId;
   const char *pszNameVar;         /* config row of the name */
   const char *pszDefaultName;     /* name when that row is missing */
   const char *pszImageVar;        /* config row of the image id (default 0) */
} RootObject;

static const RootObject s_rootObjects[] = {
   { 1, "TopologyRootObjectName", "Entire Network", "TopologyRootImageId" },
   { 2, "ServiceRootObjectName", "All Services", "ServiceRootImageId" },
   { 3, "TemplateRootObjectName", DEFAULT_TEMPLATE_ROOT_NAME, "TemplateRootImageId" },
};

/*
 * CopyRootObjectProperties - the object_properties row of a built-in root
 * object, from its config rows.  The name is read decoded and encoded again
 * for the statement, so that any character in it stays part of the value.
 * Returns 0 when the statement failed (the failure rule is the caller's).
 */
static int CopyRootObjectProperties(const RootObject *pRoot, int nInheritRights)
{
   char szName[64];
   char szQuery[1024];

   ReadConfigString(pRoot->pszNameVar, szName, sizeof(szName), pRoot->pszDefaultName);
   uint32_t dwImageId = ReadConfigUInt(pRoot->pszImageVar, 0);

   char *pszEncodedName = EncodeSQLString(szName);
   if (pszEncodedName == NULL)
   {
      ConsolePrintf("Out of memory while composing upgrade statement\n");
      return 0;
   }
   int bResult = FormatSql(szQuery, sizeof(szQuery),
                           "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,inherit_access_rights,last_modified) VALUES (%d,'%s',5,0,%d,%d,%ld)",
                           (int)pRoot->dwId, pszEncodedName, (int)dwImageId, nInheritRights,
                           (long)time(NULL));
   free(pszEncodedName);
   return bResult && ExecQuery(szQuery);
}

/*
 * FillObjectProperties - one object_properties row for every object in
 * access_options: regular objects (id 10 and above) from their object
 * tables, the root objects 1 to 3 from config.  Other ids below 10 are
 * warned about and skipped.  Returns 0 when the step must fail.
 */
static int FillObjectProperties(void)
{
   db_result_t hResult = SelectQuery("SELECT object_id,inherit_rights FROM access_options");
   if (hResult == NULL)
      return StepFailed(0) ? 0 : 1;

   int nRows = DBGetNumRows(hResult);
   for (int i = 0; i < nRows; i++)
   {
      uint32_t dwObjectId = DBGetFieldULong(hResult, i, 0);
      int nInheritRights = DBGetFieldLong(hResult, i, 1) ? 1 : 0;
      if (dwObjectId >= 10)
      {
         /* CopyObjectProperties has applied the failure rule itself. */
         if (!CopyObjectProperties(dwObjectId, nInheritRights))
         {
            DBFreeResult(hResult);
            return 0;
         }
      }
      else if (dwObjectId >= 1 && dwObjectId <= 3)
      {
         if (StepFailed(CopyRootObjectProperties(&s_rootObjects[dwObjectId - 1], nInheritRights)))
         {
            DBFreeResult(hResult);
            return 0;
         }
      }
      else
      {
         ConsolePrintf("WARNING: Invalid built-in object ID %d\n", (int)dwObjectId);
      }
   }
   DBFreeResult(hResult);
   return 1;
}

static const EventTemplateRow s_events26[] = {
   { 31, "SYS_SNMP_OK", 0, 1, "Connectivity with SNMP agent restored",
     "Generated when connectivity with node#27s SNMP agent restored." EOL "Parameters:" EOL
     "   No message-specific parameters" },
   { 32, "SYS_AGENT_OK", 0, 1, "Connectivity with native agent restored",
     "Generated when connectivity with node#27s native agent restored." EOL "Parameters:" EOL
     "   No message-specific parameters" },
};

int UpgradeStep26(void)
{
   static const UpgradeOp ops[] = {
      OP_CREATE_TABLE("CREATE TABLE object_properties (object_id integer not null,name varchar(63) not null,status integer not null,is_deleted integer not null,image_id integer,last_modified integer not null,inherit_access_rights integer not null,PRIMARY KEY(object_id))"),
      OP_CREATE_TABLE("CREATE TABLE user_profiles (user_id integer not null,var_name varchar(255) not null,var_value $SQL:TEXT,PRIMARY KEY(user_id,var_name))"),
      OP_ROUTINE(FillObjectProperties),
      OP_BATCH("ALTER TABLE nodes DROP COLUMN name\n"
               "ALTER TABLE nodes DROP COLUMN status\n"
               "ALTER TABLE nodes DROP COLUMN is_deleted\n"
               "ALTER TABLE nodes DROP COLUMN image_id\n"
               "ALTER TABLE interfaces DROP COLUMN name\n"
               "ALTER TABLE interfaces DROP COLUMN status\n"
               "ALTER TABLE interfaces DROP COLUMN is_deleted\n"
               "ALTER TABLE interfaces DROP COLUMN image_id\n"
               "ALTER TABLE subnets DROP COLUMN name\n"
               "ALTER TABLE subnets DROP COLUMN status\n"
               "ALTER TABLE subnets DROP COLUMN is_deleted\n"
               "ALTER TABLE subnets DROP COLUMN image_id\n"
               "ALTER TABLE network_services DROP COLUMN name\n"
               "ALTER TABLE network_services DROP COLUMN status\n"
               "ALTER TABLE network_services DROP COLUMN is_deleted\n"
               "ALTER TABLE network_services DROP COLUMN image_id\n"
               "ALTER TABLE containers DROP COLUMN name\n"
               "ALTER TABLE containers DROP COLUMN status\n"
               "ALTER TABLE containers DROP COLUMN is_deleted\n"
               "ALTER TABLE containers DROP COLUMN image_id\n"
               "ALTER TABLE templates DROP COLUMN name\n"
               "ALTER TABLE templates DROP COLUMN is_deleted\n"
               "ALTER TABLE templates DROP COLUMN image_id\n"
               "DROP TABLE access_options\n"
               "DELETE FROM config WHERE var_name='TopologyRootObjectName'\n"
               "DELETE FROM config WHERE var_name='TopologyRootImageId'\n"
               "DELETE FROM config WHERE var_name='ServiceRootObjectName'\n"
               "DELETE FROM config WHERE var_name='ServiceRootImageId'\n"
               "DELETE FROM config WHERE var_name='TemplateRootObjectName'\n"
               "DELETE FROM config WHERE var_name='TemplateRootImageId'\n"
               "<END>"),
      OP_EVENTS(FORM_EVENT_CFG, s_events26),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 27);
}

/* ------------------------------------------------------------------------
 * Step 27 to 28
 */

int UpgradeStep27(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE users ADD system_access integer\n"
               "UPDATE users SET system_access=access\n"
               "ALTER TABLE users DROP COLUMN access\n"
               "ALTER TABLE user_groups ADD system_access integer\n"
               "UPDATE user_groups SET system_access=access\n"
               "ALTER TABLE user_groups DROP COLUMN access\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 28);
}

/* ------------------------------------------------------------------------
 * Step 28 to 29
 */

static const ConfigParamRow s_config28[] = {
   { "EnableZoning", "0", 1, 1, 0 },
};

int UpgradeStep28(void)
{
   static const UpgradeOp ops[] = {
      OP_CREATE_TABLE("CREATE TABLE zones (id integer not null,zone_guid integer not null,zone_type integer not null,controller_ip varchar(15) not null,description $SQL:TEXT,PRIMARY KEY(id))"),
      OP_CREATE_TABLE("CREATE TABLE zone_ip_addr_list (zone_id integer not null,ip_addr varchar(15) not null,PRIMARY KEY(zone_id,ip_addr))"),
      OP_BATCH("ALTER TABLE nodes ADD zone_guid integer\n"
               "ALTER TABLE subnets ADD zone_guid integer\n"
               "UPDATE nodes SET zone_guid=0\n"
               "UPDATE subnets SET zone_guid=0\n"
               "INSERT INTO default_images (object_class,image_id) VALUES (6,13)\n"
               "INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (13,'Obj.Zone','zone.png','<invalid_hash>','zone.ico','<invalid_hash>')\n"
               "<END>"),
      OP_CONFIG(s_config28),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 29);
}

/* ------------------------------------------------------------------------
 * Step 29 to 30
 */

static const ConfigParamRow s_config29[] = {
   { "StatusCalculationAlgorithm", "0", 1, 1, 0 },
   { "EnableMultipleDBConnections", "1", 1, 1, 0 },
   { "NumberOfDatabaseWriters", "1", 1, 1, 0 },
   { "DefaultEncryptionPolicy", "1", 1, 1, 0 },
   { "AllowedCiphers", "15", 1, 1, 0 },
   { "KeepAliveInterval", "60", 1, 1, 0 },
};

int UpgradeStep29(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE object_properties ADD status_alg integer\n"
               "UPDATE object_properties SET status_alg=-1\n"
               "<END>"),
      OP_CONFIG(s_config29),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 30);
}
