/*
 * steps_65_82.cpp - upgrade steps from format version 65 to 83.
 *
 * Each UpgradeStepN moves the database from version N to N+1 and is run by
 * RunUpgradeCommand inside a transaction of its own.  Most steps are a
 * constant list of operations handed to RunUpgradeStep.  Four steps have
 * routines of their own: 69 to 70 converts two retention settings from
 * seconds to days, 76 to 77 and 80 to 81 rebuild tables while holding their
 * rows in a result set, and 78 to 79 has a script for MySQL only.
 *
 * Texts such as '#00' and '#0D#0A' are values in the server's encoded
 * string form; they are written exactly as they stand.
 */
#include "upgrade.h"
#include <stdio.h>
#include <string.h>
#include <unistd.h>

/* Line break inside event descriptions, in the encoded string form. */
#define EOL "#0D#0A"

/* Seconds per day, for the retention settings of step 69 to 70. */
#define SECONDS_PER_DAY 86400

/* Retention in seconds assumed when a setting is missing: 60 days. */
#define DEFAULT_RETENTION_SECONDS 5184000

/*** 65 to 66: ports of map links ***/

int UpgradeStep65(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE submap_links ADD port1 varchar(255)\n"
               "ALTER TABLE submap_links ADD port2 varchar(255)\n"
               "UPDATE submap_links SET port1='#00',port2='#00'\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 66);
}

/*** 66 to 67: synthetic masks ***/

int UpgradeStep66(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE subnets ADD synthetic_mask integer\n"
               "UPDATE subnets SET synthetic_mask=0\n"
               "ALTER TABLE interfaces ADD synthetic_mask integer\n"
               "UPDATE interfaces SET synthetic_mask=0\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 67);
}

/*** 67 to 68: repeat interval of thresholds ***/

static const ConfigParamRow g_config67[] =
{
   /* name, default value, is_visible, need_server_restart, overwrite */
   { "ThresholdRepeatInterval", "0", 1, 1, 0 },
};

int UpgradeStep67(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE thresholds ADD repeat_interval integer\n"
               "UPDATE thresholds SET repeat_interval=-1\n"
               "<END>"),
      OP_CONFIG(g_config67),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 68);
}

/*** 68 to 69: audit log ***/

static const ConfigParamRow g_config68[] =
{
   { "EnableAuditLog", "1", 1, 1, 0 },
   { "AuditLogRetentionTime", "90", 1, 0, 0 },
};

int UpgradeStep68(void)
{
   static const UpgradeOp ops[] =
   {
      OP_CREATE_TABLE("CREATE TABLE audit_log (record_id integer not null,timestamp integer not null,subsystem varchar(32) not null,success integer not null,user_id integer not null,workstation varchar(63) not null,object_id integer not null,message $SQL:TEXT not null,PRIMARY KEY(record_id))"),
      OP_CONFIG(g_config68),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 69);
}

/*** 69 to 70: user tags, retention times in days ***/

/*
 * ConvertRetentionToDays - rewrite a retention setting held in seconds as
 * whole days, at least 1.  A missing or unreadable row counts as 60 days and
 * is created.  Returns the result of EnsureConfigParam.
 */
static int ConvertRetentionToDays(const char *pszName)
{
   char szValue[64];
   int32_t nDays = ReadConfigInt(pszName, DEFAULT_RETENTION_SECONDS) / SECONDS_PER_DAY;
   if (nDays <= 1)
      nDays = 1;
   snprintf(szValue, sizeof(szValue), "%d", (int)nDays);
   return EnsureConfigParam(pszName, szValue, 1, 0, 1);
}

static int ConvertEventLogRetention(void)
{
   return ConvertRetentionToDays("EventLogRetentionTime");
}

static int ConvertSyslogRetention(void)
{
   return ConvertRetentionToDays("SyslogRetentionTime");
}

