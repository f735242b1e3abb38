/*
 * checkstages.cpp - the six consistency stages of the check command and the
 * three small lookups that serve them.
 *
 * Each stage prints its stage line, walks one table (its rows fetched whole
 * before the walk), looks up what each row refers to, and for every broken
 * reference counts a problem, asks over the stage line ("\r" first) and runs
 * the repair on yes; EndCheckStage then gives the verdict.  Every select and
 * repair goes through SelectQuery / ExecQuery, so -t traces them and every
 * failure is shown.  The driver (check.cpp) runs all stages inside one
 * transaction, so a stage sees the repairs of the stages before it.
 *
 * Names read from object_properties are printed with ConsoleWriteVisible:
 * they are stored text, and must not be able to steer the terminal.
 */
#include <stdio.h>
#include <time.h>
#include "../vldbmgr.h"

/* Size of an object name as the stages read it. */
#define OBJECT_NAME_SIZE 64

/*
 * The placeholder properties row of an object that has none.  It leaves
 * comments out: on MySQL that column is "text not null" without a default,
 * which the driver's permissive session fills with the empty text.
 */
#define PLACEHOLDER_COLUMNS \
   "INSERT INTO object_properties (object_id,name,status,is_deleted,image_id," \
   "inherit_access_rights,last_modified,status_calc_alg,status_prop_alg,status_fixed_val," \
   "status_shift,status_translation,status_single_threshold,status_thresholds) VALUES "

/*
 * AskAboutNamedObject - print a question that holds a stored name:
 * pszBefore (already formatted), the name shown visibly, then pszAfter; and
 * ask it.  Returns the answer of AskYesNo.
 */
static int AskAboutNamedObject(const char *pszBefore, const char *pszName, const char *pszAfter)
{
   ConsoleWrite(pszBefore);
   ConsoleWriteVisible(pszName);
   ConsoleWrite(pszAfter);
   return AskYesNo();
}

/*
 * RUN_REPAIR - compose a repair statement into pszBuffer (nSize bytes) and
 * run it; non-zero on success.  A statement that does not fit is never
 * sent: FormatSql reports it and it counts as failed.
 */
#define RUN_REPAIR(pszBuffer, nSize, ...) \
   (FormatSql((pszBuffer), (nSize), __VA_ARGS__) && ExecQuery(pszBuffer))

/*** Lookups ***/

/*
 * LookupObjectName - fill pszBuffer (OBJECT_NAME_SIZE characters) with the
 * name of the object, or "<unknown>" when it has no properties row or the
 * select fails.  Returns pszBuffer.
 */
char *LookupObjectName(uint32_t dwObjectId, char *pszBuffer)
{
   char szQuery[256];
   db_result_t hResult = NULL;

   if (FormatSql(szQuery, sizeof(szQuery), "SELECT name FROM object_properties WHERE object_id=%d",
                 (int)dwObjectId))
      hResult = SelectQuery(szQuery);
   if ((hResult != NULL) && (DBGetNumRows(hResult) > 0))
      DBGetField(hResult, 0, 0, pszBuffer, OBJECT_NAME_SIZE);
   else
      snprintf(pszBuffer, OBJECT_NAME_SIZE, "%s", "<unknown>");
   DBFreeResult(hResult);
   return pszBuffer;
}

/*
 * RecordExists - 1 when the select pszQuery returns at least one row; 0
 * when it returns none or fails (the failure has been shown).
 */
int RecordExists(const char *pszQuery)
{
   db_result_t hResult = SelectQuery(pszQuery);
   int bExists = (hResult != NULL) && (DBGetNumRows(hResult) > 0);
   DBFreeResult(hResult);
   return bExists;
}

/* NodeExists - 1 when nodes holds a row with this id; 0 when not, or the select fails. */
int NodeExists(uint32_t dwNodeId)
{
   char szQuery[256];
   if (!FormatSql(szQuery, sizeof(szQuery), "SELECT id FROM nodes WHERE id=%d", (int)dwNodeId))
      return 0;
   return RecordExists(szQuery);
}

/*** Stage 1: node objects ***/

/*
 * DeleteUnlinkedNode - remove a node, its access rights and its properties.
 * Returns 1 when all three statements succeeded.  When the node itself
 * cannot be deleted nothing else is touched: removing the properties of a
 * node that stays would leave it without any.
 */
