/*
 * steps_48_64.cpp - upgrade steps from format version 48 to 65.
 *
 * Each UpgradeStepN moves the database from version N to N+1 and is run by
 * RunUpgradeCommand inside a transaction of its own.  Most steps are a
 * constant list of operations (scripts, CREATE TABLE statements, rows of
 * constant tables) handed to RunUpgradeStep, which applies the failure rule
 * and ends with the statement that stores the new version.  Two steps have
 * routines of their own: 52 to 53 walks the nodes to rebuild the index of
 * every per-node data table, and 64 to 65 widens a column with a statement
 * that depends on the SQL syntax.
 *
 * Texts such as '#00', '#0D#0A', '#25' and '#7F' are values in the server's
 * encoded string form; they are written exactly as they stand.
 */
#include "upgrade.h"
#include <string.h>

/* Line break inside event descriptions, in the encoded string form. */
#define EOL "#0D#0A"

/* Size of the statement buffer of the per-node index commands. */
#define IDATA_QUERY_SIZE 1024

/*
 * Command that creates the index of one per-node data table, by SqlDialect.
 * Both "%d" stand for the node id.  The same template is stored in the
 * config row IDataIndexCreationCommand_1 for the server to use on new nodes.
 */
static const char *const g_pszIDataIndexCommand[DIALECT_COUNT] =
{
   "CREATE INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)",          /* MYSQL */
   "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)",          /* PGSQL */
   "CREATE CLUSTERED INDEX idx_idata_%d_id_timestamp ON idata_%d(item_id,idata_timestamp)",/* MSSQL */
   "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)",          /* ORACLE */
   "CREATE INDEX idx_idata_%d_timestamp_id ON idata_%d(idata_timestamp,item_id)"           /* SQLITE */
};

/*** 48 to 49: "all thresholds" flag of items, rearm event of thresholds ***/

int UpgradeStep48(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE items ADD all_thresholds integer\n"
               "UPDATE items SET all_thresholds=0\n"
               "ALTER TABLE thresholds ADD rearm_event_code integer\n"
               "UPDATE thresholds SET rearm_event_code=18\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 49);
}

/*** 49 to 50: confirmation texts of object tools ***/

int UpgradeStep49(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE object_tools ADD confirmation_text varchar(255)\n"
               "UPDATE object_tools SET confirmation_text='#00'\n"
               "UPDATE object_tools SET flags=10 WHERE tool_id=1 OR tool_id=2 OR tool_id=4\n"
               "UPDATE object_tools SET confirmation_text='Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be shut down. Are you sure?' WHERE tool_id=1\n"
               "UPDATE object_tools SET confirmation_text='Host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be restarted. Are you sure?' WHERE tool_id=2\n"
               "UPDATE object_tools SET confirmation_text='Velmor agent on host #25OBJECT_NAME#25 (#25OBJECT_IP_ADDR#25) will be restarted. Are you sure?' WHERE tool_id=4\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 50);
}

/*** 50 to 51: code ranges of event groups ***/

int UpgradeStep50(void)
{
   /* The column is added as "range_END"; identifiers are not case-sensitive,
      so the UPDATE finds it as range_end. */
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE event_groups ADD range_start integer\n"
               "ALTER TABLE event_groups ADD range_END integer\n"
               "UPDATE event_groups SET range_start=0,range_end=0\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 51);
}

/*** 51 to 52: packet size in the ICMP target list, active user sessions tool ***/

static const ObjectToolRow g_tools51[] =
{
   /* tool_id, tool_name, tool_type, tool_data, flags, matching_oid, description, confirmation_text */
   { 16, "&Info->Active &user sessions", 3,
     "Active User Sessions#7FSystem.ActiveUserSessions#7F^\"(.*)\" \"(.*)\" \"(.*)\"", 2, "",
     "Show list of active user sessions", "#00" },
};

static const ToolColumnRow g_toolColumns51_12[] =
{
   /* tool_id, col_number, col_name, col_oid, col_format, col_substr */
   { 12, 2, "Packet size", "", 0, 4 },
};

