/*
 * steps_30_47.cpp - upgrade steps from format version 30 to 48.
 *
 * Each step is an ordered list of operations run by RunUpgradeStep (see
 * upgrade.h): constant scripts in the batch format and constant tables of
 * event templates, object tools, their table columns, SNMP object-id
 * mappings and config rows.  Only step 40 to 41, which gives every user and
 * user group a GUID of its own, walks rows.
 */
#include "upgrade.h"

/* The encoded line break that joins the lines of an event description. */
#define EOL "#0D#0A"

/* Insert forms of object tools: before and after the column matching_oid. */
#define FORM_OBJECT_TOOL_31 "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,description) VALUES ("
#define FORM_OBJECT_TOOL_43 "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description) VALUES ("

/* The access row that grants a tool to everyone (user id 0x80000000). */
#define TOOL_ACL(id) "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (" #id ",-2147483648)\n"

/* Local-machine default of the RADIUS server. */
#define DEFAULT_RADIUS_SERVER "localhost"

/* ------------------------------------------------------------------------
 * Step 30 to 31
 */

static const ConfigParamRow s_config30[] = {
   { "NumberOfRoutingTablePollers", "5", 1, 1, 0 },
   { "RoutingTableUpdateInterval", "300", 1, 1, 0 },
};

int UpgradeStep30(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("INSERT INTO default_images (object_class,image_id) VALUES (12, 14)\n"
               "INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (14,'Obj.VPNConnector','vpnc.png','<invalid_hash>','vpnc.ico','<invalid_hash>')\n"
               "<END>"),
      OP_CREATE_TABLE("CREATE TABLE vpn_connectors (id integer not null,node_id integer not null,peer_gateway integer not null,PRIMARY KEY(id))"),
      OP_CREATE_TABLE("CREATE TABLE vpn_connector_networks (vpn_id integer not null,network_type integer not null,ip_addr varchar(15) not null,ip_netmask varchar(15) not null,PRIMARY KEY(vpn_id,ip_addr))"),
      OP_CONFIG(s_config30),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 31);
}

/* ------------------------------------------------------------------------
 * Step 31 to 32
 */

/* Columns: id, name, type, data, flags, matching_oid (none yet), description, confirmation (none). */
static const ObjectToolRow s_tools31[] = {
   { 1, "&Shutdown system", 1, "System.Shutdown", 0, NULL, "Shutdown target node via Velmor agent", NULL },
   { 2, "&Restart system", 1, "System.Restart", 0, NULL, "Restart target node via Velmor agent", NULL },
   { 3, "&Wakeup node", 0, "wakeup", 0, NULL, "Wakeup node using Wake-On-LAN magic packet", NULL },
   { 4, "Restart &agent", 1, "Agent.Restart", 0, NULL, "Restart Velmor agent on target node", NULL },
};