int UpgradeStep69(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE snmp_trap_cfg ADD user_tag varchar(63)\n"
               "UPDATE snmp_trap_cfg SET user_tag='#00'\n"
               "ALTER TABLE event_log ADD user_tag varchar(63)\n"
               "UPDATE event_log SET user_tag='#00'\n"
               "<END>"),
      OP_ROUTINE(ConvertEventLogRetention),
      OP_ROUTINE(ConvertSyslogRetention),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 70);
}

/*** 70 to 71: polls required for a status change ***/

static const ConfigParamRow g_config70[] =
{
   { "PollCountForStatusChange", "1", 1, 1, 0 },
};

int UpgradeStep70(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE nodes ADD required_polls integer\n"
               "UPDATE nodes SET required_polls=0\n"
               "ALTER TABLE interfaces ADD required_polls integer\n"
               "UPDATE interfaces SET required_polls=0\n"
               "ALTER TABLE network_services ADD required_polls integer\n"
               "UPDATE network_services SET required_polls=0\n"
               "<END>"),
      OP_CONFIG(g_config70),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 71);
}

/*** 71 to 72: proxy node of items ***/

int UpgradeStep71(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE items ADD proxy_node integer\n"
               "UPDATE items SET proxy_node=0\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 72);
}

/*** 72 to 73: situations ***/

static const ConfigParamRow g_config72[] =
{
   { "RetainCustomInterfaceNames", "0", 1, 0, 0 },
   { "AllowDirectSMS", "0", 1, 0, 0 },
   { "EventStormThreshold", "0", 1, 1, 0 },
};

int UpgradeStep72(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE event_policy ADD situation_id integer\n"
               "ALTER TABLE event_policy ADD situation_instance varchar(255)\n"
               "UPDATE event_policy SET situation_id=0,situation_instance='#00'\n"
               "<END>"),
      OP_CREATE_TABLE("CREATE TABLE policy_situation_attr_list (rule_id integer not null,situation_id integer not null,attr_name varchar(255) not null,attr_value varchar(255) not null,PRIMARY KEY(rule_id,situation_id,attr_name))"),
      OP_CREATE_TABLE("CREATE TABLE situations (id integer not null,name varchar(127) not null,comments $SQL:TEXT not null,PRIMARY KEY(id))"),
      OP_CONFIG(g_config72),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 73);
}

/*** 73 to 74: event storm detection ***/

static const EventTemplateRow g_events73[] =
{
   /* code, name, severity, flags, message, description */
   { 48, "SYS_EVENT_STORM_DETECTED", 3, 1,
     "Event storm detected (Events per second: %1)",
     "Generated when system detects an event storm." EOL
     "Parameters:" EOL
     "   1) Events per second" EOL
     "   2) Duration" EOL
     "   3) Threshold" },
   { 49, "SYS_EVENT_STORM_ENDED", 0, 1,
     "Event storm ended",
     "Generated when system clears event storm condition." EOL
     "Parameters:" EOL
     "   1) Events per second" EOL
     "   2) Duration" EOL
     "   3) Threshold" },
};

static const ConfigParamRow g_config73[] =
{
   { "EnableEventStormDetection", "0", 1, 1, 0 },
   { "EventStormEventsPerSecond", "100", 1, 1, 0 },
   { "EventStormDuration", "15", 1, 1, 0 },
};

int UpgradeStep73(void)
{
   /* The new templates go in before the settings that event storm
      detection replaces are deleted. */
   static const UpgradeOp ops[] =
   {
      OP_EVENTS(FORM_EVENT_CFG, g_events73),
      OP_BATCH("DELETE FROM config WHERE var_name='NumberOfEventProcessors'\n"
               "DELETE FROM config WHERE var_name='EventStormThreshold'\n"
               "<END>"),
      OP_CONFIG(g_config73),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 74);
}

/*** 74 to 75: SNMP communities ***/

static const ConfigParamRow g_config74[] =
{
   { "UseInterfaceAliases", "0", 1, 0, 0 },
   { "SyncNodeNamesWithDNS", "0", 1, 0, 0 },
};