static const ToolColumnRow g_toolColumns51_16[] =
{
   { 16, 0, "User", "", 0, 1 },
   { 16, 1, "Terminal", "", 0, 2 },
   { 16, 2, "From", "", 0, 3 },
};

static const ConfigParamRow g_config51[] =
{
   /* name, default value, is_visible, need_server_restart, overwrite */
   { "MailEncoding", "iso-8859-1", 1, 0, 0 },
};

int UpgradeStep51(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("UPDATE object_tools SET tool_data='Configured ICMP targets#7FICMP.TargetList#7F^(.*) (.*) (.*) (.*) (.*)' WHERE tool_id=12\n"
               "UPDATE object_tools_table_columns SET col_number=4 WHERE col_number=3 AND tool_id=12\n"
               "UPDATE object_tools_table_columns SET col_number=3 WHERE col_number=2 AND tool_id=12\n"
               "UPDATE object_tools_table_columns SET col_substr=5 WHERE col_number=1 AND tool_id=12\n"
               "<END>"),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, g_toolColumns51_12),
      OP_TOOLS(FORM_OBJECT_TOOL, g_tools51),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, g_toolColumns51_16),
      OP_BATCH("INSERT INTO object_tools_acl (tool_id,user_id) VALUES (16,-2147483648)\n"
               "<END>"),
      OP_CONFIG(g_config51),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 52);
}

/*** 52 to 53: new index of every per-node data table ***/

/*
 * ReindexNodeDataTables - drop the old timestamp index of every idata_<id>
 * table and create the index of the current syntax.  The DROP runs without
 * trace or error display (an old index may be missing); a failed CREATE is
 * shown but neither ends the loop nor the step.  Returns 0 only when the
 * nodes cannot be selected; that failure ends the step even under -X.
 */
static int ReindexNodeDataTables(void)
{
   const char *pszCommand = g_pszIDataIndexCommand[(int)g_nDbSyntax < DIALECT_COUNT ? g_nDbSyntax : DIALECT_SQLITE];
   char szQuery[IDATA_QUERY_SIZE];

   db_result_t hResult = SelectQuery("SELECT id FROM nodes");
   if (hResult == NULL)
      return 0;

   ConsolePrintf("Reindexing database:\n");
   int nRows = DBGetNumRows(hResult);
   for (int i = 0; i < nRows; i++)
   {
      uint32_t dwNodeId = DBGetFieldULong(hResult, i, 0);
      ConsolePrintf("   * idata_%d\n", (int)dwNodeId);

      if (FormatSql(szQuery, sizeof(szQuery), "DROP INDEX idx_idata_%d_timestamp", (int)dwNodeId))
         DBQuery(g_hDatabase, szQuery);

      if (FormatSql(szQuery, sizeof(szQuery), pszCommand, (int)dwNodeId, (int)dwNodeId))
         ExecQuery(szQuery);
   }
   DBFreeResult(hResult);
   return 1;
}

/*
 * ReplaceIDataIndexCommand - store the index template of the current syntax
 * in IDataIndexCreationCommand_1, replacing whatever the row held.
 */
static int ReplaceIDataIndexCommand(void)
{
   const char *pszCommand = g_pszIDataIndexCommand[(int)g_nDbSyntax < DIALECT_COUNT ? g_nDbSyntax : DIALECT_SQLITE];
   DBQuery(g_hDatabase, "DELETE FROM config WHERE var_name='IDataIndexCreationCommand_1'");
   return EnsureConfigParam("IDataIndexCreationCommand_1", pszCommand, 0, 1, 0);
}

int UpgradeStep52(void)
{
   static const UpgradeOp ops[] =
   {
      OP_ROUTINE(ReplaceIDataIndexCommand),
   };
   if (!ReindexNodeDataTables())
      return 0;
   return RunUpgradeStep(ops, OP_COUNT(ops), 53);
}