int UpgradeStep31(void)
{
   static const UpgradeOp ops[] = {
      OP_CREATE_TABLE("CREATE TABLE object_tools (tool_id integer not null,tool_name varchar(255) not null,tool_type integer not null,tool_data $SQL:TEXT,description varchar(255),flags integer not null,PRIMARY KEY(tool_id))"),
      OP_CREATE_TABLE("CREATE TABLE object_tools_acl (tool_id integer not null,user_id integer not null,PRIMARY KEY(tool_id,user_id))"),
      OP_TOOLS(FORM_OBJECT_TOOL_31, s_tools31),
      OP_BATCH(TOOL_ACL(1) TOOL_ACL(2) TOOL_ACL(3) TOOL_ACL(4) "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 32);
}

/* ------------------------------------------------------------------------
 * Step 32 to 33
 *
 * Each tool row is followed by its table columns, so the tools stand in
 * small tables of their own, in ascending order.
 */

static const ObjectToolRow s_tool5[] = {
   { 5, "&Info->&Switch forwarding database (FDB)", 2, "Forwarding database", 0, NULL,
     "Show switch forwarding database", NULL },
};
static const ToolColumnRow s_columns5[] = {
   { 5, 0, "MAC Address", ".1.3.6.1.2.1.17.4.3.1.1", 4, 0 },
   { 5, 1, "Port", ".1.3.6.1.2.1.17.4.3.1.2", 1, 0 },
};
/* Tools 6 and 7 have no table columns. */
static const ObjectToolRow s_tools6to8[] = {
   { 6, "&Connect->Open &web browser", 4, "http://%OBJECT_IP_ADDR%", 0, NULL,
     "Open embedded web browser to node", NULL },
   { 7, "&Connect->Open &web browser (HTTPS)", 4, "https://%OBJECT_IP_ADDR%", 0, NULL,
     "Open embedded web browser to node using HTTPS", NULL },
   { 8, "&Info->&Agent->&Subagent list", 3, "Subagent List#7FAgent.SubAgentList#7F^(.*) (.*) (.*) (.*)", 0, NULL,
     "Show list of loaded subagents", NULL },
};
static const ToolColumnRow s_columns8[] = {
   { 8, 0, "Name", "", 0, 1 },
   { 8, 1, "Version", "", 0, 2 },
   { 8, 2, "File", "", 0, 4 },
   { 8, 3, "Module handle", "", 0, 3 },
};
static const ObjectToolRow s_tool9[] = {
   { 9, "&Info->&Agent->Supported &parameters", 3, "Supported parameters#7FAgent.SupportedParameters#7F^(.*)", 0, NULL,
     "Show list of parameters supported by agent", NULL },
};
static const ToolColumnRow s_columns9[] = {
   { 9, 0, "Parameter", "", 0, 1 },
};
static const ObjectToolRow s_tool10[] = {
   { 10, "&Info->&Agent->Supported &enums", 3, "Supported enums#7FAgent.SupportedEnums#7F^(.*)", 0, NULL,
     "Show list of enums supported by agent", NULL },
};
static const ToolColumnRow s_columns10[] = {
   { 10, 0, "Parameter", "", 0, 1 },
};
static const ObjectToolRow s_tool11[] = {
   { 11, "&Info->&Agent->Supported &actions", 3, "Supported actions#7FAgent.ActionList#7F^(.*) (.*) #22(.*)#22.*", 0, NULL,
     "Show list of actions supported by agent", NULL },
};
static const ToolColumnRow s_columns11[] = {
   { 11, 0, "Name", "", 0, 1 },
   { 11, 1, "Type", "", 0, 2 },
   { 11, 2, "Data", "", 0, 3 },
};
static const ObjectToolRow s_tool12[] = {
   { 12, "&Info->&Agent->Configured &ICMP targets", 3, "Configured ICMP targets#7FICMP.TargetList#7F^(.*) (.*) (.*) (.*)", 0, NULL,
     "Show list of ICMP targets configured on agent", NULL },
};
/* There is no column 3; step 51 to 52 renumbers these columns. */
static const ToolColumnRow s_columns12[] = {
   { 12, 0, "IP Address", "", 0, 1 },
   { 12, 1, "Name", "", 0, 4 },
   { 12, 2, "Last RTT", "", 0, 2 },
   { 12, 4, "Average RTT", "", 0, 3 },
};

int UpgradeStep32(void)
{
   static const UpgradeOp ops[] = {
      OP_CREATE_TABLE("CREATE TABLE object_tools_table_columns (tool_id integer not null,col_number integer not null,col_name varchar(255),col_oid varchar(255),col_format integer,col_substr integer,PRIMARY KEY(tool_id,col_number))"),
      OP_TOOLS(FORM_OBJECT_TOOL_31, s_tool5),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, s_columns5),
      OP_TOOLS(FORM_OBJECT_TOOL_31, s_tools6to8),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, s_columns8),
      OP_TOOLS(FORM_OBJECT_TOOL_31, s_tool9),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, s_columns9),
      OP_TOOLS(FORM_OBJECT_TOOL_31, s_tool10),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, s_columns10),
      OP_TOOLS(FORM_OBJECT_TOOL_31, s_tool11),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, s_columns11),
      OP_TOOLS(FORM_OBJECT_TOOL_31, s_tool12),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, s_columns12),
      OP_BATCH(TOOL_ACL(5) TOOL_ACL(6) TOOL_ACL(7) TOOL_ACL(8) TOOL_ACL(9) TOOL_ACL(10)
               TOOL_ACL(11) TOOL_ACL(12) "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 33);
}