int UpgradeStep74(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE address_lists ADD community_id integer\n"
               "UPDATE address_lists SET community_id=0\n"
               "<END>"),
      OP_CREATE_TABLE("CREATE TABLE snmp_communities (id integer not null,community varchar(255) not null,PRIMARY KEY(id))"),
      OP_CONFIG(g_config74),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 75);
}

/*** 75 to 76: beacon probing ***/

static const EventTemplateRow g_events75[] =
{
   { 50, "SYS_NETWORK_CONN_LOST", 4, 1,
     "Velmor server network connectivity lost",
     "Generated when system detects loss of network connectivity based on beacon probing." EOL
     "Parameters:" EOL
     "   1) Number of beacons" },
   { 51, "SYS_NETWORK_CONN_RESTORED", 0, 1,
     "Velmor server network connectivity restored",
     "Generated when system detects restoration of network connectivity based on beacon probing." EOL
     "Parameters:" EOL
     "   1) Number of beacons" },
};

static const ConfigParamRow g_config75[] =
{
   { "AgentCommandTimeout", "2000", 1, 1, 0 },
   { "BeaconHosts", "", 1, 1, 0 },
   { "BeaconTimeout", "1000", 1, 1, 0 },
   { "BeaconPollingInterval", "1000", 1, 1, 0 },
};

int UpgradeStep75(void)
{
   static const UpgradeOp ops[] =
   {
      OP_EVENTS(FORM_EVENT_CFG, g_events75),
      OP_CONFIG(g_config75),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 76);
}

/*** 76 to 77: sequence numbers of the condition-to-DCI map ***/

/*
 * ComposeCondDciRow - the rows of each condition are numbered 0, 1, 2, ...
 * in the order they come back (the select orders them by condition).  The
 * number restarts when the condition id differs from the previous row's;
 * the "previous" id of the first row is 0, which needs no special case.
 */
static int ComposeCondDciRow(db_result_t hResult, int iRow, int *pnSequence, char *pszBuffer, size_t nSize)
{
   uint32_t dwCondition = DBGetFieldULong(hResult, iRow, 0);
   uint32_t dwPrevCondition = (iRow > 0) ? DBGetFieldULong(hResult, iRow - 1, 0) : 0;
   if (dwCondition != dwPrevCondition)
      *pnSequence = 0;
   return snprintf(pszBuffer, nSize,
                   "INSERT INTO cond_dci_map (condition_id,sequence_number,dci_id,node_id,dci_func,num_polls) VALUES (%d,%d,%d,%d,%d,%d)",
                   (int)dwCondition, (*pnSequence)++,
                   (int)DBGetFieldULong(hResult, iRow, 1), (int)DBGetFieldULong(hResult, iRow, 2),
                   (int)DBGetFieldULong(hResult, iRow, 3), (int)DBGetFieldULong(hResult, iRow, 4));
}

/* Under -X an unreadable map is recreated empty, so that the new table exists. */
static const TableRebuild g_condDciMapRebuild =
{
   "cond_dci_map",
   "SELECT condition_id,dci_id,node_id,dci_func,num_polls FROM cond_dci_map ORDER BY condition_id",
   0,
   "DROP TABLE cond_dci_map",
   "CREATE TABLE cond_dci_map (condition_id integer not null,sequence_number integer not null,dci_id integer not null,node_id integer not null,dci_func integer not null,num_polls integer not null,PRIMARY KEY(condition_id,sequence_number))",
   0,
   ComposeCondDciRow
};

static int RebuildCondDciMap(void)
{
   return RebuildTable(&g_condDciMapRebuild);
}

int UpgradeStep76(void)
{
   static const UpgradeOp ops[] =
   {
      OP_ROUTINE(RebuildCondDciMap),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 77);
}

/*** 77 to 78: trusted nodes ***/

static const ConfigParamRow g_config77[] =
{
   { "CheckTrustedNodes", "1", 1, 1, 0 },
};

int UpgradeStep77(void)
{
   static const UpgradeOp ops[] =
   {
      OP_CREATE_TABLE("CREATE TABLE trusted_nodes (source_object_id integer not null,target_node_id integer not null,PRIMARY KEY(source_object_id,target_node_id))"),
      OP_CONFIG(g_config77),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 78);
}