/*** 53 to 54: address lists for active discovery ***/

static const ConfigParamRow g_config53[] =
{
   { "ActiveNetworkDiscovery", "0", 1, 1, 0 },
   { "ActiveDiscoveryInterval", "7200", 1, 1, 0 },
   { "DiscoveryFilterFlags", "0", 1, 0, 0 },
};

int UpgradeStep53(void)
{
   static const UpgradeOp ops[] =
   {
      OP_CREATE_TABLE("CREATE TABLE address_lists (list_type integer not null,addr_type integer not null,addr1 varchar(15) not null,addr2 varchar(15) not null)"),
      OP_BATCH("CREATE INDEX idx_address_lists_list_type ON address_lists(list_type)\n"
               "DELETE FROM config WHERE var_name='EnableAccessControl'\n"
               "DELETE FROM config WHERE var_name='EnableEventAccessControl'\n"
               "<END>"),
      OP_CONFIG(g_config53),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 54);
}

/*** 54 to 55: object descriptions dropped, clusters ***/

static const ConfigParamRow g_config54[] =
{
   { "WindowsConsoleUpgradeURL", "http://www.velmor.org/download/velmor-console-%version%.exe", 1, 0, 0 },
};

int UpgradeStep54(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE containers DROP COLUMN description\n"
               "ALTER TABLE nodes DROP COLUMN description\n"
               "ALTER TABLE templates DROP COLUMN description\n"
               "ALTER TABLE zones DROP COLUMN description\n"
               "INSERT INTO images (image_id,name,file_name_png,file_hash_png,file_name_ico,file_hash_ico) VALUES (16,'Obj.Cluster','cluster.png','<invalid_hash>','cluster.ico','<invalid_hash>')\n"
               "INSERT INTO default_images (object_class,image_id) VALUES (14,16)\n"
               "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (12,'.1.3.6.1.4.1.45.3.46.*',3,0)\n"
               "INSERT INTO oid_to_type (pair_id,snmp_oid,node_type,node_flags) VALUES (13,'.1.3.6.1.4.1.45.3.52.*',3,0)\n"
               "<END>"),
      OP_CREATE_TABLE("CREATE TABLE clusters (id integer not null,cluster_type integer not null,PRIMARY KEY(id))"),
      OP_CREATE_TABLE("CREATE TABLE cluster_members (cluster_id integer not null,node_id integer not null,PRIMARY KEY(cluster_id,node_id))"),
      OP_CREATE_TABLE("CREATE TABLE cluster_sync_subnets (cluster_id integer not null,subnet_addr varchar(15) not null,subnet_mask varchar(15) not null,PRIMARY KEY(cluster_id,subnet_addr))"),
      OP_CONFIG(g_config54),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 55);
}

/*** 55 to 56: cluster events, cluster resources ***/

static const EventTemplateRow g_events55[] =
{
   /* code, name, severity, flags, message, description */
   { 38, "SYS_CLUSTER_RESOURCE_MOVED", 1, 1,
     "Cluster resource \"%2\" moved from node %4 to node %6",
     "Generated when cluster resource moved between nodes." EOL
     "Parameters:" EOL
     "   1) Resource ID" EOL
     "   2) Resource name" EOL
     "   3) Previous owner node ID" EOL
     "   4) Previous owner node name" EOL
     "   5) New owner node ID" EOL
     "   6) New owner node name" },
   { 39, "SYS_CLUSTER_RESOURCE_DOWN", 3, 1,
     "Cluster resource \"%2\" is down (last owner was %4)",
     "Generated when cluster resource goes down." EOL
     "Parameters:" EOL
     "   1) Resource ID" EOL
     "   2) Resource name" EOL
     "   3) Last owner node ID" EOL
     "   4) Last owner node name" },
   { 40, "SYS_CLUSTER_RESOURCE_UP", 0, 1,
     "Cluster resource \"%2\" is up (new owner is %4)",
     "Generated when cluster resource goes up." EOL
     "Parameters:" EOL
     "   1) Resource ID" EOL
     "   2) Resource name" EOL
     "   3) New owner node ID" EOL
     "   4) New owner node name" },
   { 41, "SYS_CLUSTER_DOWN", 4, 1,
     "Cluster is down",
     "Generated when cluster goes down." EOL
     "Parameters:" EOL
     "   No message-specific parameters" },
   { 42, "SYS_CLUSTER_UP", 0, 1,
     "Cluster is up",
     "Generated when cluster goes up." EOL
     "Parameters:" EOL
     "   No message-specific parameters" },
};