/* ------------------------------------------------------------------------
 * Step 33 to 34
 */

static const ConfigParamRow s_config33[] = {
   { "IcmpPingSize", "46", 1, 1, 0 },
   { "SMSDrvConfig", "", 1, 1, 0 },
   { "EnableSyslogDaemon", "0", 1, 1, 0 },
   { "SyslogListenPort", "514", 1, 1, 0 },
   { "SyslogRetentionTime", "5184000", 1, 0, 0 },
};

int UpgradeStep33(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE items ADD adv_schedule integer\n"
               "UPDATE items SET adv_schedule=0\n"
               "<END>"),
      /* A table without primary key. */
      OP_CREATE_TABLE("CREATE TABLE dci_schedules (item_id integer not null,schedule varchar(255) not null)"),
      OP_CREATE_TABLE("CREATE TABLE syslog (msg_id $SQL:INT64 not null,msg_timestamp integer not null,facility integer not null,severity integer not null,source_object_id integer not null,hostname varchar(127) not null,msg_tag varchar(32) not null,msg_text $SQL:TEXT not null,PRIMARY KEY(msg_id))"),
      OP_CONFIG(s_config33),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 34);
}

/* ------------------------------------------------------------------------
 * Step 34 to 35
 */

static const ConfigParamRow s_config34[] = {
   { "StatusCalculationAlgorithm", "1", 1, 1, 0 },
   { "StatusPropagationAlgorithm", "1", 1, 1, 0 },
   { "FixedStatusValue", "0", 1, 1, 0 },
   { "StatusShift", "0", 1, 1, 0 },
   { "StatusTranslation", "01020304", 1, 1, 0 },
   { "StatusSingleThreshold", "75", 1, 1, 0 },
   { "StatusThresholds", "503C2814", 1, 1, 0 },
};

int UpgradeStep34(void)
{
   static const UpgradeOp ops[] = {
      /* The old StatusCalculationAlgorithm row goes, so that the row below
         is created again with its new default. */
      OP_BATCH("ALTER TABLE object_properties DROP COLUMN status_alg\n"
               "ALTER TABLE object_properties ADD status_calc_alg integer\n"
               "ALTER TABLE object_properties ADD status_prop_alg integer\n"
               "ALTER TABLE object_properties ADD status_fixed_val integer\n"
               "ALTER TABLE object_properties ADD status_shift integer\n"
               "ALTER TABLE object_properties ADD status_translation varchar(8)\n"
               "ALTER TABLE object_properties ADD status_single_threshold integer\n"
               "ALTER TABLE object_properties ADD status_thresholds varchar(8)\n"
               "UPDATE object_properties SET status_calc_alg=0,status_prop_alg=0,status_fixed_val=0,status_shift=0,status_translation='01020304',status_single_threshold=75,status_thresholds='503C2814'\n"
               "DELETE FROM config WHERE var_name='StatusCalculationAlgorithm'\n"
               "<END>"),
      OP_CONFIG(s_config34),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 35);
}

/* ------------------------------------------------------------------------
 * Step 35 to 36
 */

static const ConfigParamRow s_config35[] = {
   { "CapabilityExpirationTime", "604800", 1, 0, 0 },
};