/*** 78 to 79: modules dropped; long texts on MySQL ***/

/* RedeclareMySqlTextColumns - the long-text columns as "text not null", on MySQL only. */
static int RedeclareMySqlTextColumns(void)
{
   if (g_nDbSyntax != DIALECT_MYSQL)
      return 1;
   return RunSqlBatch("ALTER TABLE users MODIFY COLUMN cert_mapping_data text not null\n"
                      "ALTER TABLE user_profiles MODIFY COLUMN var_value text not null\n"
                      "ALTER TABLE object_properties MODIFY COLUMN comments text not null\n"
                      "ALTER TABLE network_services MODIFY COLUMN check_request text not null\n"
                      "ALTER TABLE network_services MODIFY COLUMN check_responce text not null\n"
                      "ALTER TABLE conditions MODIFY COLUMN script text not null\n"
                      "ALTER TABLE container_categories MODIFY COLUMN description text not null\n"
                      "ALTER TABLE items MODIFY COLUMN transformation text not null\n"
                      "ALTER TABLE event_cfg MODIFY COLUMN description text not null\n"
                      "ALTER TABLE actions MODIFY COLUMN action_data text not null\n"
                      "ALTER TABLE event_policy MODIFY COLUMN comments text not null\n"
                      "ALTER TABLE event_policy MODIFY COLUMN script text not null\n"
                      "ALTER TABLE alarm_change_log MODIFY COLUMN info_text text not null\n"
                      "ALTER TABLE alarm_notes MODIFY COLUMN note_text text not null\n"
                      "ALTER TABLE object_tools MODIFY COLUMN tool_data text not null\n"
                      "ALTER TABLE syslog MODIFY COLUMN msg_text text not null\n"
                      "ALTER TABLE script_library MODIFY COLUMN script_code text not null\n"
                      "ALTER TABLE snmp_trap_log MODIFY COLUMN trap_varlist text not null\n"
                      "ALTER TABLE maps MODIFY COLUMN description text not null\n"
                      "ALTER TABLE agent_configs MODIFY COLUMN config_file text not null\n"
                      "ALTER TABLE agent_configs MODIFY COLUMN config_filter text not null\n"
                      "ALTER TABLE graphs MODIFY COLUMN config text not null\n"
                      "ALTER TABLE certificates MODIFY COLUMN cert_data text not null\n"
                      "ALTER TABLE certificates MODIFY COLUMN subject text not null\n"
                      "ALTER TABLE certificates MODIFY COLUMN comments text not null\n"
                      "ALTER TABLE audit_log MODIFY COLUMN message text not null\n"
                      "ALTER TABLE situations MODIFY COLUMN comments text not null\n"
                      "<END>");
}

int UpgradeStep78(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("DELETE FROM config WHERE var_name='RetainCustomInterfaceNames'\n"
               "DROP TABLE modules\n"
               "<END>"),
      OP_ROUTINE(RedeclareMySqlTextColumns),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 79);
}

/*** 79 to 80: system name of nodes ***/

int UpgradeStep79(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE nodes ADD uname varchar(255)\n"
               "UPDATE nodes SET uname='#00'\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 80);
}

/*** 80 to 81: keys for schedules and address lists, custom attributes, web maps ***/

/*
 * ComposeDciScheduleRow - schedule ids run 1, 2, 3, ... over the whole
 * table in the order the rows come back.  The schedule is copied as stored,
 * neither decoded nor encoded.  A text that fills its read buffer may have
 * been cut; such a row cannot fit the statement buffer either, so FormatSql
 * refuses it rather than storing a shortened value.
 */