int UpgradeStep55(void)
{
   static const UpgradeOp ops[] =
   {
      OP_EVENTS(FORM_EVENT_CFG, g_events55),
      OP_CREATE_TABLE("CREATE TABLE cluster_resources (cluster_id integer not null,resource_id integer not null,resource_name varchar(255) not null,ip_addr varchar(15) not null,PRIMARY KEY(cluster_id,resource_id))"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 56);
}

/*** 56 to 57: cluster resource of items, SNMP proxy of nodes ***/

int UpgradeStep56(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE items ADD resource_id integer\n"
               "UPDATE items SET resource_id=0\n"
               "ALTER TABLE nodes ADD snmp_proxy integer\n"
               "UPDATE nodes SET snmp_proxy=0\n"
               "<END>"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 57);
}

/*** 57 to 58: system objects, graphs ***/

int UpgradeStep57(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE object_properties ADD is_system integer\n"
               "UPDATE object_properties SET is_system=0\n"
               "<END>"),
      OP_CREATE_TABLE("CREATE TABLE graphs (graph_id integer not null,owner_id integer not null,name varchar(255) not null,config $SQL:TEXT not null,PRIMARY KEY(graph_id))"),
      OP_CREATE_TABLE("CREATE TABLE graph_acl (graph_id integer not null,user_id integer not null,user_rights integer not null,PRIMARY KEY(graph_id,user_id))"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 58);
}

/*** 58 to 59: certificate mapping of users ***/

static const ConfigParamRow g_config58[] =
{
   { "InternalCA", "0", 1, 1, 0 },
};

int UpgradeStep58(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("ALTER TABLE users ADD cert_mapping_method integer\n"
               "ALTER TABLE users ADD cert_mapping_data $SQL:TEXT\n"
               "UPDATE users SET cert_mapping_method=0\n"
               "UPDATE users SET cert_mapping_data='#00'\n"
               "<END>"),
      OP_CONFIG(g_config58),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 59);
}

/*** 59 to 60: certificates ***/

static const ConfigParamRow g_config59[] =
{
   { "SNMPRequestTimeout", "2000", 1, 1, 0 },
};

int UpgradeStep59(void)
{
   static const UpgradeOp ops[] =
   {
      OP_CREATE_TABLE("CREATE TABLE certificates (cert_id integer not null,cert_type integer not null,cert_data $SQL:TEXT not null,subject $SQL:TEXT not null,comments $SQL:TEXT not null,PRIMARY KEY(cert_id))"),
      OP_CONFIG(g_config59),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 60);
}

/*** 60 to 61: topology, ARP cache and routing table tools ***/

/* The tools and their columns are inserted interleaved: a tool, then its columns. */
static const ObjectToolRow g_tool60_14[] =
{
   { 14, "&Info->Topology table (Nortel)", 2, "Topology table", 1, " ",
     "Show topology table (Nortel protocol)", "#00" },
};

static const ToolColumnRow g_toolColumns60_14[] =
{
   { 14, 0, "Peer IP", ".1.3.6.1.4.1.45.1.6.13.2.1.1.3", 3, 0 },
   { 14, 1, "Peer MAC", ".1.3.6.1.4.1.45.1.6.13.2.1.1.5", 4, 0 },
   { 14, 2, "Slot", ".1.3.6.1.4.1.45.1.6.13.2.1.1.1", 1, 0 },
   { 14, 3, "Port", ".1.3.6.1.4.1.45.1.6.13.2.1.1.2", 1, 0 },
};