int UpgradeStep35(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE nodes ADD proxy_node integer\n"
               "UPDATE nodes SET proxy_node=0\n"
               "ALTER TABLE object_tools ADD matching_oid varchar(255)\n"
               "UPDATE object_tools SET matching_oid='#00'\n"
               "<END>"),
      OP_CONFIG(s_config35),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 36);
}

/* ------------------------------------------------------------------------
 * Step 36 to 37
 */

static const ConfigParamRow s_config36[] = {
   { "DefaultCommunityString", "mirtal", 1, 0, 0 },
   { "DiscoveryFilter", "none", 1, 0, 0 },
};

int UpgradeStep36(void)
{
   static const UpgradeOp ops[] = {
      OP_CREATE_TABLE("CREATE TABLE script_library (script_id integer not null,script_name varchar(63) not null,script_code $SQL:TEXT not null,PRIMARY KEY(script_id))"),
      /* The library scripts are stored encoded, lines joined by #0D#0A. */
      OP_BATCH("DROP TABLE new_nodes\n"
               "DELETE FROM config WHERE var_name='NewNodePollingInterval'\n"
               "INSERT INTO script_library (script_id,script_name,script_code) VALUES (1,'Filter::SNMP','sub main()#0D#0A{#0D#0A   return $1->isSNMP;#0D#0A}#0D#0A')\n"
               "INSERT INTO script_library (script_id,script_name,script_code) VALUES (2,'Filter::Agent','sub main()#0D#0A{#0D#0A   return $1->isAgent;#0D#0A}#0D#0A')\n"
               "INSERT INTO script_library (script_id,script_name,script_code) VALUES (3,'Filter::AgentOrSNMP','sub main()#0D#0A{#0D#0A   return $1->isAgent || $1->isSNMP;#0D#0A}#0D#0A')\n"
               "INSERT INTO script_library (script_id,script_name,script_code) VALUES (4,'DCI::SampleTransform','sub dci_transform()#0D#0A{#0D#0A   return $1 + 1;#0D#0A}#0D#0A')\n"
               "<END>"),
      OP_CONFIG(s_config36),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 37);
}

/* ------------------------------------------------------------------------
 * Step 37 to 38
 */

static const ConfigParamRow s_config37[] = {
   { "LogAllSNMPTraps", "0", 1, 1, 0 },
};

int UpgradeStep37(void)
{
   static const UpgradeOp ops[] = {
      OP_CREATE_TABLE("CREATE TABLE snmp_trap_log (trap_id $SQL:INT64 not null,trap_timestamp integer not null,ip_addr varchar(15) not null,object_id integer not null,trap_oid varchar(255) not null,trap_varlist $SQL:TEXT not null,PRIMARY KEY(trap_id))"),
      OP_BATCH("CREATE INDEX idx_event_log_event_timestamp ON event_log(event_timestamp)\n"
               "CREATE INDEX idx_syslog_msg_timestamp ON syslog(msg_timestamp)\n"
               "CREATE INDEX idx_snmp_trap_log_trap_timestamp ON snmp_trap_log(trap_timestamp)\n"
               "<END>"),
      OP_CONFIG(s_config37),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 38);
}

/* ------------------------------------------------------------------------
 * Step 38 to 39
 */

static const EventTemplateRow s_events38[] = {
   { 33, "SYS_SCRIPT_ERROR", 2, 1, "Script (%1) execution error: %2",
     "Generated when server encounters VLSL script execution error." EOL "Parameters:" EOL
     "   1) Script name" EOL "   2) Error text" EOL
     "   3) DCI ID if script is DCI transformation script, or 0 otherwise" },
};

static const ConfigParamRow s_config38[] = {
   { "LockTimeout", "60000", 1, 1, 0 },
   { "DisableVacuum", "0", 1, 0, 0 },
};

