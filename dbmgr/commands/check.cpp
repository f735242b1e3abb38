/*
 * check.cpp - the check command: look for broken references between the
 * server's object and policy tables and repair what the user confirms.
 *
 * The driver refuses a database of another format version, deals with a
 * lock, runs the six stages of checkstages.cpp in a fixed order inside one
 * transaction, and ends with a summary that decides between commit and
 * rollback.  No repair is permanent before the final commit.
 */
#include "../vldbmgr.h"

int g_nErrorsFound = 0;   /* problems found by the stages of this run */
int g_nErrorsFixed = 0;   /* problems the stages counted as corrected */

/*
 * FinishCheck - the summary after the stages: commit when nothing was
 * wrong, roll back silently when nothing was corrected, and otherwise ask
 * before committing the corrections.
 */
static void FinishCheck(void)
{
   if (g_nErrorsFound == 0)
   {
      ConsolePrintf("Database doesn't contain any errors\n");
      DBCommit(g_hDatabase);
      return;
   }

   ConsolePrintf("%d errors was found, %d errors was corrected\n", g_nErrorsFound, g_nErrorsFixed);
   if (g_nErrorsFound == g_nErrorsFixed)
      ConsolePrintf("All errors in database was fixed\n");
   else
      ConsolePrintf("Database still contain errors\n");

   if (g_nErrorsFixed == 0)
   {
      DBRollback(g_hDatabase);
      return;
   }

   ConsolePrintf("Commit changes (Y/N) ");
   if (AskYesNo())
   {
      ConsolePrintf("Committing changes...\n");
      if (DBCommit(g_hDatabase))
         ConsolePrintf("Changes was successfully committed to database\n");
      else
         // The connection is gone or the disk is full: say so, rather than
         // let "completed" suggest the repairs were stored.
         ConsolePrintf("Unable to commit changes; the database keeps its state from before the check\n");
   }
   else
   {
      ConsolePrintf("Rolling back changes...\n");
      if (DBRollback(g_hDatabase))
         ConsolePrintf("All changes made to database was cancelled\n");
   }
}

/*
 * RunCheckCommand - the check command.  Ends with "Database check aborted"
 * when it could not start, "Database check completed" otherwise.
 */
void RunCheckCommand(void)
{
   ConsolePrintf("Checking database:\n");

   if (!RequireCurrentFormatVersion())
   {
      ConsolePrintf("Database check %s\n", "aborted");
      return;
   }

   char szHolder[LOCK_TEXT_SIZE], szInfo[LOCK_TEXT_SIZE];
   if (ReadDatabaseLock(szHolder, szInfo) && !ConfirmForcedUnlock(szHolder, szInfo))
   {
      ConsolePrintf("Database check %s\n", "aborted");
      return;
   }

   /* Every repair must stay undoable until the final question: without a
      transaction they would stand at once, so the check does not start. */
   if (!DBBegin(g_hDatabase))
   {
      ConsolePrintf("ERROR: Cannot begin a transaction, and the check makes no repair outside one\n");
      ConsolePrintf("Database check %s\n", "aborted");
      return;
   }

   VerifyNodeObjects();
   VerifyNodeChildren("interface", "interfaces");
   VerifyNodeChildren("network service", "network_services");
   VerifyClusterMembers();
   VerifyObjectTimestamps();
   VerifyEventPolicy();

   FinishCheck();
   ConsolePrintf("Database check %s\n", "completed");
}