static const ObjectToolRow g_tool60_17[] =
{
   { 17, "&Info->AR&P cache (SNMP)", 2, "ARP Cache", 1, " ", "Show ARP cache", "#00" },
};

static const ToolColumnRow g_toolColumns60_17[] =
{
   { 17, 0, "IP Address", ".1.3.6.1.2.1.4.22.1.3", 3, 0 },
   { 17, 1, "MAC Address", ".1.3.6.1.2.1.4.22.1.2", 4, 0 },
   { 17, 2, "Interface", ".1.3.6.1.2.1.4.22.1.1", 5, 0 },
};

static const ObjectToolRow g_tool60_18[] =
{
   { 18, "&Info->AR&P cache (Agent)", 3, "ARP Cache#7FNet.ArpCache#7F(.*) (.*) (.*)", 2, " ",
     "Show ARP cache", "#00" },
};

static const ToolColumnRow g_toolColumns60_18[] =
{
   { 18, 0, "IP Address", ".1.3.6.1.2.1.4.22.1.3", 0, 2 },
   { 18, 1, "MAC Address", ".1.3.6.1.2.1.4.22.1.2", 0, 1 },
   { 18, 2, "Interface", ".1.3.6.1.2.1.4.22.1.1", 5, 3 },
};

static const ObjectToolRow g_tool60_19[] =
{
   { 19, "&Info->&Routing table (SNMP)", 2, "Routing Table", 1, " ", "Show IP routing table", "#00" },
};

static const ToolColumnRow g_toolColumns60_19[] =
{
   { 19, 0, "Destination", ".1.3.6.1.2.1.4.21.1.1", 3, 0 },
   { 19, 1, "Mask", ".1.3.6.1.2.1.4.21.1.11", 3, 0 },
   { 19, 2, "Next hop", ".1.3.6.1.2.1.4.21.1.7", 3, 0 },
   { 19, 3, "Metric", ".1.3.6.1.2.1.4.21.1.3", 1, 0 },
   { 19, 4, "Interface", ".1.3.6.1.2.1.4.21.1.2", 5, 0 },
};

static const ConfigParamRow g_config60[] =
{
   { "TopologyExpirationTime", "900", 1, 0, 0 },
   { "TopologyDiscoveryRadius", "3", 1, 0, 0 },
};

int UpgradeStep60(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("DELETE FROM object_tools WHERE tool_id=14\n"
               "DELETE FROM object_tools_table_columns WHERE tool_id=14\n"
               "<END>"),
      OP_TOOLS(FORM_OBJECT_TOOL, g_tool60_14),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, g_toolColumns60_14),
      OP_TOOLS(FORM_OBJECT_TOOL, g_tool60_17),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, g_toolColumns60_17),
      OP_TOOLS(FORM_OBJECT_TOOL, g_tool60_18),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, g_toolColumns60_18),
      OP_TOOLS(FORM_OBJECT_TOOL, g_tool60_19),
      OP_TOOL_COLUMNS(FORM_TOOL_COLUMN, g_toolColumns60_19),
      OP_BATCH("INSERT INTO object_tools_acl (tool_id,user_id) VALUES (17,-2147483648)\n"
               "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (18,-2147483648)\n"
               "INSERT INTO object_tools_acl (tool_id,user_id) VALUES (19,-2147483648)\n"
               "<END>"),
      OP_CONFIG(g_config60),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 61);
}

/*** 61 to 62: alarm timeouts, log processing policies ***/