int UpgradeStep38(void)
{
   static const UpgradeOp ops[] = {
      OP_CREATE_TABLE("CREATE TABLE maps\t(map_id integer not null,map_name varchar(255) not null,description $SQL:TEXT not null,root_object_id integer not null,PRIMARY KEY(map_id))"),
      OP_CREATE_TABLE("CREATE TABLE map_access_lists (map_id integer not null,user_id integer not null,access_rights integer not null,PRIMARY KEY(map_id,user_id))"),
      OP_CREATE_TABLE("CREATE TABLE submaps (map_id integer not null,submap_id integer not null,attributes integer not null,PRIMARY KEY(map_id,submap_id))"),
      OP_CREATE_TABLE("CREATE TABLE submap_object_positions (map_id integer not null,submap_id integer not null,object_id integer not null,x integer not null,y integer not null,PRIMARY KEY(map_id,submap_id,object_id))"),
      OP_CREATE_TABLE("CREATE TABLE submap_links (map_id integer not null,submap_id integer not null,object_id1 integer not null,object_id2 integer not null,link_type integer not null,PRIMARY KEY(map_id,submap_id,object_id1,object_id2))"),
      OP_BATCH("INSERT INTO maps (map_id,map_name,description,root_object_id) VALUES (1,'Default','Default network map',1)\n"
               "INSERT INTO map_access_lists (map_id,user_id,access_rights) VALUES (1,-2147483648,1)\n"
               "<END>"),
      OP_EVENTS(FORM_EVENT_CFG, s_events38),
      OP_CONFIG(s_config38),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 39);
}

/* ------------------------------------------------------------------------
 * Step 39 to 40
 */

int UpgradeStep39(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE users ADD grace_logins integer\n"
               "UPDATE users SET grace_logins=5\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 40);
}

/* ------------------------------------------------------------------------
 * Step 40 to 41
 */

/*
 * AssignGuids - give every row of a table (users or user_groups) a GUID of
 * its own, generated when its statement is built.  A failed select is
 * always tolerated: the table simply gets no GUIDs.  pszUpdate has "%s"
 * for the GUID and "%d" for the id.  Returns 0 when the step must fail.
 */
static int AssignGuids(const char *pszSelect, const char *pszUpdate)
{
   db_result_t hResult = SelectQuery(pszSelect);
   if (hResult == NULL)
      return 1;

   int nRows = DBGetNumRows(hResult);
   for (int i = 0; i < nRows; i++)
   {
      uint32_t dwId = DBGetFieldULong(hResult, i, 0);
      uuid_t guid;
      char szGuid[64];
      char szQuery[256];

      uuid_generate(guid);
      uuid_to_string(guid, szGuid);
      int bResult = FormatSql(szQuery, sizeof(szQuery), pszUpdate, szGuid, (int)dwId) &&
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

static int GenerateGuids(void)
{
   ConsoleWrite("Generating GUIDs...\n");
   if (!AssignGuids("SELECT id FROM users", "UPDATE users SET guid='%s' WHERE id=%d"))
      return 0;
   return AssignGuids("SELECT id FROM user_groups", "UPDATE user_groups SET guid='%s' WHERE id=%d");
}

static const ConfigParamRow s_config40[] = {
   { "RADIUSServer", DEFAULT_RADIUS_SERVER, 1, 0, 0 },
   { "RADIUSSecret", "quelba", 1, 0, 0 },
   { "RADIUSNumRetries", "5", 1, 0, 0 },
   { "RADIUSTimeout", "3", 1, 0, 0 },
};

int UpgradeStep40(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE users ADD guid varchar(36)\n"
               "ALTER TABLE users ADD auth_method integer\n"
               "ALTER TABLE user_groups ADD guid varchar(36)\n"
               "UPDATE users SET auth_method=0\n"
               "<END>"),
      OP_ROUTINE(GenerateGuids),
      OP_CONFIG(s_config40),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 41);
}

/* ------------------------------------------------------------------------
 * Step 41 to 42
 */