static int DeleteUnlinkedNode(uint32_t dwId)
{
   char szQuery[1024];
   if (!RUN_REPAIR(szQuery, sizeof(szQuery), "DELETE FROM nodes WHERE id=%d", (int)dwId))
      return 0;
   int bAclOk = RUN_REPAIR(szQuery, sizeof(szQuery), "DELETE FROM acl WHERE object_id=%d", (int)dwId);
   int bPropsOk = RUN_REPAIR(szQuery, sizeof(szQuery), "DELETE FROM object_properties WHERE object_id=%d",
                            (int)dwId);
   return bAclOk && bPropsOk;
}

/*
 * CheckObjectProperties - the properties test of stages 1 to 3 for object
 * dwId, shown to the user as pszKind ("node", "interface", ...).  Reads the
 * name into pszName (OBJECT_NAME_SIZE characters; the empty text when no
 * row was read) and, when pbDeleted is given, the deleted flag.  A missing
 * row is a problem: the placeholder row is offered.  Returns 1 when the row
 * was read, 0 when it is missing or the select failed.
 */
static int CheckObjectProperties(uint32_t dwId, const char *pszKind, char *pszName, int *pbDeleted)
{
   char szQuery[1024];
   int bRead = 0;

   pszName[0] = 0;
   db_result_t hProps = NULL;
   if (FormatSql(szQuery, 256, "SELECT name,is_deleted FROM object_properties WHERE object_id=%d", (int)dwId))
      hProps = SelectQuery(szQuery);
   if (hProps == NULL)
      return 0;
   if (DBGetNumRows(hProps) > 0)
   {
      DBGetField(hProps, 0, 0, pszName, OBJECT_NAME_SIZE);
      if (pbDeleted != NULL)
         *pbDeleted = (DBGetFieldLong(hProps, 0, 1) != 0);
      bRead = 1;
   }
   else
   {
      g_nErrorsFound++;
      ConsolePrintf("\rMissing %s object %d properties. Create? (Y/N) ", pszKind, (int)dwId);
      if (AskYesNo() &&
          RUN_REPAIR(szQuery, sizeof(szQuery), PLACEHOLDER_COLUMNS "(%d,'lost_%s_%d',5,0,0,1,0,0,0,0,0,0,0,'00000000')",
                     (int)dwId, pszKind, (int)dwId))
         g_nErrorsFixed++;
   }
   DBFreeResult(hProps);
   return bRead;
}

/*
 * VerifyNodeObjects - every node needs a properties row, and a live node
 * with a primary address must be linked to a subnet.  The subnet test needs
 * the node's own properties row (its deleted flag and name): a node whose
 * row is missing or unreadable is not tested, so that no node is deleted on
 * the strength of data that could not be read.
 */
void VerifyNodeObjects(void)
{
   char szName[OBJECT_NAME_SIZE];
   char szQuery[1024];

   BeginCheckStage("Checking node objects...");
   db_result_t hNodes = SelectQuery("SELECT id,primary_ip FROM nodes");
   if (hNodes != NULL)
   {
      int nRows = DBGetNumRows(hNodes);
      for (int i = 0; i < nRows; i++)
      {
         uint32_t dwId = DBGetFieldULong(hNodes, i, 0);
         int bDeleted = 0;
         int bHaveProperties = CheckObjectProperties(dwId, "node", szName, &bDeleted);

         if (!bHaveProperties || bDeleted)
            continue;

         db_result_t hLinks = NULL;
         if (FormatSql(szQuery, sizeof(szQuery), "SELECT subnet_id FROM nsmap WHERE node_id=%d", (int)dwId))
            hLinks = SelectQuery(szQuery);
         if (hLinks == NULL)
            continue;
         int bUnlinked = (DBGetNumRows(hLinks) == 0) && (DBGetFieldIPAddr(hNodes, i, 1) != 0);
         DBFreeResult(hLinks);
         if (!bUnlinked)
            continue;

         g_nErrorsFound++;
         snprintf(szQuery, sizeof(szQuery), "\rUnlinked node object %d (\"", (int)dwId);
         if (AskAboutNamedObject(szQuery, szName, "\"). Delete? (Y/N) ") && DeleteUnlinkedNode(dwId))
            g_nErrorsFixed++;
      }
      DBFreeResult(hNodes);
   }
   EndCheckStage();
}

/*** Stages 2 and 3: interfaces and network services ***/

