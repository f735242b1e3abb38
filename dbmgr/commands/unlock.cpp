/*
 * unlock.cpp - the database lock: the lock test shared by check, reindex
 * and unlock, the forced-unlock question, and the unlock command.
 *
 * A server that holds the database writes its name into the config row
 * DBLockStatus ("UNLOCKED" when free) and a further text into DBLockInfo.
 * The tool never takes the lock itself.
 */
#include "../vldbmgr.h"

#include <string.h>

int ReadDatabaseLock(char *pszHolder, char *pszInfo)
{
   pszHolder[0] = 0;
   pszInfo[0] = 0;
   if (ProbeConfigValue("SELECT var_value FROM config WHERE var_name='DBLockStatus'", pszHolder, LOCK_TEXT_SIZE) != 1)
   {
      pszHolder[0] = 0;
      return 0;
   }
   if (strcmp(pszHolder, "UNLOCKED") == 0)
      return 0;
   if (ProbeConfigValue("SELECT var_value FROM config WHERE var_name='DBLockInfo'", pszInfo, LOCK_TEXT_SIZE) != 1)
      pszInfo[0] = 0;
   return 1;
}

/* "Database is locked by server %s [%s]\n", with stored texts shown safely. */
static void ShowLockHolder(const char *pszHolder, const char *pszInfo)
{
   ConsoleWrite("Database is locked by server ");
   ConsoleWriteVisible(pszHolder);
   ConsoleWrite(" [");
   ConsoleWriteVisible(pszInfo);
   ConsoleWrite("]\n");
}

int ConfirmForcedUnlock(const char *pszHolder, const char *pszInfo)
{
   ShowLockHolder(pszHolder, pszInfo);
   ConsoleWrite("Do you wish to force database unlock? (Y/N) ");
   if (!AskYesNo())
      return 0;
   if (!ExecQuery("UPDATE config SET var_value='UNLOCKED' where var_name='DBLockStatus'"))
      return 0;
   ConsoleWrite("Database lock removed\n");
   return 1;
}

void PrintDatabaseLocked(const char *pszHolder, const char *pszInfo)
{
   ShowLockHolder(pszHolder, pszInfo);
}

void RunUnlockCommand(void)
{
   char szHolder[LOCK_TEXT_SIZE], szInfo[LOCK_TEXT_SIZE];
   if (!ReadDatabaseLock(szHolder, szInfo))
   {
      ConsoleWrite("Database is not locked\n");
      return;
   }
   ConfirmForcedUnlock(szHolder, szInfo);
}