/* These messages hold plain double quotes, not the encoded #22. */
static const EventTemplateRow s_events41[] = {
   { 34, "SYS_CONDITION_ACTIVATED", 2, 1, "Condition \"%2\" activated",
     "Default event for condition activation." EOL "Parameters:" EOL
     "   1) Condition object ID" EOL "   2) Condition object name" EOL
     "   3) Previous condition status" EOL "   4) Current condition status" },
   { 35, "SYS_CONDITION_DEACTIVATED", 0, 1, "Condition \"%2\" deactivated",
     "Default event for condition deactivation." EOL "Parameters:" EOL
     "   1) Condition object ID" EOL "   2) Condition object name" EOL
     "   3) Previous condition status" EOL "   4) Current condition status" },
};

static const ConfigParamRow s_config41[] = {
   { "NumberOfConditionPollers", "10", 1, 1, 0 },
   { "ConditionPollingInterval", "60", 1, 1, 0 },
};

int UpgradeStep41(void)
{
   static const UpgradeOp ops[] = {
      OP_CREATE_TABLE("CREATE TABLE conditions\t(id integer not null,activation_event integer not null,deactivation_event integer not null,source_object integer not null,active_status integer not null,inactive_status integer not null,script $SQL:TEXT not null,PRIMARY KEY(id))"),
      OP_CREATE_TABLE("CREATE TABLE cond_dci_map (condition_id integer not null,dci_id integer not null,node_id integer not null,dci_func integer not null,num_polls integer not null,PRIMARY KEY(condition_id,dci_id))"),
      OP_BATCH("INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (15,'Obj.Condition','condition.png','<invalid_hash>','condition.ico','<invalid_hash>')\n"
               "INSERT INTO default_images (object_class,image_id) VALUES (13, 15)\n"
               "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (1,'.1.3.6.1.4.1.3224.1.*',2,0)\n"
               "<END>"),
      OP_EVENTS(FORM_EVENT_CFG, s_events41),
      OP_CONFIG(s_config41),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 42);
}

/* ------------------------------------------------------------------------
 * Step 42 to 43
 */

static const ConfigParamRow s_config42[] = {
   { "RADIUSPort", "1645", 1, 0, 0 },
};

int UpgradeStep42(void)
{
   static const UpgradeOp ops[] = {
      OP_CONFIG(s_config42),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 43);
}

/* ------------------------------------------------------------------------
 * Step 43 to 44
 */

static const ConfigParamRow s_config43[] = {
   { "DBLockPID", "0", 0, 0, 0 },
};

int UpgradeStep43(void)
{
   static const UpgradeOp ops[] = {
      OP_CREATE_TABLE("CREATE TABLE agent_configs (config_id integer not null,config_name varchar(255) not null,config_file $SQL:TEXT not null,config_filter $SQL:TEXT not null,sequence_number integer not null,PRIMARY KEY(config_id))"),
      /* Tool 8000 goes with its columns and access rows; tool 13 comes. */
      OP_BATCH("DELETE FROM object_tools WHERE tool_id=8000\n"
               "DELETE FROM object_tools_table_columns WHERE tool_id=8000\n"
               "DELETE FROM object_tools_acl WHERE tool_id=8000\n"
               "INSERT INTO object_tools (tool_id,tool_name,tool_type,tool_data,flags,matching_oid,description) VALUES (13,'&Info->&Process list',3,'Process List#7FSystem.ProcessList#7F^([0-9]+) (.*)',2,'','Show list of currently running processes')\n"
               "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (13,0,'PID','',0,1)\n"
               "INSERT INTO object_tools_table_columns (tool_id,col_number,col_name,col_oid,col_format,col_substr) VALUES (13,1,'Name','',0,2)\n"
               TOOL_ACL(13)
               "<END>"),
      OP_CONFIG(s_config43),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 44);
}

/* ------------------------------------------------------------------------
 * Step 44 to 45
 */