static int ComposeDciScheduleRow(db_result_t hResult, int iRow, int *pnState, char *pszBuffer, size_t nSize)
{
   char szSchedule[REBUILD_TEXT_SIZE];
   char szQuoted[REBUILD_TEXT_SIZE * 2];
   (void)pnState;
   DBGetField(hResult, iRow, 1, szSchedule, sizeof(szSchedule));
   DoubleSingleQuotes(szQuoted, szSchedule);
   return snprintf(pszBuffer, nSize, "INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(%d,%d,'%s')",
                   (int)DBGetFieldULong(hResult, iRow, 0), iRow + 1, szQuoted);
}

/* ComposeAddressListRow - the addresses are copied as stored. */
static int ComposeAddressListRow(db_result_t hResult, int iRow, int *pnState, char *pszBuffer, size_t nSize)
{
   char szAddr1[REBUILD_TEXT_SIZE], szAddr2[REBUILD_TEXT_SIZE];
   char szQuoted1[REBUILD_TEXT_SIZE * 2], szQuoted2[REBUILD_TEXT_SIZE * 2];
   (void)pnState;
   DBGetField(hResult, iRow, 3, szAddr1, sizeof(szAddr1));
   DBGetField(hResult, iRow, 4, szAddr2, sizeof(szAddr2));
   DoubleSingleQuotes(szQuoted1, szAddr1);
   DoubleSingleQuotes(szQuoted2, szAddr2);
   return snprintf(pszBuffer, nSize,
                   "INSERT INTO address_lists (list_type,community_id,addr_type,addr1,addr2) VALUES(%d,%d,%d,'%s','%s')",
                   (int)DBGetFieldULong(hResult, iRow, 0), (int)DBGetFieldULong(hResult, iRow, 1),
                   (int)DBGetFieldULong(hResult, iRow, 2), szQuoted1, szQuoted2);
}

/* Under -X an unreadable table is left as it is. */
static const TableRebuild g_dciSchedulesRebuild =
{
   "dci_schedules",
   "SELECT item_id,schedule FROM dci_schedules",
   1,
   "DROP TABLE dci_schedules",
   "CREATE TABLE dci_schedules (schedule_id integer not null,item_id integer not null,schedule varchar(255) not null,PRIMARY KEY(item_id,schedule_id))",
   0,
   ComposeDciScheduleRow
};

static const TableRebuild g_addressListsRebuild =
{
   "address_lists",
   "SELECT list_type,community_id,addr_type,addr1,addr2 FROM address_lists",
   1,
   "DROP TABLE address_lists",
   "CREATE TABLE address_lists (list_type integer not null,community_id integer not null,addr_type integer not null,addr1 varchar(15) not null,addr2 varchar(15) not null,PRIMARY KEY(list_type,community_id,addr_type,addr1,addr2))",
   0,
   ComposeAddressListRow
};

static int RebuildDciSchedules(void)
{
   return RebuildTable(&g_dciSchedulesRebuild);
}

static int RebuildAddressLists(void)
{
   return RebuildTable(&g_addressListsRebuild);
}

int UpgradeStep80(void)
{
   static const UpgradeOp ops[] =
   {
      OP_ROUTINE(RebuildDciSchedules),
      OP_ROUTINE(RebuildAddressLists),
      OP_CREATE_TABLE("CREATE TABLE object_custom_attributes (object_id integer not null,attr_name varchar(127) not null,attr_value $SQL:TEXT not null,PRIMARY KEY(object_id,attr_name))"),
      OP_CREATE_TABLE("CREATE TABLE web_maps (id integer not null,title varchar(63) not null,properties $SQL:TEXT not null,data $SQL:TEXT not null,PRIMARY KEY(id))"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 81);
}

/*** 81 to 82: long config values ***/

int UpgradeStep81(void)
{
   static const UpgradeOp ops[] =
   {
      OP_CREATE_TABLE("CREATE TABLE config_clob (var_name varchar(63) not null,var_value $SQL:TEXT not null,PRIMARY KEY(var_name))"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 82);
}

/*** 82 to 83: alarm timeouts reset ***/

int UpgradeStep82(void)
{
   static const UpgradeOp ops[] =
   {
      OP_EXEC("UPDATE alarms SET timeout=0,timeout_event=43"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 83);
}