/*
 * VerifyNodeChildren - every object of pszTable (shown to the user as
 * pszKind) needs a properties row and a parent node whose properties row
 * is not marked deleted.
 */
void VerifyNodeChildren(const char *pszKind, const char *pszTable)
{
   char szName[OBJECT_NAME_SIZE];
   char szQuery[1024];

   snprintf(szQuery, sizeof(szQuery), "Checking %s objects...", pszKind);
   BeginCheckStage(szQuery);

   db_result_t hObjects = NULL;
   if (FormatSql(szQuery, sizeof(szQuery), "SELECT id,node_id FROM %s", pszTable))
      hObjects = SelectQuery(szQuery);
   if (hObjects != NULL)
   {
      int nRows = DBGetNumRows(hObjects);
      for (int i = 0; i < nRows; i++)
      {
         uint32_t dwId = DBGetFieldULong(hObjects, i, 0);
         uint32_t dwNodeId = DBGetFieldULong(hObjects, i, 1);

         CheckObjectProperties(dwId, pszKind, szName, NULL);

         db_result_t hParent = NULL;
         if (FormatSql(szQuery, 256, "SELECT name FROM object_properties WHERE object_id=%d AND is_deleted=0",
                       (int)dwNodeId))
            hParent = SelectQuery(szQuery);
         if (hParent == NULL)
            continue;
         int bOrphan = (DBGetNumRows(hParent) == 0);
         DBFreeResult(hParent);
         if (!bOrphan)
            continue;

         g_nErrorsFound++;
         snprintf(szQuery, sizeof(szQuery), "\rUnlinked %s object %d (\"", pszKind, (int)dwId);
         if (AskAboutNamedObject(szQuery, szName, "\"). Delete? (Y/N) ") &&
             RUN_REPAIR(szQuery, 256, "DELETE FROM %s WHERE id=%d", pszTable, (int)dwId))
         {
            /* The object is gone; a properties row left behind is harmless. */
            RUN_REPAIR(szQuery, 256, "DELETE FROM object_properties WHERE object_id=%d", (int)dwId);
            g_nErrorsFixed++;
         }
      }
      DBFreeResult(hObjects);
   }
   EndCheckStage();
}

/*** Stage 4: cluster members ***/

/* VerifyClusterMembers - every cluster member must be an existing node. */
void VerifyClusterMembers(void)
{
   char szName[OBJECT_NAME_SIZE];
   char szQuery[256];

   BeginCheckStage("Checking cluster objects...");
   db_result_t hMembers = SelectQuery("SELECT cluster_id,node_id FROM cluster_members");
   if (hMembers != NULL)
   {
      int nRows = DBGetNumRows(hMembers);
      for (int i = 0; i < nRows; i++)
      {
         uint32_t dwClusterId = DBGetFieldULong(hMembers, i, 0);
         uint32_t dwNodeId = DBGetFieldULong(hMembers, i, 1);
         if (NodeExists(dwNodeId))
            continue;

         g_nErrorsFound++;
         LookupObjectName(dwClusterId, szName);
         char szAfter[128];
         snprintf(szAfter, sizeof(szAfter), " [%d] refers to non-existing node %d. Dereference? (Y/N) ",
                  (int)dwClusterId, (int)dwNodeId);
         if (AskAboutNamedObject("\rCluster object ", szName, szAfter) &&
             RUN_REPAIR(szQuery, sizeof(szQuery), "DELETE FROM cluster_members WHERE cluster_id=%d AND node_id=%d",
                       (int)dwClusterId, (int)dwNodeId))
            g_nErrorsFixed++;
      }
      DBFreeResult(hMembers);
   }
   EndCheckStage();
}

/*** Stage 5: object timestamps ***/

/* VerifyObjectTimestamps - every properties row needs a last_modified other than 0. */
void VerifyObjectTimestamps(void)
{
   char szBuffer[1024];   /* the object's name, then the update */

   BeginCheckStage("Checking object properties...");
   db_result_t hProps = SelectQuery("SELECT object_id,name,last_modified FROM object_properties");
   if (hProps != NULL)
   {
      int nRows = DBGetNumRows(hProps);
      for (int i = 0; i < nRows; i++)
      {
         if (DBGetFieldULong(hProps, i, 2) != 0)
            continue;

         uint32_t dwId = DBGetFieldULong(hProps, i, 0);
         g_nErrorsFound++;
         DBGetField(hProps, i, 1, szBuffer, sizeof(szBuffer));
         char szBefore[64];
         snprintf(szBefore, sizeof(szBefore), "\rObject %d [", (int)dwId);
         if (AskAboutNamedObject(szBefore, szBuffer, "] has invalid timestamp. Correct? (Y/N) ") &&
             RUN_REPAIR(szBuffer, sizeof(szBuffer), "UPDATE object_properties SET last_modified=%ld WHERE object_id=%d",
                       (long)time(NULL), (int)dwId))
            g_nErrorsFixed++;
      }
      DBFreeResult(hProps);
   }
   EndCheckStage();
}