static const EventTemplateRow s_events44[] = {
   { 36, "SYS_DB_CONN_LOST", 4, 1, "Lost connection with backend database engine",
     "Generated if connection with backend database engine is lost." EOL "Parameters:" EOL
     "   No message-specific parameters" },
   { 37, "SYS_DB_CONN_RESTORED", 0, 1, "Connection with backend database engine restored",
     "Generated when connection with backend database engine restored." EOL "Parameters:" EOL
     "   No message-specific parameters" },
};

int UpgradeStep44(void)
{
   static const UpgradeOp ops[] = {
      OP_EVENTS(FORM_EVENT_CFG, s_events44),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 45);
}

/* ------------------------------------------------------------------------
 * Step 45 to 46
 */

static const OidToTypeRow s_oids45[] = {
   { 2, ".1.3.6.1.4.1.45.3.26.*", 3, 0 },
   { 3, ".1.3.6.1.4.1.45.3.30.*", 3, 0 },
   { 4, ".1.3.6.1.4.1.45.3.31.*", 3, 0 },
   { 5, ".1.3.6.1.4.1.45.3.32.*", 3, 0 },
   { 6, ".1.3.6.1.4.1.45.3.33.*", 3, 0 },
   { 7, ".1.3.6.1.4.1.45.3.34.*", 3, 0 },
   { 8, ".1.3.6.1.4.1.45.3.35.*", 3, 0 },
   { 9, ".1.3.6.1.4.1.45.3.36.*", 3, 0 },
   { 10, ".1.3.6.1.4.1.45.3.40.*", 3, 0 },
   { 11, ".1.3.6.1.4.1.45.3.61.*", 3, 0 },
};

static const ObjectToolRow s_tool14[] = {
   { 14, "&Info->Topology table (Nortel)", 2, "Topology table", 1, "",
     "Show topology table (Nortel protocol)", NULL },
};
static const ToolColumnRow s_columns14[] = {
   { 14, 0, "Peer IP", ".1.3.6.1.4.1.45.1.6.13.2.1.1.3", 3, 0 },
   { 14, 1, "Peer MAC", ".1.3.6.1.4.1.45.1.6.13.2.1.1.5", 4, 0 },
   { 14, 2, "Port", ".1.3.6.1.4.1.45.1.6.13.2.1.1.2", 5, 0 },
};
static const ObjectToolRow s_tool15[] = {
   { 15, "&Info->Topology table (CDP)", 2, "Topology table", 1, "",
     "Show topology table (CDP)", NULL },
};
static const ToolColumnRow s_columns15[] = {
   { 15, 0, "Device ID", ".1.3.6.1.4.1.9.9.23.1.2.1.1.6", 0, 0 },
   { 15, 1, "IP Address", ".1.3.6.1.4.1.9.9.23.1.2.1.1.4", 3, 0 },
   { 15, 2, "Platform", ".1.3.6.1.4.1.9.9.23.1.2.1.1.8", 0, 0 },
   { 15, 3, "Version", ".1.3.6.1.4.1.9.9.23.1.2.1.1.5", 0, 0 },
   { 15, 4, "Port", ".1.3.6.1.4.1.9.9.23.1.2.1.1.7", 0, 0 },
};

int UpgradeStep45(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("UPDATE object_tools_table_columns SET col_format=5 WHERE tool_id=5 AND col_number=1\n"
               "<END>"),
      OP_OIDS(FORM_OID_TO_TYPE, s_oids45),
      OP_TOOLS(FORM_OBJECT_TOOL_43, s_tool14),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, s_columns14),
      OP_BATCH(TOOL_ACL(14) "<END>"),
      OP_TOOLS(FORM_OBJECT_TOOL_43, s_tool15),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, s_columns15),
      OP_BATCH(TOOL_ACL(15) "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 46);
}

/* ------------------------------------------------------------------------
 * Step 46 to 47
 */