static const EventTemplateRow g_events61[] =
{
   { 43, "SYS_ALARM_TIMEOUT", 1, 1,
     "Alarm timeout expired (ID: %1; Text: %2)",
     "Generated when alarm timeout expires." EOL
     "Parameters:" EOL
     "   1) Alarm ID" EOL
     "   2) Alarm message" EOL
     "   3) Alarm key" EOL
     "   4) Event code" },
   { 44, "SYS_LOG_RECORD_MATCHED", 1, 1,
     "Log record matched (Policy: %1; File: %2; Record: %4)",
     "Default event for log record match." EOL
     "Parameters:" EOL
     "   1) Policy name" EOL
     "   2) Log file name" EOL
     "   3) Matching regular expression" EOL
     "   4) Matched record" EOL
     "   5 .. 9) Reserved" EOL
     "   10 .. 99) Substrings extracted by regular expression" },
};

int UpgradeStep61(void)
{
   static const UpgradeOp ops[] =
   {
      OP_BATCH("UPDATE event_policy SET alarm_key=alarm_ack_key WHERE alarm_severity=6\n"
               "ALTER TABLE event_policy DROP COLUMN alarm_ack_key\n"
               "ALTER TABLE event_policy ADD alarm_timeout integer\n"
               "ALTER TABLE event_policy ADD alarm_timeout_event integer\n"
               "UPDATE event_policy SET alarm_timeout=0,alarm_timeout_event=43\n"
               "ALTER TABLE alarms ADD timeout integer\n"
               "ALTER TABLE alarms ADD timeout_event integer\n"
               "UPDATE alarms SET timeout=0,timeout_event=43\n"
               "<END>"),
      OP_EVENTS(FORM_EVENT_CFG, g_events61),
      OP_CREATE_TABLE("CREATE TABLE lpp_groups (lpp_group_id integer not null,lpp_group_name varchar(63) not null,parent_group integer not null,PRIMARY KEY(lpp_group_id))"),
      OP_CREATE_TABLE("CREATE TABLE lpp (lpp_id integer not null,lpp_group_id integer not null,lpp_name varchar(63) not null,lpp_version integer not null,lpp_flags integer not null,PRIMARY KEY(lpp_id))"),
      OP_CREATE_TABLE("CREATE TABLE lpp_associations (lpp_id integer not null,node_id integer not null,log_file varchar(255) not null)"),
      OP_CREATE_TABLE("CREATE TABLE lpp_rulesets (ruleset_id integer not null,ruleset_name varchar(63),PRIMARY KEY(ruleset_id))"),
      OP_CREATE_TABLE("CREATE TABLE lpp_rules (lpp_id integer not null,rule_number integer not null,ruleset_id integer not null,msg_id_start integer not null,msg_id_end integer not null,severity integer not null,source_name varchar(255) not null,msg_text_regexp varchar(255) not null,event_code integer not null,PRIMARY KEY(lpp_id,rule_number))"),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 62);
}

/*** 62 to 63: interface state events ***/

#define INTERFACE_EVENT_PARAMETERS \
   "Please note that source of event is node, not an interface itself." EOL \
   "Parameters:" EOL \
   "   1) Interface object ID" EOL \
   "   2) Interface name" EOL \
   "   3) Interface IP address" EOL \
   "   4) Interface netmask" EOL \
   "   5) Interface index"

static const EventTemplateRow g_events62[] =
{
   { 45, "SYS_IF_UNKNOWN", 1, 1,
     "Interface \"%2\" changed state to UNKNOWN (IP Addr: %3/%4, IfIndex: %5)",
     "Generated when interface goes to unknown state." EOL INTERFACE_EVENT_PARAMETERS },
   { 46, "SYS_IF_DISABLED", 0, 1,
     "Interface \"%2\" disabled (IP Addr: %3/%4, IfIndex: %5)",
     "Generated when interface administratively disabled." EOL INTERFACE_EVENT_PARAMETERS },
   { 47, "SYS_IF_TESTING", 0, 1,
     "Interface \"%2\" is testing (IP Addr: %3/%4, IfIndex: %5)",
     "Generated when interface goes to testing state." EOL INTERFACE_EVENT_PARAMETERS },
};

int UpgradeStep62(void)
{
   static const UpgradeOp ops[] =
   {
      OP_EVENTS(FORM_EVENT_CFG, g_events62),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 63);
}