/*** Stage 6: event processing policy ***/

/* The three passes over the policy tables. */
typedef enum
{
   POLICY_SOURCES,
   POLICY_EVENTS,
   POLICY_ACTIONS
} PolicyPass;

/*
 * VerifyPolicyPass - one pass: every value that the policy table names
 * must exist in the table it refers to.
 */
static void VerifyPolicyPass(PolicyPass nPass, const char *pszSelect)
{
   char szQuery[1024];

   db_result_t hRules = SelectQuery(pszSelect);
   if (hRules == NULL)
      return;

   int nRows = DBGetNumRows(hRules);
   for (int i = 0; i < nRows; i++)
   {
      uint32_t dwValue = DBGetFieldULong(hRules, i, 0);
      int bIsGroup = ((dwValue & 0x80000000u) != 0);
      int bComposed;
      switch (nPass)
      {
         case POLICY_SOURCES:
            bComposed = FormatSql(szQuery, sizeof(szQuery),
                                  "SELECT object_id FROM object_properties WHERE object_id=%d", (int)dwValue);
            break;
         case POLICY_EVENTS:
            if (bIsGroup)
               bComposed = FormatSql(szQuery, sizeof(szQuery), "SELECT id FROM event_groups WHERE id=%d",
                                     (int)dwValue);
            else
               bComposed = FormatSql(szQuery, sizeof(szQuery),
                                     "SELECT event_code FROM event_cfg WHERE event_code=%d", (int)dwValue);
            break;
         default:
            bComposed = FormatSql(szQuery, sizeof(szQuery), "SELECT action_id FROM actions WHERE action_id=%d",
                                  (int)dwValue);
            break;
      }
      /* A test that cannot be composed counts as a missing record, like a failed one. */
      if (bComposed && RecordExists(szQuery))
         continue;

      g_nErrorsFound++;
      int bFixed = 0;
      switch (nPass)
      {
         case POLICY_SOURCES:
            ConsolePrintf("\rInvalid object ID %d used. Correct? (Y/N) ", (int)dwValue);
            bFixed = AskYesNo() &&
                     RUN_REPAIR(szQuery, sizeof(szQuery), "DELETE FROM policy_source_list WHERE object_id=%d",
                               (int)dwValue);
            break;
         case POLICY_EVENTS:
            ConsolePrintf("\rInvalid event%s ID 0x%08X used. Correct? (Y/N) ", bIsGroup ? " group" : "",
                          (unsigned int)dwValue);
            bFixed = AskYesNo() &&
                     RUN_REPAIR(szQuery, sizeof(szQuery), "DELETE FROM policy_event_list WHERE event_code=%d",
                               (int)dwValue);
            break;
         default:
            ConsolePrintf("\rInvalid action ID %d used. Correct? (Y/N) ", (int)dwValue);
            bFixed = AskYesNo() &&
                     RUN_REPAIR(szQuery, sizeof(szQuery), "DELETE FROM policy_action_list WHERE action_id=%d",
                               (int)dwValue);
            break;
      }
      if (bFixed)
         g_nErrorsFixed++;
   }
   DBFreeResult(hRules);
}

/*
 * VerifyEventPolicy - the sources, events and actions of the event policy
 * must exist.  One stage line covers the three passes; a pass whose table
 * cannot be read is skipped and the next one runs.
 */
void VerifyEventPolicy(void)
{
   BeginCheckStage("Checking event processing policy...");
   VerifyPolicyPass(POLICY_SOURCES, "SELECT object_id FROM policy_source_list");
   VerifyPolicyPass(POLICY_EVENTS, "SELECT event_code FROM policy_event_list");
   VerifyPolicyPass(POLICY_ACTIONS, "SELECT action_id FROM policy_action_list");
   EndCheckStage();
}