int UpgradeStep46(void)
{
   static const UpgradeOp ops[] = {
      /* alarms: is_ack becomes alarm_state; severity and alarm_timestamp are
         each copied into two new columns.  The rows of alarm_notes go. */
      OP_BATCH("ALTER TABLE object_properties ADD comments $SQL:TEXT\n"
               "UPDATE object_properties SET comments='#00'\n"
               "ALTER TABLE nodes DROP COLUMN discovery_flags\n"
               "DROP TABLE alarm_notes\n"
               "ALTER TABLE alarms ADD alarm_state integer\n"
               "ALTER TABLE alarms ADD hd_state integer\n"
               "ALTER TABLE alarms ADD hd_ref varchar(63)\n"
               "ALTER TABLE alarms ADD creation_time integer\n"
               "ALTER TABLE alarms ADD last_change_time integer\n"
               "ALTER TABLE alarms ADD original_severity integer\n"
               "ALTER TABLE alarms ADD current_severity integer\n"
               "ALTER TABLE alarms ADD repeat_count integer\n"
               "ALTER TABLE alarms ADD term_by integer\n"
               "UPDATE alarms SET hd_state=0,hd_ref='#00',creation_time=alarm_timestamp,last_change_time=alarm_timestamp,original_severity=severity,current_severity=severity,repeat_count=1,term_by=ack_by\n"
               "UPDATE alarms SET alarm_state=0 WHERE is_ack=0\n"
               "UPDATE alarms SET alarm_state=2 WHERE is_ack<>0\n"
               "ALTER TABLE alarms DROP COLUMN severity\n"
               "ALTER TABLE alarms DROP COLUMN alarm_timestamp\n"
               "ALTER TABLE alarms DROP COLUMN is_ack\n"
               "ALTER TABLE thresholds ADD current_state integer\n"
               "UPDATE thresholds SET current_state=0\n"
               "<END>"),
      OP_CREATE_TABLE("CREATE TABLE alarm_notes (note_id integer not null,alarm_id integer not null,change_time integer not null,user_id integer not null,note_text $SQL:TEXT not null,PRIMARY KEY(note_id))"),
      OP_CREATE_TABLE("CREATE TABLE alarm_change_log\t(change_id $SQL:INT64 not null,change_time integer not null,alarm_id integer not null,opcode integer not null,user_id integer not null,info_text $SQL:TEXT not null,PRIMARY KEY(change_id))"),
      /* The table is named alarm_grops in every database since. */
      OP_CREATE_TABLE("CREATE TABLE alarm_grops (alarm_group_id integer not null,group_name varchar(255) not null,PRIMARY KEY(alarm_group_id))"),
      OP_CREATE_TABLE("CREATE TABLE alarm_group_map (alarm_group_id integer not null,alarm_id integer not null,PRIMARY KEY(alarm_group_id,alarm_id))"),
      OP_BATCH("CREATE INDEX idx_alarm_notes_alarm_id ON alarm_notes(alarm_id)\n"
               "CREATE INDEX idx_alarm_change_log_alarm_id ON alarm_change_log(alarm_id)\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 47);
}

/* ------------------------------------------------------------------------
 * Step 47 to 48
 */

int UpgradeStep47(void)
{
   static const UpgradeOp ops[] = {
      OP_BATCH("ALTER TABLE event_policy ADD script $SQL:TEXT\n"
               "UPDATE event_policy SET script='#00'\n"
               "<END>"),
      OP_CREATE_TABLE("CREATE TABLE policy_time_range_list (rule_id integer not null,time_range_id integer not null,PRIMARY KEY(rule_id,time_range_id))"),
      OP_CREATE_TABLE("CREATE TABLE time_ranges (time_range_id integer not null,wday_mask integer not null,mday_mask integer not null,month_mask integer not null,time_range varchar(255) not null,PRIMARY KEY(time_range_id))"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 48);
}