/*** 63 to 64: object-id mappings of switches ***/

static const OidToTypeRow g_oids63[] =
{
   /* pair_id, snmp_oid, node_type, node_flags */
   { 15, ".1.3.6.1.4.1.45.3.29.*", 3, 0 },
   { 16, ".1.3.6.1.4.1.45.3.41.*", 3, 0 },
   { 17, ".1.3.6.1.4.1.45.3.45.*", 3, 0 },
   { 18, ".1.3.6.1.4.1.45.3.43.*", 3, 0 },
   { 19, ".1.3.6.1.4.1.45.3.57.*", 3, 0 },
   { 20, ".1.3.6.1.4.1.45.3.49.*", 3, 0 },
   { 21, ".1.3.6.1.4.1.45.3.54.*", 3, 0 },
   { 22, ".1.3.6.1.4.1.45.3.63.*", 3, 0 },
   { 23, ".1.3.6.1.4.1.45.3.64.*", 3, 0 },
   { 24, ".1.3.6.1.4.1.45.3.53.*", 3, 0 },
   { 25, ".1.3.6.1.4.1.45.3.59.*", 3, 0 },
   { 26, ".1.3.6.1.4.1.45.3.39.*", 3, 0 },
   { 27, ".1.3.6.1.4.1.45.3.65.*", 3, 0 },
   { 28, ".1.3.6.1.4.1.45.3.66.*", 3, 0 },
   { 29, ".1.3.6.1.4.1.45.3.44.*", 4, 0 },
   { 30, ".1.3.6.1.4.1.45.3.47.*", 4, 0 },
   { 31, ".1.3.6.1.4.1.45.3.48.*", 4, 0 },
};

int UpgradeStep63(void)
{
   static const UpgradeOp ops[] =
   {
      OP_OIDS(FORM_OID_TO_TYPE, g_oids63),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 64);
}

/*** 64 to 65: longer SNMP community strings ***/

/*
 * WidenCommunityColumn - make nodes.community a varchar(127) with the
 * statement of the current syntax.  On PostgreSQL a direct type change is
 * tried first (traced, failure silent) and a column copy is the fallback.
 * SQLite cannot change a column type: only a warning is printed.
 */
static int WidenCommunityColumn(void)
{
   static const char szPgAlter[] = "ALTER TABLE nodes ALTER COLUMN community TYPE varchar(127)";

   switch (g_nDbSyntax)
   {
      case DIALECT_MYSQL:
      case DIALECT_ORACLE:
         return ExecQuery("ALTER TABLE nodes MODIFY community varchar(127)");
      case DIALECT_PGSQL:
         if (g_bTraceQueries)
            ShowTrace(szPgAlter);
         if (DBQuery(g_hDatabase, szPgAlter))
            return 1;
         return RunSqlBatch("ALTER TABLE nodes ADD new_community varchar(127)\n"
                            "UPDATE nodes SET new_community=community\n"
                            "ALTER TABLE nodes DROP COLUMN community\n"
                            "ALTER TABLE nodes RENAME COLUMN new_community TO community\n"
                            "ALTER TABLE nodes ALTER COLUMN community SET NOT NULL\n"
                            "<END>");
      case DIALECT_MSSQL:
         return ExecQuery("ALTER TABLE nodes ALTER COLUMN community varchar(127)");
      case DIALECT_SQLITE:
         ConsolePrintf("WARNING: Due to limitations of SQLite requested operation cannot be completed\n"
                       "You system will still be limited to use SNMP commonity strings not longer than 32 characters.\n");
         return 1;
   }
   ConsolePrintf("INTERNAL ERROR: Unknown database syntax %d\n", (int)g_nDbSyntax);
   return 1;
}

int UpgradeStep64(void)
{
   static const UpgradeOp ops[] =
   {
      OP_ROUTINE(WidenCommunityColumn),
   };
   return RunUpgradeStep(ops, OP_COUNT(ops), 65);
}
